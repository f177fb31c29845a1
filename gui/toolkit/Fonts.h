// Texture fonts and text layout. FTGL's FTTextureFont loads the face and
// answers for its size and error state; the glyphs themselves are rendered
// with FreeType into the record's own atlas (Debian's FTGL does not expose
// its glyph textures), and every string becomes a run of textured quads.
//
// Threads: font records are made on the UI thread before the render thread
// starts and used by that editor's render thread only. All FreeType work of
// all editors in the process (glyph rendering, measuring, layout) runs under
// FontLock(). Drawing and texture upload need the editor's GL context.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class FTTextureFont;

namespace QZ {

// The process-wide lock that serialises glyph work of every editor.
std::mutex& FontLock();

// One vertex in GL_T2F_V3F order; four per character.
struct TextVertex {
    float s, t, x, y, z;
};

struct GlyphCell {
    bool valid = false;
    float cx = 0, cy = 0; // top-left corner relative to the pen, pixels
    float w = 0, h = 0;
    float s0 = 0, t0 = 0, s1 = 0, t1 = 0;
    float advanceX = 0, advanceY = 0;
    float top = 0; // highest outline point above the baseline
};

struct FontRecord {
    FontRecord();
    ~FontRecord();
    FontRecord(const FontRecord&) = delete;
    FontRecord& operator=(const FontRecord&) = delete;

    bool HasFont() const { return face != nullptr; }
    float LineHeight() const { return lineHeight; }
    float Descender() const { return descender; }

    static constexpr int kAtlasSide = 512;

    // The font file, read once: FTGL and FreeType read their faces from it,
    // so it lives as long as they do (members go in reverse order).
    std::string fileBytes;
    std::unique_ptr<FTTextureFont> font; // what FTGL offers: error state, face size
    void* library = nullptr;             // FT_Library
    void* face = nullptr;                // FT_Face
    uint32_t size = 0;
    float lineHeight = 0, descender = 0;
    // Glyph atlas: one alpha byte per pixel, filled shelf by shelf.
    std::vector<uint8_t> atlas;
    int shelfX = 1, shelfY = 1, shelfHeight = 0;
    bool atlasDirty = true;
    uint32_t texture = 0; // GL name, render thread
    std::map<uint32_t, GlyphCell> glyphs;
};

// A readable path is used as given; otherwise the name (a font file name
// such as "verdana.ttf") is looked up through fontconfig by the family it
// stands for. Only TrueType files are accepted.
bool FindFontFile(const std::string& name, std::string& path);
// The TrueType file of a font family ("DejaVu Sans") through fontconfig;
// false when that family is not installed.
bool FindFamilyFile(const std::string& family, std::string& path);
// Families installed with the module's dependencies, tried in order when
// none of an editor's fonts is found.
inline constexpr const char* kFallbackFamilies[] = {"DejaVu Sans", "Liberation Sans"};
// Loads the font into the record; without success the record has no font.
// size is in pixels (points at 72 dpi), kept within 1 .. 256.
void LoadTextureFont(FontRecord& record, const std::string& path, uint32_t size);

struct FontSpec {
    std::string name;
    uint32_t size = 12;
};
// The first font of the list that loads; when none does, the first fallback
// family that loads, at the first entry's size. Null only for an
// empty list or a machine without any of those fonts.
std::unique_ptr<FontRecord> LoadFirstAvailableFont(const std::vector<FontSpec>& specs);

// Renders glyphs 32..126 into the atlas; render thread, with GL current:
// uploads the atlas.
void PreloadGlyphs(FontRecord& record);
float MeasureText(FontRecord& record, const std::string& text);
void MeasureTextExtent(FontRecord& record, const std::string& text, float& width, float& height);
// Replaces vertices with the quads of text at the pen (x, y); characters
// without a glyph make no quad. Returns the vertex count.
int LayoutTextQuads(FontRecord& record, std::vector<TextVertex>& vertices, const std::string& text, float x, float y,
                    float* endX = nullptr);
// render thread, GL current: brings glyphs rendered since the last upload
// into the font's texture (made on first use).
void UploadGlyphTexture(FontRecord& record);
// render thread, GL current: deletes the font's texture; the glyphs stay and
// are uploaded again by the next context.
void ReleaseGlyphTexture(FontRecord& record);
// render thread, GL current; the caller sets the colour.
void DrawTextQuads(FontRecord& record, const TextVertex* vertices, int count);

// A text laid out again only when it or its position changes.
struct TextCache {
    std::string text;
    float x = 0, y = 0, endX = 0;
    bool laidOut = false;
    std::vector<TextVertex> vertices;

    float Layout(FontRecord* record, const std::string& newText, float newX, float newY);
    void Draw(FontRecord* record);
};

} // namespace QZ
