#include <epoxy/gl.h>

#include "gui/controls/Renderers.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <set>
#include <string>

#include "gui/toolkit/GLSupport.h"
#include "gui/toolkit/Textures.h"
#include "platform/Debug.h"

namespace QZ {

namespace {

// The arc knob: the vertex colour's red, green and blue are doubled, so the
// colour bytes (written at half scale on this path) can brighten the image.
const char* kArcVertexShader = "varying vec2 uv;\n"
                               "varying vec4 colour;\n"
                               "void main()\n"
                               "{\n"
                               "    gl_Position = ftransform();\n"
                               "    uv = gl_MultiTexCoord0.st;\n"
                               "    colour = vec4(gl_Color.rgb * 2.0, gl_Color.a);\n"
                               "}\n";
const char* kArcFragmentShader = "uniform sampler2D tex;\n"
                                 "varying vec2 uv;\n"
                                 "varying vec4 colour;\n"
                                 "void main()\n"
                                 "{\n"
                                 "    gl_FragColor = colour * texture2D(tex, uv);\n"
                                 "}\n";

const char* kTextureVertexShader = "varying vec2 uv;\n"
                                   "void main()\n"
                                   "{\n"
                                   "    gl_Position = ftransform();\n"
                                   "    uv = gl_MultiTexCoord0.st;\n"
                                   "}\n";
const char* kTextureFragmentShader = "uniform sampler2D tex;\n"
                                     "varying vec2 uv;\n"
                                     "void main()\n"
                                     "{\n"
                                     "    gl_FragColor = texture2D(tex, uv);\n"
                                     "}\n";

// The slider thumb lit from GL light 1 through its normal map; the vertex
// normal's x and y turn the map's normals.
const char* kSliderVertexShader = "varying vec2 uv;\n"
                                  "varying vec2 turn;\n"
                                  "varying vec3 toLight;\n"
                                  "void main()\n"
                                  "{\n"
                                  "    gl_Position = ftransform();\n"
                                  "    uv = gl_MultiTexCoord0.st;\n"
                                  "    turn = gl_Normal.xy;\n"
                                  "    vec4 eye = gl_ModelViewMatrix * gl_Vertex;\n"
                                  "    toLight = gl_LightSource[1].position.xyz - eye.xyz;\n"
                                  "}\n";
const char* kSliderFragmentShader =
    "uniform sampler2D tex;\n"
    "uniform sampler2D normalMap;\n"
    "varying vec2 uv;\n"
    "varying vec2 turn;\n"
    "varying vec3 toLight;\n"
    "void main()\n"
    "{\n"
    "    vec4 texel = texture2D(tex, uv);\n"
    "    vec3 n = texture2D(normalMap, uv).xyz * 2.0 - 1.0;\n"
    "    n = mat3(vec3(turn.x, turn.y, 0.0), vec3(-turn.y, turn.x, 0.0), vec3(0.0, 0.0, 1.0)) * n;\n"
    "    float dist = length(toLight);\n"
    "    vec3 l = dist > 0.0 ? toLight / dist : vec3(0.0, 0.0, 1.0);\n"
    "    vec3 h = normalize(l + vec3(0.0, 0.0, 1.0));\n"
    "    float d = 300.0 * max(dot(n, l), 0.0) / (300.0 + dist) + 0.4;\n"
    "    float s = 0.5 * pow(max(0.0, dot(n, h)), 10.0);\n"
    "    gl_FragColor = vec4(texel.rgb * d + vec3(0.6, 0.6, 0.8) * s, texel.a);\n"
    "}\n";

// Logs a driver message once per kind of program per process.
void LogOnce(const char* what, const char* stage, const std::string& message)
{
    static std::mutex mutex;
    static std::set<std::string> logged;
    {
        std::lock_guard<std::mutex> hold(mutex);
        if (!logged.insert(std::string(what) + stage).second)
            return;
    }
    corvane::DebugPrintf("editor: the %s shader failed to %s; drawing without it: %s\n", what, stage,
                         message.c_str());
}

std::string InfoLog(GLhandleARB object)
{
    GLint length = 0;
    glGetObjectParameterivARB(object, GL_OBJECT_INFO_LOG_LENGTH_ARB, &length);
    if (length <= 0)
        return {};
    std::string text(static_cast<size_t>(std::min(length, 4096)), '\0');
    GLsizei written = 0;
    glGetInfoLogARB(object, static_cast<GLsizei>(text.size()), &written, text.data());
    text.resize(static_cast<size_t>(std::max(0, std::min<GLsizei>(written, static_cast<GLsizei>(text.size())))));
    return text;
}

bool Compile(GLhandleARB shader, const char* source, const char* what)
{
    glShaderSourceARB(shader, 1, &source, nullptr);
    glCompileShaderARB(shader);
    GLint ok = 0;
    glGetObjectParameterivARB(shader, GL_OBJECT_COMPILE_STATUS_ARB, &ok);
    if (!ok)
        LogOnce(what, "compile", InfoLog(shader));
    return ok != 0;
}

bool HaveTexture(const TextureRecord* texture)
{
    return texture && texture->texture != 0 && texture->width > 0 && texture->height > 0;
}

void BeginBatch()
{
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.0f);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(1, 1, 1, 1);
}

void EndBatch(bool shader)
{
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
    if (shader)
        glUseProgramObjectARB(0);
    glDisable(GL_BLEND);
    glDisable(GL_ALPHA_TEST);
}

// One glDrawArrays per run of consecutive visible records.
template <class Records>
void DrawRuns(const Records& records, GLenum mode, int perRecord)
{
    int runStart = -1;
    const int count = static_cast<int>(records.size());
    for (int i = 0; i <= count; ++i) {
        const bool visible = i < count && records[static_cast<size_t>(i)].visible.load(std::memory_order_relaxed);
        if (visible && runStart < 0)
            runStart = i;
        if (!visible && runStart >= 0) {
            glDrawArrays(mode, runStart * perRecord, (i - runStart) * perRecord);
            runStart = -1;
        }
    }
}

} // namespace

