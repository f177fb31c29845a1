// QZ::StaticText: the fixed texts of one editor (button labels, group
// titles, the banner) laid out once into one vertex buffer and drawn with
// one texture bind in the overlay pass.
//
// Threads: entries are added on the render thread (elements' InitGL and the
// manager's set-up); an entry's visibility is switched from the UI thread
// and its text replaced from any thread while the render thread draws. The
// entry list is written only on the render thread and under `entriesLock`,
// which the other threads take to find an entry; a new text is handed over
// under that lock and laid out by the render thread before its next draw,
// so a frame never draws a half-written entry. Visibility is an atomic
// flag.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gui/toolkit/Effect.h"
#include "gui/toolkit/Fonts.h"
#include "gui/toolkit/Geometry.h"

namespace QZ {

class StaticText : public Effect {
public:
    explicit StaticText(Manager* manager) : Effect(manager) {}

    // render thread (or before the render task starts). colour points at a
    // colour owned by the caller that outlives the editor's GL (the caller's
    // element, or a constant); null draws in white. Returns the entry index.
    int32_t AddText(const std::string& text, float x, float y, const Colour* colour);
    // As AddText, but the text is centred on (cx, cy) in the main font, now
    // and whenever it is replaced.
    int32_t AddCentredText(const std::string& text, float cx, float cy, const Colour* colour);
    // As AddCentredText on the box's centre, but kept inside the box (layout
    // pixels): a text too wide for it starts at its left edge and is cut at
    // its right one.
    int32_t AddBoxedText(const std::string& text, const Box& box, const Colour* colour);
    // Any thread: replaces the entry's text; the render thread lays it out
    // before it draws again. Out-of-range indices are ignored.
    void SetEntryText(int32_t entry, const std::string& text);
    std::string EntryText(int32_t entry) const;
    // Any thread. Out-of-range indices are ignored.
    void SetEntryVisible(int32_t entry, bool visible);
    bool EntryVisible(int32_t entry) const;
    int32_t EntryCount() const;
    // render thread: the entry's first vertex and the vertices it reserved.
    const TextVertex* EntryVertices(int32_t entry, int32_t& count) const;

    // render thread: lays every entry out with the manager's main font.
    void SetUp() override;
    void Draw() override;

private:
    struct Entry {
        std::string text;
        float x = 0, y = 0;
        bool centred = false; // (x, y) is the centre
        bool boxed = false;   // kept inside `box`
        Box box;
        const Colour* colour = nullptr;
        int32_t firstVertex = 0;
        int32_t vertexCount = 0;
        std::atomic<bool> visible{true};
    };

    mutable std::mutex entriesLock;
    std::vector<std::unique_ptr<Entry>> entries;
    // Four vertices per character of every entry; the quads of characters
    // the font lacks stay zeroed and draw nothing.
    std::vector<TextVertex> vertices;
    std::atomic<bool> rebuild{true};
};

} // namespace QZ
