#include "plugins/learner/ObryCorvaneLearner.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "framework/StateChunk.h"
#include "platform/Clipboard.h"
#include "platform/Debug.h"
#include "platform/MessageBox.h"
#include "plugins/common/OffValueTexts.h"
#include "plugins/common/ValueNames.h"
#include "framework/LearnTargetAddress.h"

namespace ObryCorvaneLearner {

namespace {

const ParameterInfo kParameters[ObryCorvane::kNumParams] = {
    {"OSC Port Offset", kAudioUnitParameterUnit_Indexed, 0, 100, 0},
    {"Send OSC", kAudioUnitParameterUnit_Indexed, 0, 3, 0},
};

FactoryPresetTable gPresets{{"Defaults", {}}};

constexpr OffValueTexts kOffTexts{ObryCorvane::kOSCPortOffset, -1, -1};

const char* const kSendOSCNames[] = {"Off", "Long", "Compact", "Short"};
SharedValueNames gSendOSCList(kSendOSCNames);

constexpr const char* kRemoveAllTitle = "Remove All Mappings";
constexpr const char* kRemoveAllText = "This will completely remove all currently set up MIDI mappings.\nAre you sure?";

} // namespace

// The Learner registers as a listener last, so that no change is reported
// to a Learner that is not complete.
ObryCorvane::ObryCorvane(audioMasterCallback audioMaster)
    : ObryCorvaneBase(audioMaster, 0, 1, true, vst::FourCC("QZsk"), kOSCPortOffset, 1, &gPresets, kNumParams,
                      kParameters, ObryProgramBasic<kNumParams>::Create)
{
    {
        std::lock_guard<std::mutex> guard(textLock);
        destination = kDefaultDestination;
        sender.SetURL(destination.c_str());
    }
    sender.Start();
    ObryCorvaneBase::Initialize(); // not ours: the sender runs already
    InstanceRegistry::AddListener(this);
}

// The registry may be reporting a change to this Learner on another thread
// right now: leaving the listeners takes the registry lock, so it waits for
// that report to end, and no later one comes. Only then do the members go.
ObryCorvane::~ObryCorvane()
{
    StopListening();
    sender.Stop();
}

void ObryCorvane::StopListening()
{
    InstanceRegistry::RemoveListener(this);
    InstanceRegistry::MarkUnusable(this);
}

int32_t ObryCorvane::Initialize()
{
    {
        std::lock_guard<std::mutex> guard(textLock);
        destination = kDefaultDestination;
        sender.SetURL(destination.c_str());
    }
    sender.Start(); // warns when it runs already
    return ObryCorvaneBase::Initialize();
}

// A closed Learner hears no more changes: with its sender stopped they would
// only fill the ring and report overflows.
void ObryCorvane::Cleanup()
{
    InstanceRegistry::RemoveListener(this);
    NoteStop(sender.Stop(StopTimeLeft()));
    ObryCorvaneBase::Cleanup();
}

// audio thread: the output is silence
void ObryCorvane::Process(float**, float** outputs, int32_t frames)
{
    memset(outputs[0], 0, sizeof(float) * static_cast<size_t>(frames));
}

// ---- parameter changes (registry lock held) ---------------------------------------

void ObryCorvane::ParameterChanged(ObryAuBase* instance, int32_t index, float value)
{
    NotifyParameterChanged(instance, index, value);
}

void ObryCorvane::NotifyParameterChanged(ObryAuBase* instance, int32_t index, float value)
{
    const float mode = GetParameterReal(kSendOSC);
    if (!(mode >= 1.0f && mode < 4.0f))
        return; // Off (or no number)
    char address[OSCSender::kAddressSize];
    if (!BuildParameterAddress(instance, index, static_cast<int32_t>(mode), address, sizeof address))
        return;
    sender.Write(address, value);
}

bool ObryCorvane::BuildParameterAddress(ObryAuBase* instance, int32_t index, int32_t mode, char* address,
                                        size_t size)
{
    InstanceRegistry::Lock lock;
    if (!instance || !address || size == 0 || !InstanceRegistry::LockAndFind(instance, lock))
        return false;
    // Every mode gives the instance its process-wide number when it has none.
    const uint32_t processWide = InstanceRegistry::GlobalNumber(instance);
    int length;
    if (mode == kSendShort) {
        length = snprintf(address, size, "/obry/%u/%d", processWide, index);
    } else {
        const uint32_t perType = InstanceRegistry::InstanceNumber(instance);
        length = snprintf(address, size, "/obry/%s/%u", ObryPropertyText(instance, kObryProperty_ShortName), perType);
        if (length >= 0 && static_cast<size_t>(length) < size) {
            const size_t used = static_cast<size_t>(length);
            if (mode == kSendLong) {
                const std::vector<std::string>& names = ObryOSCParameterNames(instance);
                if (index >= 0 && static_cast<size_t>(index) < names.size())
                    length += snprintf(address + used, size - used, "/%s", names[index].c_str());
            } else {
                length += snprintf(address + used, size - used, "/%d", index);
            }
        }
    }
    return length >= 0 && static_cast<size_t>(length) < size;
}

// ---- properties (host and editor threads) ------------------------------------------

std::string ObryCorvane::Destination() const
{
    std::lock_guard<std::mutex> guard(textLock);
    return destination;
}

int32_t ObryCorvane::GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data)
{
    switch (id) {
    case kObryProperty_IsLearner:
        if (!data)
            return kAudioUnitErr_InvalidProperty;
        *static_cast<uint8_t*>(data) = 1;
        return 0;
    case kObryProperty_OSCDestination: {
        if (!data)
            return kAudioUnitErr_InvalidProperty;
        // At most 256 bytes, whatever changed since the caller asked for the size.
        const std::string text = Destination();
        memcpy(data, text.c_str(), text.size() + 1);
        return 0;
    }
    case kObryProperty_LearnMode:
        if (!data)
            return kAudioUnitErr_InvalidProperty;
        *static_cast<uint8_t*>(data) = InstanceRegistry::IsLearnArmed() ? 1 : 0;
        return 0;
    case kObryProperty_ForgetTargetMapping:
    case kObryProperty_RemoveAllMappings:
    case kObryProperty_CopyOSCAddressLong:
    case kObryProperty_CopyOSCAddressCompact:
    case kObryProperty_CopyOSCAddressShort:
        return kAudioUnitErr_InvalidProperty; // commands: nothing to read
    default:
        return ObryCorvaneBase::GetProperty(id, scope, element, data);
    }
}