// ShaderProgram

bool ShaderProgram::Build(const char* vertexSource, const char* fragmentSource, const char* what)
{
    Release();
    const GLhandleARB vertex = glCreateShaderObjectARB(GL_VERTEX_SHADER_ARB);
    const GLhandleARB fragment = glCreateShaderObjectARB(GL_FRAGMENT_SHADER_ARB);
    vertexShader = vertex;
    fragmentShader = fragment;
    if (!vertex || !fragment || !Compile(vertex, vertexSource, what) || !Compile(fragment, fragmentSource, what)) {
        Release();
        return false;
    }
    const GLhandleARB linked = glCreateProgramObjectARB();
    program = linked;
    if (!linked) {
        Release();
        return false;
    }
    glAttachObjectARB(linked, vertex);
    glAttachObjectARB(linked, fragment);
    glLinkProgramARB(linked);
    GLint ok = 0;
    glGetObjectParameterivARB(linked, GL_OBJECT_LINK_STATUS_ARB, &ok);
    if (!ok) {
        LogOnce(what, "link", InfoLog(linked));
        Release();
        return false;
    }
    return true;
}

void ShaderProgram::Release()
{
    if (program) {
        if (vertexShader)
            glDetachObjectARB(program, vertexShader);
        if (fragmentShader)
            glDetachObjectARB(program, fragmentShader);
        glDeleteObjectARB(program);
    }
    if (vertexShader)
        glDeleteObjectARB(vertexShader);
    if (fragmentShader)
        glDeleteObjectARB(fragmentShader);
    vertexShader = fragmentShader = program = 0;
}

// KnobRendererBase

int32_t KnobRendererBase::AddRecord()
{
    records.emplace_back();
    return static_cast<int32_t>(records.size()) - 1;
}

KnobRecord* KnobRendererBase::Record(int32_t index)
{
    if (index < 0 || index >= RecordCount())
        return nullptr;
    return &records[static_cast<size_t>(index)];
}

void KnobRendererBase::SetVisible(int32_t index, bool visible)
{
    if (KnobRecord* record = Record(index))
        record->visible.store(visible ? 1 : 0, std::memory_order_relaxed);
}

// ArcKnobRenderer

ArcKnobRenderer::ArcKnobRenderer(Manager* manager, TextureRecord* texture, float faceLeft, float faceTop, float side,
                                 float arcLeft, float arcTop)
    : KnobRendererBase(manager), texture(texture), faceLeft(faceLeft), faceTop(faceTop), side(side),
      arcLeft(arcLeft), arcTop(arcTop)
{
}

