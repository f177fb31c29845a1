// QZ::StaticText: the fixed texts of one editor (button labels, group
// titles, the banner) laid out once into one vertex buffer and drawn with
// one texture bind in the overlay pass.
//
// Threads: entries are added on the render thread (elements' InitGL and the
// manager's set-up); an entry's visibility is switched from the UI thread
// while the render thread draws. The entry list is written only on the
// render thread and under `entriesLock`, which the UI thread takes to find
// an entry; visibility itself is an atomic flag.
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
    bool rebuild = true;
};

} // namespace QZ
