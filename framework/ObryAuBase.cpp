#include "framework/ObryAuBase.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

namespace {

bool IsLogarithmic(uint32_t unit, float min, float max)
{
    // A log mapping needs a range on one side of 0; otherwise map linearly.
    return unit == kAudioUnitParameterUnit_Hertz && min > 0 && max > 0;
}

float Clamp01(float v)
{
    if (!(v >= 0.0f))
        return 0.0f; // also NaN
    return v > 1.0f ? 1.0f : v;
}

void CopyText(char* destination, const char* source, size_t size)
{
    size_t length = strnlen(source, size - 1);
    memcpy(destination, source, length);
    destination[length] = 0;
}

// A name of at most `limit` characters that keeps every word's start: the
// name itself when it fits, else each word cut to the longest common length
// that fits ("Output Positive L" -> "OutPosL"), so that names differing only
// in a later word stay apart.
std::string ShortParameterName(std::string_view name, size_t limit)
{
    std::vector<std::string_view> words;
    for (size_t start = 0; start < name.size();) {
        const size_t end = std::min(name.find(' ', start), name.size());
        if (end > start)
            words.push_back(name.substr(start, end - start));
        start = end + 1;
    }
    if (name.size() <= limit)
        return std::string(name);
    size_t cut = 1;
    for (size_t longer = 2;; ++longer) {
        size_t total = 0;
        bool grows = false;
        for (std::string_view word : words) {
            total += std::min(word.size(), longer);
            grows = grows || word.size() >= longer;
        }
        if (!grows || total > limit)
            break;
        cut = longer;
    }
    std::string shortName;
    for (std::string_view word : words)
        shortName += word.substr(0, cut);
    return shortName.substr(0, limit);
}

// The integer value of a bound, when it is one that int32 holds.
bool IntegerBound(float bound, int32_t* value)
{
    if (!(std::fabs(bound) <= 2147483520.0f) || std::floor(bound) != bound)
        return false;
    *value = static_cast<int32_t>(bound);
    return true;
}

} // namespace

float NormalizeParameterValue(uint32_t unit, float min, float max, float real)
{
    if (max == min)
        return 0.0f;
    if (IsLogarithmic(unit, min, max)) {
        if (!(real > 0.0f))
            return 0.0f;
        return Clamp01(static_cast<float>(std::log(real / min) / std::log(max / min)));
    }
    return Clamp01((real - min) / (max - min));
}

float DenormalizeParameterValue(uint32_t unit, float min, float max, float normalized)
{
    const float n = Clamp01(normalized);
    if (IsLogarithmic(unit, min, max)) {
        // exp(log(x)) may land a rounding step outside the range.
        const float v = static_cast<float>(min * std::exp(n * std::log(static_cast<double>(max) / min)));
        const float lo = min < max ? min : max, hi = min < max ? max : min;
        return v < lo ? lo : (v > hi ? hi : v);
    }
    if (unit == kAudioUnitParameterUnit_Indexed || unit == kAudioUnitParameterUnit_Beats)
        return std::floor(min + (max - min) * n + 0.5f);
    return min + (max - min) * n;
}

const char* ParameterUnitLabel(uint32_t unit)
{
    switch (unit) {
    case kAudioUnitParameterUnit_Percent: return "%";
    case kAudioUnitParameterUnit_Seconds: return "seconds";
    case kAudioUnitParameterUnit_Hertz: return "Hz";
    case kAudioUnitParameterUnit_Cents: return "cents";
    case kAudioUnitParameterUnit_Decibels: return "dB";
    case kAudioUnitParameterUnit_Pan: return "L/R";
    case kAudioUnitParameterUnit_BPM: return "BPM";
    case kAudioUnitParameterUnit_Beats: return "beats";
    case kAudioUnitParameterUnit_Milliseconds: return "ms";
    default: return "";
    }
}

void FormatParameterValue(float v, char* text, size_t size)
{
    if (size == 0)
        return;
    int decimals = v < 10 ? 3 : v < 100 ? 2 : v < 1000 ? 1 : 0;
    // to_chars never looks at the locale: 0.25 is "0.250" whatever the host set.
    std::to_chars_result r = std::to_chars(text, text + size - 1, v, std::chars_format::fixed, decimals);
    if (r.ec != std::errc())
        r = std::to_chars(text, text + size - 1, v, std::chars_format::scientific, 3);
    if (r.ec != std::errc()) {
        text[0] = 0;
        return;
    }
    *r.ptr = 0;
}

