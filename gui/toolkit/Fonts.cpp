#include "gui/toolkit/Fonts.h"

#include <epoxy/gl.h>
#include <FTGL/ftgl.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <unistd.h>

#include "platform/Debug.h"
#include "platform/Dialogs.h"
#include "platform/FileText.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>

namespace QZ {

std::mutex& FontLock()
{
    static std::mutex lock;
    return lock;
}

namespace {

// The largest font file an editor reads (the big CJK families are ~20 MiB).
constexpr size_t kFontFileLimit = size_t{32} << 20;

// A font that was found but cannot be read or used: the person is told in
// a message box (titled "Error", as every load failure is), once a file for
// the session, however many fonts of however many editors name it; the
// debug log keeps which file it was. Any thread (the panel loads its font
// on the render thread).
void ReportUnloadableFont(const std::string& path)
{
    corvane::DebugPrintf("font: cannot load %s\n", path.c_str());
    static std::mutex reportedLock;
    static std::set<std::string> reported;
    {
        // By the file itself: a name relative to another working folder is
        // another file.
        char* resolved = realpath(path.c_str(), nullptr);
        const std::string file = resolved ? resolved : path;
        free(resolved);
        std::lock_guard<std::mutex> hold(reportedLock);
        if (!reported.insert(file).second)
            return;
    }
    corvane::platform::DialogRequest message;
    message.kind = corvane::platform::DialogKind::Message;
    message.title = "Error";
    message.text = "Unable to load font";
    corvane::platform::ShowMessage(message);
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The family a Windows font file name stands for.
std::string FamilyForFileName(const std::string& name)
{
    std::string base = name;
    const size_t slash = base.find_last_of("/\\");
    if (slash != std::string::npos)
        base = base.substr(slash + 1);
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos)
        base = base.substr(0, dot);
    const std::string key = Lower(base);
    static const std::pair<const char*, const char*> kFamilies[] = {
        {"verdana", "DejaVu Sans"},        {"verdanab", "DejaVu Sans"}, {"tahoma", "DejaVu Sans"},
        {"arial", "Liberation Sans"},      {"arialbd", "Liberation Sans"},
        {"times", "Liberation Serif"},     {"cour", "Liberation Mono"},
    };
    for (const auto& [file, family] : kFamilies)
        if (key == file)
            return family;
    return base;
}

bool EndsWithTrueType(const std::string& path)
{
    const std::string lower = Lower(path);
    return lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".ttf") == 0;
}

FT_Face Face(FontRecord& record)
{
    return static_cast<FT_Face>(record.face);
}

// Renders one character into the atlas; caller holds FontLock().
const GlyphCell& GlyphLocked(FontRecord& record, uint32_t code)
{
    auto found = record.glyphs.find(code);
    if (found != record.glyphs.end())
        return found->second;
    GlyphCell& cell = record.glyphs[code];
    FT_Face face = Face(record);
    if (!face)
        return cell;
    const FT_UInt index = FT_Get_Char_Index(face, code);
    if (index == 0 || FT_Load_Glyph(face, index, FT_LOAD_DEFAULT) != 0 ||
        FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0)
        return cell;
    const FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    const int w = static_cast<int>(bitmap.width);
    const int h = static_cast<int>(bitmap.rows);
    constexpr int side = FontRecord::kAtlasSide;
    if (w > side - 2 || h > side - 2)
        return cell;
    if (record.shelfX + w + 1 > side) {
        record.shelfX = 1;
        record.shelfY += record.shelfHeight + 1;
        record.shelfHeight = 0;
    }
    if (record.shelfY + h + 1 > side)
        return cell; // atlas full: the character draws nothing
    for (int row = 0; row < h; ++row) {
        const unsigned char* source = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
        std::memcpy(&record.atlas[static_cast<size_t>(record.shelfY + row) * side + record.shelfX], source,
                    static_cast<size_t>(w));
    }
    cell.valid = true;
    cell.cx = static_cast<float>(slot->bitmap_left);
    cell.cy = static_cast<float>(slot->bitmap_top);
    cell.w = static_cast<float>(w);
    cell.h = static_cast<float>(h);
    cell.s0 = static_cast<float>(record.shelfX) / side;
    cell.t0 = static_cast<float>(record.shelfY) / side;
    cell.s1 = static_cast<float>(record.shelfX + w) / side;
    cell.t1 = static_cast<float>(record.shelfY + h) / side;
    cell.advanceX = static_cast<float>(slot->advance.x) / 64.0f;
    cell.advanceY = static_cast<float>(slot->advance.y) / 64.0f;
    float top = 0;
    for (int i = 0; i < slot->outline.n_points; ++i)
        top = std::max(top, static_cast<float>(slot->outline.points[i].y) / 64.0f);
    cell.top = top;
    record.shelfX += w + 1;
    record.shelfHeight = std::max(record.shelfHeight, h);
    record.atlasDirty = true;
    return cell;
}

float KerningLocked(FontRecord& record, uint32_t left, uint32_t right)
{
    FT_Face face = Face(record);
    if (!face || !FT_HAS_KERNING(face) || right == 0)
        return 0;
    FT_Vector kern{};
    if (FT_Get_Kerning(face, FT_Get_Char_Index(face, left), FT_Get_Char_Index(face, right), FT_KERNING_DEFAULT,
                       &kern) != 0)
        return 0;
    return static_cast<float>(kern.x) / 64.0f;
}

// render thread, GL current
void UploadAtlas(FontRecord& record)
{
    std::lock_guard<std::mutex> hold(FontLock());
    if (!record.atlasDirty && record.texture)
        return;
    if (!record.texture) {
        GLuint name = 0;
        glGenTextures(1, &name);
        record.texture = name;
    }
    glBindTexture(GL_TEXTURE_2D, record.texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, FontRecord::kAtlasSide, FontRecord::kAtlasSide, 0, GL_ALPHA,
                 GL_UNSIGNED_BYTE, record.atlas.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, 0);
    record.atlasDirty = false;
}

} // namespace