ArcKnobRenderer::~ArcKnobRenderer() = default;

void ArcKnobRenderer::SetUp()
{
    if (texture)
        LoadPNGTexture(*texture);
    if (HaveTexture(texture))
        atlas = geometry::MakeArcAtlas(faceLeft, faceTop, side, arcLeft, arcTop, static_cast<float>(texture->width),
                                       static_cast<float>(texture->height));
    if (gl::HasExtension("GL_ARB_vertex_shader") && gl::HasExtension("GL_ARB_fragment_shader") &&
        shaders.Build(kArcVertexShader, kArcFragmentShader, "arc knob")) {
        glUseProgramObjectARB(shaders.program);
        textureLocation = glGetUniformLocationARB(shaders.program, "tex");
        glUseProgramObjectARB(0);
    }
    vertices.assign(records.size() * geometry::kArcKnobVertices, Vertex{});
    for (int32_t i = 0; i < RecordCount(); ++i)
        SetKnobAngle(i, records[static_cast<size_t>(i)].angle);
}

const ArcKnobRenderer::Vertex* ArcKnobRenderer::KnobVertices(int32_t index) const
{
    if (index < 0 || static_cast<size_t>(index + 1) * geometry::kArcKnobVertices > vertices.size())
        return nullptr;
    return &vertices[static_cast<size_t>(index) * geometry::kArcKnobVertices];
}

void ArcKnobRenderer::SetKnobAngle(int32_t index, float angle)
{
    KnobRecord* record = Record(index);
    if (!record || vertices.empty() || angle == record->angle)
        return;
    record->angle = angle;
    geometry::TexturedPoint points[geometry::kArcFaceVertices + geometry::kArcTrackVertices];
    geometry::BuildArcKnob(angle, record->centreX, record->centreY, record->radius, atlas, points);
    Vertex* out = &vertices[static_cast<size_t>(index) * geometry::kArcKnobVertices];
    for (const geometry::TexturedPoint& point : points) {
        out->u = point.u;
        out->v = point.v;
        out->x = point.x;
        out->y = point.y;
        out->z = 0;
        ++out;
    }
}

void ArcKnobRenderer::SetKnobColour(int32_t index, const Colour& colour)
{
    KnobRecord* record = Record(index);
    if (!record || vertices.empty())
        return;
    const Colour& stored = record->colour;
    if (colour.r == stored.r && colour.g == stored.g && colour.b == stored.b && colour.a == stored.a)
        return;
    record->colour = colour;
    const float scale = UsesShaders() ? 127.5f : 255.0f;
    const auto byte = [](float value) {
        if (!(value > 0))
            return uint8_t{0};
        return value >= 255.0f ? uint8_t{255} : static_cast<uint8_t>(value);
    };
    const uint8_t rgba[4] = {byte(scale * colour.r), byte(scale * colour.g), byte(scale * colour.b),
                             byte(255.0f * colour.a)};
    Vertex* out = &vertices[static_cast<size_t>(index) * geometry::kArcKnobVertices];
    for (int i = 0; i < geometry::kArcKnobVertices; ++i)
        std::copy(rgba, rgba + 4, out[i].rgba);
}

void ArcKnobRenderer::Draw()
{
    if (vertices.empty() || !HaveTexture(texture))
        return;
    BeginBatch();
    const bool shader = UsesShaders();
    if (shader != lastEyeCandy) {
        // The colour bytes' scale changed: write every knob's colour again.
        lastEyeCandy = shader;
        for (int32_t i = 0; i < RecordCount(); ++i) {
            KnobRecord& record = records[static_cast<size_t>(i)];
            const Colour colour = record.colour;
            record.colour.r = -1e30f;
            SetKnobColour(i, colour);
        }
    }
    if (shader) {
        glUseProgramObjectARB(shaders.program);
        glActiveTextureARB(GL_TEXTURE0_ARB);
        glBindTexture(GL_TEXTURE_2D, texture->texture);
        glUniform1iARB(textureLocation, 0);
    } else {
        glBindTexture(GL_TEXTURE_2D, texture->texture);
        glEnable(GL_TEXTURE_2D);
    }
    glInterleavedArrays(GL_T2F_C4UB_V3F, 0, vertices.data());
    DrawRuns(records, GL_TRIANGLES, geometry::kArcKnobVertices);
    EndBatch(shader);
}

