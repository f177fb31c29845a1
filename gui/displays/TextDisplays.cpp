#include "gui/displays/TextDisplays.h"

#include <epoxy/gl.h>

#include <cmath>

#include "framework/InstanceRegistry.h"
#include "framework/LearnTargetAddress.h"
#include "framework/ObryAuBase.h"
#include "framework/ObryProperties.h"
#include "scripting/OSCHelper.h"

namespace QZ {

namespace {

// The Follower's indicator f32 elements.
constexpr int kFollowerFrequency = 28, kFollowerInput = 30, kFollowerOverload = 31;
constexpr int kFollowerPitchLevel = 32, kFollowerOutputLevel = 33;
constexpr float kFollowerSilence = 1e-6f;

constexpr uint8_t kControlChange = 0xB0;

void SetTextColour(float r, float g, float b, float a = 1.0f)
{
    draw::SetColour(Colour{r, g, b, a});
}

} // namespace

// DisplayFont

DisplayFont::DisplayFont() : record(LoadFirstAvailableFont({{"verdana.ttf", 11}, {"arial.ttf", 11}})) {}

void DisplayFont::InitGL()
{
    if (Get())
        PreloadGlyphs(*record);
}

// TextDisplay

bool TextDisplay::HasIndicatorBlock(Manager& manager, const char* function, std::string& error)
{
    if (manager.IndicatorBlock())
        return true;
    error = std::string(function) + ": the plug-in has no indicator block";
    return false;
}

void TextDisplay::DrawText(TextCache& cache, const std::string& text, float x, float y)
{
    cache.Layout(font.Get(), text, x, y);
    cache.Draw(font.Get());
}

// FollowerInfoDisplay

FollowerInfoDisplay* FollowerInfoDisplay::Create(Manager& manager, float x, float y, float w, float h,
                                                 std::string& error)
{
    return HasIndicatorBlock(manager, "followerInfoDisplay", error) ? new FollowerInfoDisplay(&manager, x, y, w, h)
                                                                    : nullptr;
}

void FollowerInfoDisplay::Draw()
{
    if (!IsVisible() || !font.Get())
        return;
    const float frequency = Indicator<float>(kFollowerFrequency, 0.0f);
    const float pitchLevel = Indicator<float>(kFollowerPitchLevel, 0.0f);
    const float outputLevel = Indicator<float>(kFollowerOutputLevel, 0.0f);
    const displaytext::FollowerShown now = displaytext::FollowerRounded(frequency, pitchLevel, outputLevel);
    if (!formatted || !(now == shown)) {
        shown = now;
        lines = displaytext::FollowerText(frequency, pitchLevel, outputLevel);
        formatted = true;
    }
    // NaN compares false: a level that is not a number counts as silence.
    if (!(Indicator<float>(kFollowerInput, 0.0f) >= kFollowerSilence))
        return;
    if (Indicator<uint32_t>(kFollowerOverload, 0u) != 0u)
        SetTextColour(1.0f, 0.1f, 0.1f);
    else
        SetTextColour(0.9f, 0.9f, 0.9f);
    DrawText(frequencyText, lines.frequency, rect.x0, rect.y0);
    DrawText(levelText, lines.levels, rect.x0, rect.y0 + font.LineHeight());
}

// InfoDisplay

InfoDisplay* InfoDisplay::Create(Manager& manager, float x, float y, float w, float h, int32_t n,
                                 std::string& error)
{
    return HasIndicatorBlock(manager, "infoDisplay", error) ? new InfoDisplay(&manager, x, y, w, h, n) : nullptr;
}

InfoDisplay::InfoDisplay(Manager* manager, float x, float y, float w, float h, int32_t n)
    : TextDisplay(manager, x, y, w, h), count(displaytext::InfoEntryCount(n))
{
    texts.fill(displaytext::InfoEntryText(0));
}

void InfoDisplay::Draw()
{
    if (!IsVisible() || !font.Get())
        return;
    if (columnWidth == 0.0f)
        columnWidth = MeasureText(*font.Get(), "000 ");
    SetTextColour(0.1f, 0.1f, 0.1f);
    for (int32_t i = 0; i < count; ++i) {
        const auto entry = static_cast<size_t>(i);
        const uint8_t byte = Indicator<uint8_t>(kFirstByte + i, 0);
        if (byte != shownBytes[entry]) {
            shownBytes[entry] = byte;
            texts[entry] = displaytext::InfoEntryText(byte);
        }
        DrawText(caches[entry], texts[entry], rect.x0 + static_cast<float>(i) * columnWidth, rect.y0);
    }
}

// QuantizerInfoDisplay

QuantizerInfoDisplay* QuantizerInfoDisplay::Create(Manager& manager, float x, float y, float w, float h,
                                                   int32_t index, std::string& error)
{
    if (index < 0 || index > 1) {
        error = "infoDisplay index out of range: " + std::to_string(index);
        return nullptr;
    }
    return HasIndicatorBlock(manager, "quantizerInfoDisplay", error)
               ? new QuantizerInfoDisplay(&manager, x, y, w, h, index)
               : nullptr;
}

QuantizerInfoDisplay::QuantizerInfoDisplay(Manager* manager, float x, float y, float w, float h, int32_t index)
    : TextDisplay(manager, x, y, w, h), index(index)
{
}

void QuantizerInfoDisplay::Draw()
{
    if (!IsVisible() || !font.Get())
        return;
    const int32_t note = Indicator<int32_t>(kNoteElement + index, -1);
    if (note != shownNote) {
        shownNote = note;
        text = displaytext::QuantizerText(note);
    }
    if (note < 0)
        return;
    const float lh = font.LineHeight();
    const float keyboardBottom = rect.y0 + lh;
    SetTextColour(0.55f, 0.55f, 0.55f);
    draw::FillBox(rect.x0 - 3.0f, keyboardBottom, rect.x1 + 3.0f, keyboardBottom + kKeyboardHeight);
    SetTextColour(0.9f, 0.9f, 0.9f);
    DrawText(noteText, text, rect.x0, rect.y0);

    const float keyWidth = Width() / 7.0f;
    SetTextColour(0.4f, 0.4f, 0.4f);
    glBegin(GL_LINES);
    for (int k = 0; k <= 7; ++k) {
        const float x = rect.x0 + static_cast<float>(k) * keyWidth;
        glVertex2f(x, keyboardBottom);
        glVertex2f(x, keyboardBottom + kKeyboardHeight);
    }
    glEnd();

    Box mark;
    bool sharp = false;
    if (displaytext::KeyboardMark(note, rect.x0, keyboardBottom, Width(), mark, sharp)) {
        if (sharp)
            SetTextColour(0.0f, 0.0f, 0.0f);
        else
            SetTextColour(0.8f, 0.8f, 0.8f);
        draw::FillBox(mark.x0, mark.y0, mark.x1, mark.y1);
    }
}

// LearnerInfoDisplay

std::atomic<int> LearnerInfoDisplay::existing{0};

LearnerInfoDisplay* LearnerInfoDisplay::Create(Manager& manager, float x, float y, float w, float h,
                                               std::string&)
{
    return new LearnerInfoDisplay(&manager, x, y, w, h);
}

LearnerInfoDisplay::LearnerInfoDisplay(Manager* manager, float x, float y, float w, float h)
    : TextDisplay(manager, x, y, w, h)
{
    existing.fetch_add(1, std::memory_order_acq_rel);
}

LearnerInfoDisplay::~LearnerInfoDisplay()
{
    existing.fetch_sub(1, std::memory_order_acq_rel);
}

void LearnerInfoDisplay::Update()
{
    const uint64_t count = InstanceRegistry::ChangeCount();
    if (!registryRead || count != seenChangeCount) {
        // Read the count first: a change during the copy shows next frame.
        seenChangeCount = count;
        registryRead = true;
        ReadRegistry();
    }
    ReadOSCHistory();
}

void LearnerInfoDisplay::ReadRegistry()
{
    registryReads.fetch_add(1, std::memory_order_relaxed);
    const LearnTargetAddressTexts target = BuildLearnTargetAddressTexts();
    texts.shortPath = target.byNumber;
    texts.compactPath = target.byIndex;
    texts.longPath = target.byName;
    texts.description = target.nameLine;

    RecentControlChange recent[kHistoryLines];
    InstanceRegistry::GetRecentControlChanges(recent);
    struct Receiver {
        std::string name;
        uint32_t perType = 0;
    } receivers[kHistoryLines];
    {
        // Only the names and numbers are copied under the lock.
        InstanceRegistry::Lock lock(InstanceRegistry::Mutex());
        for (int i = 0; i < kHistoryLines; ++i)
            if (recent[i].instanceNumber != 0 && recent[i].status == kControlChange)
                InstanceRegistry::DescribeNumberLocked(recent[i].instanceNumber, receivers[i].name,
                                                       receivers[i].perType);
    }
    for (int i = 0; i < kHistoryLines; ++i) {
        const RecentControlChange& cc = recent[i];
        const auto line = static_cast<size_t>(i);
        if (cc.instanceNumber == 0 || cc.status != kControlChange)
            texts.midi[line].clear();
        else
            texts.midi[line] = displaytext::ControlChangeLine(receivers[i].name, receivers[i].perType,
                                                              cc.instanceNumber, cc.channel, cc.controller,
                                                              cc.value);
    }
}

void LearnerInfoDisplay::ReadOSCHistory()
{
    OSCHelper* helper = nullptr;
    ObryAuBase* plugin = manager ? manager->Plugin() : nullptr;
    if (!plugin || plugin->GetProperty(kObryProperty_OSCHelper, 0, 0, &helper) != 0 || !helper)
        return;
    const int newest = helper->RecentMessageIndex();
    for (int i = 0; i < kHistoryLines; ++i) {
        const int slot = ((newest - i) % OSCHelper::kRecentMessageCount + OSCHelper::kRecentMessageCount) %
                         OSCHelper::kRecentMessageCount;
        texts.osc[static_cast<size_t>(i)] = helper->RecentMessage(slot);
    }
}

void LearnerInfoDisplay::InitGL()
{
    TextDisplay::InitGL();
    const float lh = font.LineHeight();
    const Label labels[] = {{"Short OSC Path", 10, 0},      {"Compact OSC Path", 10, 1},
                            {"Long OSC Path", 10, 2},       {"Active Parameter", 10, 4.5f},
                            {"Message History", 10, 11},    {"OSC Message History", 360, 11}};
    for (size_t i = 0; i < labelCaches.size(); ++i)
        labelCaches[i].Layout(font.Get(), labels[i].text, rect.x0 + labels[i].x, rect.y0 + 10 + labels[i].rows * lh);
}

void LearnerInfoDisplay::Draw()
{
    if (!IsVisible() || !font.Get())
        return;
    const float lh = font.LineHeight();
    const Box window = AbsoluteBox(this);
    glPushAttrib(GL_SCISSOR_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(static_cast<GLint>(std::floor(window.x0)), static_cast<GLint>(std::floor(window.y0)),
              static_cast<GLsizei>(std::max(0.0f, std::ceil(window.x1 - window.x0))),
              static_cast<GLsizei>(std::max(0.0f, std::ceil(window.y1 - window.y0))));
    SetTextColour(0.5f, 0.5f, 0.5f);
    draw::FillBox(rect.x0, rect.y0, rect.x1, rect.y1);

    SetTextColour(0.7f, 0.7f, 0.7f);
    for (TextCache& label : labelCaches)
        label.Draw(font.Get());

    SetTextColour(0.9f, 0.9f, 0.9f);
    const float base = rect.y0 + 10;
    DrawText(targetCaches[0], texts.shortPath, rect.x0 + 160, base);
    DrawText(targetCaches[1], texts.compactPath, rect.x0 + 160, base + lh);
    DrawText(targetCaches[2], texts.longPath, rect.x0 + 160, base + 2 * lh);
    DrawText(targetCaches[3], texts.description, rect.x0 + 10, base + 3.5f * lh);
    for (size_t i = 0; i < kHistoryLines; ++i) {
        const float y = base + (6.0f + static_cast<float>(i)) * lh;
        DrawText(midiCaches[i], texts.midi[i], rect.x0 + 10, y);
        DrawText(oscCaches[i], texts.osc[i], rect.x0 + 360, y);
    }
    glPopAttrib();
}

} // namespace QZ
