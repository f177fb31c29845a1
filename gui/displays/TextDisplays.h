// Live plug-in state as text: the Follower's frequency with its note and two
// levels, the Trigger's row of small per-channel numbers, the Quantizer's
// note on a one-octave keyboard, and the Learner's view of the learn target's
// OSC addresses with the recent MIDI and OSC messages. The texts themselves
// are made by DisplayText.h; these elements read their inputs, lay the texts
// out and draw them.
//
// Text needs a font: a text display draws with the editor's main font as
// DisplayFont (below) gives it, and draws nothing without one.
//
// Creation (UI thread, while the GUI script builds the editor): each Create
// makes nothing and sets `error` to the text the Lua function raises when the
// display cannot be made. A display made belongs to the manager.
//
// Threads: Update, InitGL and Draw on the render thread, which alone owns the
// texts and layouts. The indicator block is read element by element without a
// lock; the instance registry's lock is taken only when its change count moved
// (see LearnerInfoDisplay), never while text is laid out or drawn.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "gui/displays/DisplayElement.h"
#include "gui/displays/DisplayText.h"
#include "gui/toolkit/Fonts.h"

namespace QZ {

// The font a text display draws with: loaded on the UI thread when the
// display is made ("verdana.ttf" 11 px, as the editors' main font, through
// fontconfig), its glyphs prepared by InitGL on the render thread. Null when
// no font can be loaded; the display then draws nothing.
class DisplayFont {
public:
    DisplayFont();
    FontRecord* Get() const { return record && record->HasFont() ? record.get() : nullptr; }
    float LineHeight() const { return Get() ? record->LineHeight() : 0.0f; }
    // render thread, GL current.
    void InitGL();

private:
    std::unique_ptr<FontRecord> record;
};

// What the text displays share: a rectangle, a font, no input.
class TextDisplay : public DisplayElement {
public:
    void InitGL() override { font.InitGL(); }

protected:
    TextDisplay(Manager* manager, float x, float y, float w, float h) : DisplayElement(manager, x, y, w, h) {}
    static bool HasIndicatorBlock(Manager& manager, const char* function, std::string& error);
    // render thread: lays text out at (x, y) into cache and draws it in the
    // colour set last.
    void DrawText(TextCache& cache, const std::string& text, float x, float y);

    DisplayFont font;
};

// The Follower: "440.0Hz  A 4+0" over "0.250V   0.800" (indicator f32
// elements 28 frequency, 32 and 33 the levels), hidden while the input level
// (element 30) is below 1e-6, red while the overload flag (element 31) is set.
class FollowerInfoDisplay : public TextDisplay {
public:
    // Lua followerInfoDisplay(x, y, w, h).
    static FollowerInfoDisplay* Create(Manager& manager, float x, float y, float w, float h, std::string& error);
    void Draw() override;

private:
    using TextDisplay::TextDisplay;
    bool formatted = false;
    displaytext::FollowerShown shown;
    displaytext::FollowerLines lines;
    TextCache frequencyText, levelText;
};

// A row of up to six signed bytes of the indicator block from byte 40 on
// (the Trigger's per-channel values), one column of "000 " each.
class InfoDisplay : public TextDisplay {
public:
    static constexpr int kFirstByte = 40;
    static constexpr int kMaxEntries = 6;
    // Lua infoDisplay(x, y, w, h, n): n entries, at most six (below 1, none).
    static InfoDisplay* Create(Manager& manager, float x, float y, float w, float h, int32_t n, std::string& error);
    void Draw() override;
    int32_t EntryCount() const { return count; }

private:
    InfoDisplay(Manager* manager, float x, float y, float w, float h, int32_t n);
    int32_t count;
    float columnWidth = 0;
    std::array<uint8_t, kMaxEntries> shownBytes{};
    std::array<std::string, kMaxEntries> texts;
    std::array<TextCache, kMaxEntries> caches;
};

// The Quantizer's current note of channel `index` (indicator i32 element
// 24 + index): "C 4  60" above a one-octave keyboard with the note's key
// marked. A negative note draws nothing.
class QuantizerInfoDisplay : public TextDisplay {
public:
    static constexpr int kNoteElement = 24;
    static constexpr float kKeyboardHeight = 20.0f;
    // Lua quantizerInfoDisplay(x, y, w, h, index), index 0 or 1.
    static QuantizerInfoDisplay* Create(Manager& manager, float x, float y, float w, float h, int32_t index,
                                        std::string& error);
    void Draw() override;

private:
    QuantizerInfoDisplay(Manager* manager, float x, float y, float w, float h, int32_t index);
    int32_t index;
    int32_t shownNote = -1;
    std::string text;
    TextCache noteText;
};

// The Learner: the learn target's three OSC paths and its description, the
// last five control changes any instance received (newest first, each with
// its receiver's name and numbers) and the last five OSC messages of this
// plug-in's OSC server.
//
// The learn target's texts and the control-change lines come from the
// instance registry, whose lock the audio thread takes too: the display
// copies them under that lock only when InstanceRegistry::ChangeCount()
// moved since its last copy, and lays them out after leaving it. A frame in
// which nothing changed takes no registry lock at all.
class LearnerInfoDisplay : public TextDisplay {
public:
    static constexpr int kHistoryLines = 5;
    // Lua learnerInfoDisplay(x, y, w, h).
    static LearnerInfoDisplay* Create(Manager& manager, float x, float y, float w, float h, std::string& error);
    ~LearnerInfoDisplay() override;

    // True while any Learner display exists in the process; the manager then
    // leaves out its own learn information.
    static bool AnyExists() { return existing.load(std::memory_order_acquire) > 0; }

    void Update() override;
    void InitGL() override;
    void Draw() override;

    // render thread (tests read them after frames): what the display shows.
    struct Texts {
        std::string shortPath, compactPath, longPath, description;
        std::array<std::string, kHistoryLines> midi; // newest first; "" for an empty slot
        std::array<std::string, kHistoryLines> osc;  // newest first
    };
    const Texts& Shown() const { return texts; }
    // How many times the registry was read (and its lock taken).
    uint64_t RegistryReads() const { return registryReads.load(std::memory_order_relaxed); }

private:
    LearnerInfoDisplay(Manager* manager, float x, float y, float w, float h);
    void ReadRegistry();
    void ReadOSCHistory();

    static std::atomic<int> existing;

    Texts texts;
    uint64_t seenChangeCount = 0;
    bool registryRead = false;
    std::atomic<uint64_t> registryReads{0};

    struct Label {
        const char* text;
        float x, rows; // rows: lines above y0 + 10
    };
    std::array<TextCache, 6> labelCaches;
    std::array<TextCache, 4> targetCaches;
    std::array<TextCache, kHistoryLines> midiCaches, oscCaches;
};

} // namespace QZ