ObryAuBase::ObryAuBase(audioMasterCallback audioMaster, int32_t numPrograms, int32_t numParams,
                       const ParameterInfo* parameterInfo, ObryProgramFactory factory)
    : AudioEffectX(audioMaster, numPrograms, numParams), parameterInfo(parameterInfo)
{
    programs.reserve(numPrograms);
    try {
        for (int32_t p = 0; p < numPrograms; ++p)
            programs.push_back(factory());
    } catch (...) {
        for (ObryProgram* program : programs)
            delete program;
        throw;
    }
    for (ObryProgram* program : programs) {
        for (int32_t i = 0; i < numParams; ++i)
            program->SetParameter(i, parameterInfo[i].def);
        program->SetName("Defaults");
    }
}

ObryAuBase::~ObryAuBase()
{
    for (ObryProgram* program : programs)
        delete program;
}

float ObryAuBase::GetParameterReal(int32_t index)
{
    if (!IsValidParameterIndex(index))
        return 0.0f;
    return CurrentProgram()->GetParameter(index);
}

void ObryAuBase::setParameter(int32_t index, float normalized)
{
    if (!IsValidParameterIndex(index))
        return;
    const ParameterInfo& info = parameterInfo[index];
    const float real = DenormalizeParameterValue(info.unit, info.min, info.max, normalized);
    CurrentProgram()->SetParameter(index, real);
    if (editor)
        editor->setParameter(index, real);
}

float ObryAuBase::getParameter(int32_t index)
{
    if (!IsValidParameterIndex(index))
        return 0.0f;
    const ParameterInfo& info = parameterInfo[index];
    return NormalizeParameterValue(info.unit, info.min, info.max, CurrentProgram()->GetParameter(index));
}

void ObryAuBase::setProgramName(char* name)
{
    CurrentProgram()->SetName(name);
}

void ObryAuBase::getProgramName(char* name)
{
    CopyText(name, CurrentProgram()->GetName(), kVstMaxProgNameLen);
}

bool ObryAuBase::getProgramNameIndexed(int32_t, int32_t index, char* text)
{
    if (!IsValidProgramIndex(index))
        return false;
    CopyText(text, programs[index]->GetName(), kVstMaxProgNameLen);
    return true;
}

void ObryAuBase::getParameterName(int32_t index, char* text)
{
    if (!IsValidParameterIndex(index)) {
        *text = 0;
        return;
    }
    CopyText(text, parameterInfo[index].name ? parameterInfo[index].name : "", kParameterNameLength + 1);
}

void ObryAuBase::getParameterLabel(int32_t index, char* label)
{
    if (!IsValidParameterIndex(index)) {
        *label = 0;
        return;
    }
    CopyText(label, ParameterUnitLabel(parameterInfo[index].unit), kDisplayTextSize);
}

bool ObryAuBase::getParameterProperties(int32_t index, VstParameterProperties* properties)
{
    if (!IsValidParameterIndex(index) || !properties)
        return false;
    const ParameterInfo& info = parameterInfo[index];
    *properties = VstParameterProperties{};
    const char* name = info.name ? info.name : "";
    CopyText(properties->label, name, sizeof properties->label);
    const std::string shortName = ShortParameterName(name, kParameterShortNameLength);
    CopyText(properties->shortLabel, shortName.c_str(), sizeof properties->shortLabel);

    if (info.unit == kAudioUnitParameterUnit_Boolean) {
        properties->flags |= kVstParameterIsSwitch;
    } else if (info.unit == kAudioUnitParameterUnit_Indexed) {
        // Indexed values are whole numbers from min to max (see
        // DenormalizeParameterValue).
        int32_t low = 0, high = 0;
        if (IntegerBound(info.min, &low) && IntegerBound(info.max, &high) && low < high) {
            properties->flags |= kVstParameterUsesIntegerMinMax;
            properties->minInteger = low;
            properties->maxInteger = high;
        }
    }
    return true;
}