int32_t ObryCorvane::GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                                     uint8_t* writable)
{
    uint32_t bytes;
    switch (id) {
    case kObryProperty_OSCDestination: bytes = static_cast<uint32_t>(Destination().size() + 1); break;
    case kObryProperty_LearnMode:
    case kObryProperty_ForgetTargetMapping:
    case kObryProperty_RemoveAllMappings:
    case kObryProperty_CopyOSCAddressLong:
    case kObryProperty_CopyOSCAddressCompact:
    case kObryProperty_CopyOSCAddressShort: bytes = 1; break;
    default: return ObryCorvaneBase::GetPropertyInfo(id, scope, element, size, writable);
    }
    if (size)
        *size = bytes;
    if (writable)
        *writable = 1;
    return 0;
}

int32_t ObryCorvane::SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size)
{
    if (scope != 0)
        return kAudioUnitErr_InvalidProperty;
    switch (id) {
    case kObryProperty_OSCDestination: {
        if (!data && size > 0)
            return kAudioUnitErr_InvalidPropertyValue;
        std::string text;
        if (!ReadPropertyText(data, size, kMaxOSCTextLength, &text))
            return kAudioUnitErr_InvalidPropertyValue;
        std::lock_guard<std::mutex> guard(textLock);
        destination = text;
        sender.SetURL(destination.c_str());
        return 0;
    }
    case kObryProperty_LearnMode:
        if (!data || size < 1)
            return kAudioUnitErr_InvalidPropertyValue;
        InstanceRegistry::SetLearnArmed(*static_cast<const uint8_t*>(data) != 0);
        return 0;
    case kObryProperty_ForgetTargetMapping: {
        InstanceRegistry::Lock lock;
        int32_t index = -1;
        if (ObryAuBase* target = InstanceRegistry::LockAndFindLearnTarget(&index, lock)) {
            InstanceRegistry::ResolvePendingMappings();
            InstanceRegistry::RemoveMapping(target, index);
        }
        return 0;
    }
    case kObryProperty_RemoveAllMappings:
        if (corvane::platform::AskYesNo(kRemoveAllTitle, kRemoveAllText) == corvane::platform::MessageBoxAnswer::kYes) {
            // Loading no records clears both mapping tables and the pending list.
            InstanceRegistry::Lock lock(InstanceRegistry::Mutex());
            InstanceRegistry::LoadMappings(StateChunk());
        }
        return 0;
    case kObryProperty_CopyOSCAddressLong:
    case kObryProperty_CopyOSCAddressCompact:
    case kObryProperty_CopyOSCAddressShort: return CopyAddressToClipboard(id);
    default: return ObryCorvaneBase::SetProperty(id, scope, element, data, size);
    }
}