void UploadGlyphTexture(FontRecord& record)
{
    if (record.HasFont())
        UploadAtlas(record);
}

void ReleaseGlyphTexture(FontRecord& record)
{
    std::lock_guard<std::mutex> hold(FontLock());
    if (record.texture) {
        GLuint name = record.texture;
        glDeleteTextures(1, &name);
    }
    record.texture = 0;
    record.atlasDirty = true;
}

FontRecord::FontRecord() : atlas(static_cast<size_t>(kAtlasSide) * kAtlasSide, 0) {}

FontRecord::~FontRecord()
{
    // The GL texture goes with the context; FreeType state under the lock.
    std::lock_guard<std::mutex> hold(FontLock());
    if (face)
        FT_Done_Face(static_cast<FT_Face>(face));
    if (library)
        FT_Done_FreeType(static_cast<FT_Library>(library));
    font.reset();
}

bool FindFontFile(const std::string& name, std::string& path)
{
    if (name.empty())
        return false;
    if (access(name.c_str(), R_OK) == 0) {
        path = name;
        return true;
    }
    return FindFamilyFile(FamilyForFileName(name), path);
}

bool FindFamilyFile(const std::string& family, std::string& path)
{
    if (family.empty())
        return false;
    std::lock_guard<std::mutex> hold(FontLock());
    FcPattern* pattern = FcPatternCreate();
    if (!pattern)
        return false;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddString(pattern, FC_FONTFORMAT, reinterpret_cast<const FcChar8*>("TrueType"));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    bool found = false;
    if (match) {
        FcChar8* file = nullptr;
        FcChar8* matchedFamily = nullptr;
        // fontconfig always offers some fallback; only the family asked for counts.
        if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch &&
            FcPatternGetString(match, FC_FAMILY, 0, &matchedFamily) == FcResultMatch &&
            Lower(reinterpret_cast<const char*>(matchedFamily)) == Lower(family) &&
            EndsWithTrueType(reinterpret_cast<const char*>(file)) &&
            access(reinterpret_cast<const char*>(file), R_OK) == 0) {
            path = reinterpret_cast<const char*>(file);
            found = true;
        }
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    return found;
}

void LoadTextureFont(FontRecord& record, const std::string& path, uint32_t size)
{
    size = std::clamp<uint32_t>(size, 1, 256);
    // Read here, never by the libraries from the path: a FIFO or device in
    // a skin's place of a font must not block the editor's thread.
    std::string bytes;
    // (No font file is shorter than its headers; a short string would keep
    // its bytes inside itself, where a move does not take them along.)
    if (corvane::ReadWholeFile(path, kFontFileLimit, bytes) != corvane::FileRead::Ok || bytes.size() < 64) {
        ReportUnloadableFont(path);
        return;
    }
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    {
        std::lock_guard<std::mutex> hold(FontLock());
        auto font = std::make_unique<FTTextureFont>(data, bytes.size());
        FT_Library library = nullptr;
        FT_Face face = nullptr;
        bool ok = font->Error() == 0 && font->FaceSize(size, 72);
        if (ok && FT_Init_FreeType(&library) != 0) {
            library = nullptr;
            ok = false;
        }
        if (ok && (FT_New_Memory_Face(library, data, static_cast<FT_Long>(bytes.size()), 0, &face) != 0 ||
                   FT_Set_Pixel_Sizes(face, 0, size) != 0))
            ok = false;
        if (ok) {
            // The string's buffer moves with it, so the faces keep their bytes.
            record.fileBytes = std::move(bytes);
            record.font = std::move(font);
            record.library = library;
            record.face = face;
            record.size = size;
            record.lineHeight = static_cast<float>(face->size->metrics.height) / 64.0f;
            record.descender = static_cast<float>(face->size->metrics.descender) / 64.0f;
            return;
        }
        if (face)
            FT_Done_Face(face);
        if (library)
            FT_Done_FreeType(library);
    }
    // Outside the font lock: the other editors go on drawing meanwhile.
    ReportUnloadableFont(path);
}