void ArcKnobRenderer::TearDown()
{
    shaders.Release();
}

// TexturedKnobRenderer

TexturedKnobRenderer::TexturedKnobRenderer(Manager* manager, TextureRecord* texture, float left, float top,
                                           float side)
    : KnobRendererBase(manager), texture(texture), left(left), top(top), side(side)
{
}

TexturedKnobRenderer::~TexturedKnobRenderer() = default;

void TexturedKnobRenderer::SetUp()
{
    if (texture)
        LoadPNGTexture(*texture);
    if (gl::HasExtension("GL_ARB_vertex_shader") && gl::HasExtension("GL_ARB_fragment_shader") &&
        shaders.Build(kTextureVertexShader, kTextureFragmentShader, "textured knob")) {
        glUseProgramObjectARB(shaders.program);
        textureLocation = glGetUniformLocationARB(shaders.program, "tex");
        glUseProgramObjectARB(0);
    }
    const float width = HaveTexture(texture) ? static_cast<float>(texture->width) : 0.0f;
    const float height = HaveTexture(texture) ? static_cast<float>(texture->height) : 0.0f;
    geometry::SpinQuad quad{};
    geometry::BuildSpinKnobTexture(left, top, side, width, height, quad);
    vertices.assign(records.size() * 4, Vertex{});
    for (size_t i = 0; i < records.size(); ++i) {
        // Unturned until the knob's first angle.
        geometry::BuildSpinKnobPositions(0, records[i].centreX, records[i].centreY, records[i].radius, quad);
        for (int k = 0; k < 4; ++k) {
            Vertex& v = vertices[i * 4 + static_cast<size_t>(k)];
            v = Vertex{quad.corner[k].u, quad.corner[k].v, 0, 0, 1, quad.corner[k].x, quad.corner[k].y, 0};
        }
    }
    for (int32_t i = 0; i < RecordCount(); ++i)
        SetKnobAngle(i, records[static_cast<size_t>(i)].angle);
}

void TexturedKnobRenderer::SetKnobAngle(int32_t index, float angle)
{
    KnobRecord* record = Record(index);
    if (!record || vertices.empty() || angle == record->angle)
        return;
    record->angle = angle;
    geometry::SpinQuad quad{};
    geometry::BuildSpinKnobPositions(angle, record->centreX, record->centreY, record->radius, quad);
    for (int k = 0; k < 4; ++k) {
        Vertex& v = vertices[static_cast<size_t>(index) * 4 + static_cast<size_t>(k)];
        v.x = quad.corner[k].x;
        v.y = quad.corner[k].y;
        v.z = 0;
        v.nx = quad.normalX;
        v.ny = quad.normalY;
        v.nz = 0;
    }
}

void TexturedKnobRenderer::Draw()
{
    if (vertices.empty() || !HaveTexture(texture))
        return;
    BeginBatch();
    const bool shader = shaders.program != 0 && Manager::EyeCandyEnabled();
    if (shader) {
        glUseProgramObjectARB(shaders.program);
        glActiveTextureARB(GL_TEXTURE0_ARB);
        glBindTexture(GL_TEXTURE_2D, texture->texture);
        glUniform1iARB(textureLocation, 0);
    } else {
        glBindTexture(GL_TEXTURE_2D, texture->texture);
        glEnable(GL_TEXTURE_2D);
    }
    glInterleavedArrays(GL_T2F_N3F_V3F, 0, vertices.data());
    DrawRuns(records, GL_QUADS, 4);
    EndBatch(shader);
}

void TexturedKnobRenderer::TearDown()
{
    shaders.Release();
}

// TexturedSliderRenderer

TexturedSliderRenderer::TexturedSliderRenderer(Manager* manager, TextureRecord* texture, TextureRecord* normalMap)
    : Effect(manager), texture(texture), normalMap(normalMap)
{
}

TexturedSliderRenderer::~TexturedSliderRenderer() = default;

int32_t TexturedSliderRenderer::AddRecord()
{
    records.emplace_back();
    return static_cast<int32_t>(records.size()) - 1;
}

SliderRecord* TexturedSliderRenderer::Record(int32_t index)
{
    if (index < 0 || index >= RecordCount())
        return nullptr;
    return &records[static_cast<size_t>(index)];
}

