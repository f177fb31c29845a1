#include "gui/toolkit/StaticText.h"

#include <epoxy/gl.h>

#include <algorithm>

#include "gui/toolkit/GLSupport.h"
#include "gui/toolkit/Manager.h"

namespace QZ {

namespace {

// Room between a boxed text too wide for its box and the box's left edge.
constexpr float kBoxInset = 3;

} // namespace

int32_t StaticText::AddText(const std::string& text, float x, float y, const Colour* colour)
{
    auto entry = std::make_unique<Entry>();
    entry->text = text;
    entry->x = x;
    entry->y = y;
    entry->colour = colour;
    entry->vertexCount = static_cast<int32_t>(text.size() * 4);
    std::lock_guard<std::mutex> hold(entriesLock);
    entries.push_back(std::move(entry));
    rebuild.store(true, std::memory_order_release);
    return static_cast<int32_t>(entries.size() - 1);
}

int32_t StaticText::AddCentredText(const std::string& text, float cx, float cy, const Colour* colour)
{
    const int32_t index = AddText(text, cx, cy, colour);
    std::lock_guard<std::mutex> hold(entriesLock);
    entries[static_cast<size_t>(index)]->centred = true;
    return index;
}

int32_t StaticText::AddBoxedText(const std::string& text, const Box& box, const Colour* colour)
{
    const int32_t index = AddCentredText(text, (box.x0 + box.x1) / 2, (box.y0 + box.y1) / 2, colour);
    std::lock_guard<std::mutex> hold(entriesLock);
    Entry& entry = *entries[static_cast<size_t>(index)];
    entry.boxed = true;
    entry.box = box;
    return index;
}

void StaticText::SetEntryText(int32_t entry, const std::string& text)
{
    std::lock_guard<std::mutex> hold(entriesLock);
    if (entry < 0 || static_cast<size_t>(entry) >= entries.size())
        return;
    entries[static_cast<size_t>(entry)]->text = text;
    rebuild.store(true, std::memory_order_release);
    if (manager)
        manager->RequestRedraw();
}

std::string StaticText::EntryText(int32_t entry) const
{
    std::lock_guard<std::mutex> hold(entriesLock);
    if (entry < 0 || static_cast<size_t>(entry) >= entries.size())
        return {};
    return entries[static_cast<size_t>(entry)]->text;
}

void StaticText::SetEntryVisible(int32_t entry, bool visible)
{
    std::lock_guard<std::mutex> hold(entriesLock);
    if (entry >= 0 && static_cast<size_t>(entry) < entries.size())
        entries[static_cast<size_t>(entry)]->visible.store(visible, std::memory_order_relaxed);
}

bool StaticText::EntryVisible(int32_t entry) const
{
    std::lock_guard<std::mutex> hold(entriesLock);
    return entry >= 0 && static_cast<size_t>(entry) < entries.size() &&
           entries[static_cast<size_t>(entry)]->visible.load(std::memory_order_relaxed);
}

int32_t StaticText::EntryCount() const
{
    std::lock_guard<std::mutex> hold(entriesLock);
    return static_cast<int32_t>(entries.size());
}

const TextVertex* StaticText::EntryVertices(int32_t entry, int32_t& count) const
{
    count = 0;
    if (entry < 0 || static_cast<size_t>(entry) >= entries.size() || rebuild.load(std::memory_order_acquire))
        return nullptr;
    const Entry& e = *entries[static_cast<size_t>(entry)];
    count = e.vertexCount;
    return vertices.data() + e.firstVertex;
}

void StaticText::SetUp()
{
    // Texts handed over from other threads are read under the lock; the
    // counts and vertices are the render thread's own.
    std::lock_guard<std::mutex> hold(entriesLock);
    rebuild.store(false, std::memory_order_release);
    FontRecord* font = manager ? manager->MainFont() : nullptr;
    if (!font || !font->HasFont())
        return;
    size_t total = 0;
    for (const auto& entry : entries) {
        entry->vertexCount = static_cast<int32_t>(entry->text.size() * 4);
        entry->firstVertex = static_cast<int32_t>(total);
        total += static_cast<size_t>(entry->vertexCount);
    }
    vertices.assign(total, TextVertex{});
    std::vector<TextVertex> laidOut;
    for (const auto& entry : entries) {
        float x = entry->x, y = entry->y;
        if (entry->centred) {
            const float width = MeasureText(*font, entry->text);
            x -= width / 2;
            y -= font->LineHeight() / 2 + font->Descender();
            if (entry->boxed && width > entry->box.x1 - entry->box.x0 - 2 * kBoxInset)
                x = entry->box.x0 + kBoxInset;
        }
        LayoutTextQuads(*font, laidOut, entry->text, x, y);
        const size_t n = std::min(laidOut.size(), static_cast<size_t>(entry->vertexCount));
        std::copy_n(laidOut.begin(), n, vertices.begin() + entry->firstVertex);
    }
}

void StaticText::Draw()
{
    FontRecord* font = manager ? manager->MainFont() : nullptr;
    if (!font || !font->HasFont())
        return;
    if (rebuild.load(std::memory_order_acquire))
        SetUp();
    if (vertices.empty())
        return;
    // Glyphs rendered since the last upload (a label with characters
    // outside the preloaded range) reach the texture first.
    UploadGlyphTexture(*font);
    glBindTexture(GL_TEXTURE_2D, font->texture);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glInterleavedArrays(GL_T2F_V3F, 0, vertices.data());
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_VERTEX_ARRAY);
    for (const auto& entry : entries) {
        if (!entry->visible.load(std::memory_order_relaxed) || entry->vertexCount == 0)
            continue;
        const Colour colour = entry->colour ? *entry->colour : Colour{1, 1, 1, 1};
        glColor4f(colour.r, colour.g, colour.b, colour.a);
        if (entry->boxed) {
            const gl::ScopedClip clip(manager->WindowBox(entry->box));
            glDrawArrays(GL_QUADS, entry->firstVertex, entry->vertexCount);
        } else {
            glDrawArrays(GL_QUADS, entry->firstVertex, entry->vertexCount);
        }
    }
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisable(GL_BLEND);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
}

} // namespace QZ