std::unique_ptr<FontRecord> LoadFirstAvailableFont(const std::vector<FontSpec>& specs)
{
    for (const FontSpec& spec : specs) {
        std::string path;
        if (!FindFontFile(spec.name, path))
            continue;
        auto record = std::make_unique<FontRecord>();
        LoadTextureFont(*record, path, spec.size);
        if (record->HasFont())
            return record;
    }
    // None of the fonts asked for is here: the families the setup installs
    // stand in, so that an editor never goes without text.
    if (specs.empty())
        return nullptr;
    for (const char* family : kFallbackFamilies) {
        std::string path;
        if (!FindFamilyFile(family, path))
            continue;
        auto record = std::make_unique<FontRecord>();
        LoadTextureFont(*record, path, specs.front().size);
        if (record->HasFont())
            return record;
    }
    return nullptr;
}

void PreloadGlyphs(FontRecord& record)
{
    if (!record.HasFont())
        return;
    {
        std::lock_guard<std::mutex> hold(FontLock());
        for (uint32_t code = 32; code <= 126; ++code)
            GlyphLocked(record, code);
    }
    UploadAtlas(record);
}

float MeasureText(FontRecord& record, const std::string& text)
{
    if (!record.HasFont())
        return 0;
    std::lock_guard<std::mutex> hold(FontLock());
    float width = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t code = static_cast<unsigned char>(text[i]);
        const uint32_t next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        width += GlyphLocked(record, code).advanceX + KerningLocked(record, code, next);
    }
    return width;
}

void MeasureTextExtent(FontRecord& record, const std::string& text, float& width, float& height)
{
    width = 0;
    height = 0;
    if (!record.HasFont())
        return;
    std::lock_guard<std::mutex> hold(FontLock());
    for (char c : text) {
        const GlyphCell& cell = GlyphLocked(record, static_cast<unsigned char>(c));
        width += cell.advanceX;
        height = std::max(height, cell.top);
    }
}

int LayoutTextQuads(FontRecord& record, std::vector<TextVertex>& vertices, const std::string& text, float x, float y,
                    float* endX)
{
    vertices.clear();
    float penX = x, penY = y;
    if (record.HasFont()) {
        std::lock_guard<std::mutex> hold(FontLock());
        vertices.reserve(text.size() * 4);
        for (size_t i = 0; i < text.size(); ++i) {
            const uint32_t code = static_cast<unsigned char>(text[i]);
            const GlyphCell& cell = GlyphLocked(record, code);
            if (!cell.valid && cell.advanceX == 0)
                continue;
            const uint32_t next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
            if (cell.valid && cell.w > 0 && cell.h > 0) {
                const float qx = std::floor(penX + cell.cx), qy = std::floor(penY + cell.cy);
                vertices.push_back({cell.s0, cell.t0, qx, qy, 0});
                vertices.push_back({cell.s0, cell.t1, qx, qy - cell.h, 0});
                vertices.push_back({cell.s1, cell.t1, qx + cell.w, qy - cell.h, 0});
                vertices.push_back({cell.s1, cell.t0, qx + cell.w, qy, 0});
            }
            penX += cell.advanceX + KerningLocked(record, code, next);
            penY += cell.advanceY;
        }
    }
    if (endX)
        *endX = penX;
    return static_cast<int>(vertices.size());
}

void DrawTextQuads(FontRecord& record, const TextVertex* vertices, int count)
{
    if (!vertices || count <= 0)
        return;
    UploadAtlas(record); // glyphs rendered since the last frame
    glBindTexture(GL_TEXTURE_2D, record.texture);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glInterleavedArrays(GL_T2F_V3F, 0, vertices);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnableClientState(GL_VERTEX_ARRAY);
    glDrawArrays(GL_QUADS, 0, count);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisable(GL_BLEND);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
}

float TextCache::Layout(FontRecord* record, const std::string& newText, float newX, float newY)
{
    if (!record || !record->HasFont())
        return endX;
    if (!laidOut || newText != text || newX != x || newY != y) {
        text = newText;
        x = newX;
        y = newY;
        LayoutTextQuads(*record, vertices, text, x, y, &endX);
        laidOut = true;
    }
    return endX;
}

void TextCache::Draw(FontRecord* record)
{
    if (record && record->HasFont() && !vertices.empty())
        DrawTextQuads(*record, vertices.data(), static_cast<int>(vertices.size()));
}

} // namespace QZ