void ObryAuBase::getParameterDisplay(int32_t index, char* text)
{
    *text = 0;
    if (!IsValidParameterIndex(index))
        return;
    const ParameterInfo& info = parameterInfo[index];
    float v = CurrentProgram()->GetParameter(index);
    if (std::isnan(v))
        v = info.min;

    if (info.unit == kAudioUnitParameterUnit_Indexed) {
        CFArray* names = nullptr;
        if (GetParameterValueStrings(0, static_cast<uint32_t>(index), &names) == 0 && names) {
            // An integer part outside the list shows as the number.
            CFString* name = nullptr;
            if (v >= 0 && v < static_cast<float>(names->Count()))
                name = dynamic_cast<CFString*>(names->At(static_cast<size_t>(v)));
            if (name)
                CopyText(text, name->CString(), kDisplayTextSize);
            names->Release();
            if (name)
                return;
        }
    } else if (info.unit == kAudioUnitParameterUnit_Boolean) {
        CopyText(text, v != 0 ? "On" : "Off", kDisplayTextSize);
        return;
    }

    AudioUnitParameterStringFromValue request{static_cast<uint32_t>(index), nullptr, nullptr};
    if (GetProperty(kAudioUnitProperty_ParameterStringFromValue, 0, 0, &request) == 0 && request.outString) {
        CopyText(text, request.outString->CString(), kDisplayTextSize);
        request.outString->Release();
        return;
    }

    if (info.unit == kAudioUnitParameterUnit_Indexed) {
        const float clamped = std::fmax(-9999999.0f, std::fmin(v, 99999999.0f));
        snprintf(text, 9, "%d", static_cast<int>(clamped));
        return;
    }
    if (v >= 0) {
        FormatParameterValue(v, text, kDisplayTextSize);
    } else {
        text[0] = '-';
        FormatParameterValue(-v, text + 1, kDisplayTextSize - 1);
    }
}

bool ObryAuBase::getVendorString(char* text)
{
    CopyText(text, "Ormbury", kVstMaxVendorStrLen);
    return true;
}

int32_t ObryAuBase::GetParameterValueStrings(uint32_t, uint32_t, CFArray**)
{
    return kAudioUnitErr_InvalidParameter;
}

int32_t ObryAuBase::GetProperty(uint32_t, uint32_t, uint32_t, void*)
{
    return kAudioUnitErr_InvalidProperty;
}

int32_t ObryAuBase::GetPropertyInfo(uint32_t, uint32_t, uint32_t, uint32_t*, uint8_t*)
{
    return kAudioUnitErr_InvalidProperty;
}

int32_t ObryAuBase::SetProperty(uint32_t, uint32_t, uint32_t, const void*, uint32_t)
{
    return kAudioUnitErr_InvalidProperty;
}

int32_t ObryAuBase::AddPropertyListener(uint32_t id, PropertyListenerProc callback, void* refcon)
{
    if (!callback)
        return kAudioUnitErr_InvalidParameter;
    std::lock_guard<std::mutex> hold(listenersLock);
    listeners.push_back({id, callback, refcon, std::make_shared<ListenerCall>()});
    return 0;
}

template <class Match>
void ObryAuBase::RemoveListenersWhere(Match match)
{
    std::vector<PropertyListener> removed;
    {
        std::lock_guard<std::mutex> hold(listenersLock);
        for (auto it = listeners.begin(); it != listeners.end();) {
            if (match(*it)) {
                removed.push_back(std::move(*it));
                it = listeners.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Outside the list lock, so a running listener may still add or remove
    // listeners while this waits for it.
    for (PropertyListener& l : removed) {
        std::lock_guard<std::recursive_mutex> wait(l.call->lock);
        l.call->removed = true;
    }
}

int32_t ObryAuBase::RemovePropertyListener(uint32_t id, PropertyListenerProc callback)
{
    RemoveListenersWhere([&](const PropertyListener& l) { return l.id == id && l.callback == callback; });
    return 0;
}

int32_t ObryAuBase::RemovePropertyListener(uint32_t id, PropertyListenerProc callback, void* refcon)
{
    RemoveListenersWhere(
        [&](const PropertyListener& l) { return l.id == id && l.callback == callback && l.refcon == refcon; });
    return 0;
}

void ObryAuBase::SetParameterValue(int32_t index, float real, bool notifyHost)
{
    if (!IsValidParameterIndex(index))
        return;
    const ParameterInfo& info = parameterInfo[index];
    const float normalized = NormalizeParameterValue(info.unit, info.min, info.max, real);
    setParameter(index, normalized);
    if (notifyHost)
        CallHost(audioMasterAutomate, index, 0, nullptr, normalized);
}

int32_t ObryAuBase::SetPropertyAndNotify(uint32_t id, const void* data, uint32_t size)
{
    const int32_t result = SetProperty(id, 0, 0, data, size);
    if (result != 0)
        return result;
    // A listener may add or remove listeners; walk a copy taken under the
    // lock, and skip those removed since.
    std::vector<PropertyListener> current;
    {
        std::lock_guard<std::mutex> hold(listenersLock);
        for (const PropertyListener& l : listeners)
            if (l.id == id)
                current.push_back(l);
    }
    for (const PropertyListener& l : current) {
        std::lock_guard<std::recursive_mutex> calling(l.call->lock);
        if (!l.call->removed)
            l.callback(l.refcon, this, id, 0, 0);
    }
    return 0;
}