void TexturedSliderRenderer::SetVisible(int32_t index, bool visible)
{
    if (SliderRecord* record = Record(index))
        record->visible.store(visible ? 1 : 0, std::memory_order_relaxed);
}

const TexturedSliderRenderer::Vertex* TexturedSliderRenderer::ThumbVertices(int32_t index) const
{
    if (index < 0 || static_cast<size_t>(index + 1) * 4 > vertices.size())
        return nullptr;
    return &vertices[static_cast<size_t>(index) * 4];
}

void TexturedSliderRenderer::SetUp()
{
    if (texture)
        LoadPNGTexture(*texture);
    if (normalMap)
        LoadPNGTexture(*normalMap);
    if (gl::HasExtension("GL_ARB_shader_objects") && gl::HasExtension("GL_ARB_multitexture") &&
        shaders.Build(kSliderVertexShader, kSliderFragmentShader, "slider")) {
        glUseProgramObjectARB(shaders.program);
        textureLocation = glGetUniformLocationARB(shaders.program, "tex");
        normalMapLocation = glGetUniformLocationARB(shaders.program, "normalMap");
        glUseProgramObjectARB(0);
    }
    if (records.empty())
        return;
    const float width = HaveTexture(texture) ? static_cast<float>(texture->width) : 0.0f;
    const float height = HaveTexture(texture) ? static_cast<float>(texture->height) : 0.0f;
    vertices.assign(records.size() * 4, Vertex{});
    for (int32_t i = 0; i < RecordCount(); ++i) {
        SliderRecord& record = records[static_cast<size_t>(i)];
        geometry::ThumbQuad quad{};
        geometry::BuildThumbTexture(record.textureX, record.textureY, record.halfWidth, record.halfHeight, width,
                                    height, quad);
        for (int k = 0; k < 4; ++k) {
            Vertex& v = vertices[static_cast<size_t>(i) * 4 + static_cast<size_t>(k)];
            v.u = quad.corner[k].u;
            v.v = quad.corner[k].v;
            v.nx = quad.normal[k][0];
            v.ny = quad.normal[k][1];
            v.nz = quad.normal[k][2];
        }
        MoveThumb(i, record.x, record.y); // the slider's first Update places it
    }
}

void TexturedSliderRenderer::MoveThumb(int32_t index, float x, float y)
{
    SliderRecord* record = Record(index);
    if (!record || vertices.empty() || (x == record->x && y == record->y))
        return;
    record->x = x;
    record->y = y;
    geometry::ThumbQuad quad{};
    geometry::BuildThumbPositions(x, y, record->halfWidth, record->halfHeight, quad);
    for (int k = 0; k < 4; ++k) {
        Vertex& v = vertices[static_cast<size_t>(index) * 4 + static_cast<size_t>(k)];
        v.x = quad.corner[k].x;
        v.y = quad.corner[k].y;
        v.z = 0;
    }
}

void TexturedSliderRenderer::Draw()
{
    if (vertices.empty() || !HaveTexture(texture))
        return;
    BeginBatch();
    // Without a normal map there is nothing to light the thumb by.
    const bool shader = shaders.program != 0 && Manager::EyeCandyEnabled() && HaveTexture(normalMap);
    if (shader) {
        glUseProgramObjectARB(shaders.program);
        glActiveTextureARB(GL_TEXTURE0_ARB);
        glBindTexture(GL_TEXTURE_2D, texture->texture);
        glUniform1iARB(textureLocation, 0);
        {
            glActiveTextureARB(GL_TEXTURE1_ARB);
            glBindTexture(GL_TEXTURE_2D, normalMap->texture);
            glUniform1iARB(normalMapLocation, 1);
            glActiveTextureARB(GL_TEXTURE0_ARB);
        }
    } else {
        glBindTexture(GL_TEXTURE_2D, texture->texture);
        glEnable(GL_TEXTURE_2D);
    }
    glInterleavedArrays(GL_T2F_N3F_V3F, 0, vertices.data());
    DrawRuns(records, GL_QUADS, 4);
    if (shader) {
        glActiveTextureARB(GL_TEXTURE1_ARB);
        glBindTexture(GL_TEXTURE_2D, 0);
        glActiveTextureARB(GL_TEXTURE0_ARB);
    }
    EndBatch(shader);
}

void TexturedSliderRenderer::TearDown()
{
    shaders.Release();
}

} // namespace QZ