// The editor registers its window's clipboard under this plug-in while the
// window is open; without an open window nothing is copied.
int32_t ObryCorvane::CopyAddressToClipboard(uint32_t id)
{
    const std::shared_ptr<corvane::platform::Clipboard> clipboard =
        corvane::platform::ClipboardFor(static_cast<ObryCorvaneBase*>(this));
    if (!clipboard) {
        corvane::DebugPrintf("Learner: no editor window is open; nothing copied to the clipboard\n");
        return 0;
    }
    const LearnTargetAddressTexts texts = BuildLearnTargetAddressTexts();
    if (!texts.hasTarget)
        return 0;
    const std::string& text = id == kObryProperty_CopyOSCAddressLong      ? texts.byName
                              : id == kObryProperty_CopyOSCAddressCompact ? texts.byIndex
                                                                          : texts.byNumber;
    clipboard->SetText(text);
    return 0;
}

// ---- state ---------------------------------------------------------------------------

int32_t ObryCorvane::SaveExtraState(StateChunk& chunk)
{
    const std::string text = Destination();
    chunk.AddRecord(kTagIpep, text.c_str(), static_cast<uint32_t>(text.size() + 1));
    InstanceRegistry::Lock lock(InstanceRegistry::Mutex());
    InstanceRegistry::ResolvePendingMappings();
    InstanceRegistry::SaveMappings(chunk);
    return 1;
}

void ObryCorvane::RestoreExtraState(const StateChunk& parsed)
{
    if (const StateChunk::Record* record = parsed.Find(kTagIpep)) {
        const std::string text = StateChunk::ReadString(*record);
        SetPropertyAndNotify(kObryProperty_OSCDestination, text.c_str(), static_cast<uint32_t>(text.size() + 1));
    }
    InstanceRegistry::Lock lock(InstanceRegistry::Mutex());
    InstanceRegistry::LoadMappings(parsed);
}

// ---- value texts (any thread) --------------------------------------------------------

int32_t ObryCorvane::GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray)
{
    if (scope != 0 || index != kSendOSC)
        return kAudioUnitErr_InvalidParameter;
    if (outArray)
        *outArray = gSendOSCList.Acquire();
    return 0;
}

uint32_t ObryCorvane::GetParameterFlags(int32_t index)
{
    return kOffTexts.Flags(index);
}

bool ObryCorvane::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    return kOffTexts.StringFromValue(*this, request);
}

} // namespace ObryCorvaneLearner
