// Renderers: GL drawing objects that draw every knob or slider thumb of one
// kind in one batch (one vertex array, one texture, one draw call per run of
// visible widgets). A widget only keeps a record in its renderer up to date.
//
//   ArcKnobRenderer        knobs as a swept arc built from two images of an
//                          atlas (the face, turned, and the arc, fixed)
//   TexturedKnobRenderer   knobs as a turning textured square
//   TexturedSliderRenderer slider thumbs as textured squares, lit through a
//                          normal map
//
// Ownership: the manager owns a renderer once given it (adoptRenderer); the
// renderer does not own its textures (the manager's texture records).
//
// Threads: records are appended on the UI thread while the editor's element
// tree is built, before the render task starts; everything else runs on the
// render thread, except the visible byte, which the UI thread may set at any
// time (groups shown and hidden from a script).
//
// The shader path is taken when the driver compiled and linked the program
// and "Enable eye candy" is on (read every frame); otherwise the same
// vertices are drawn with plain texturing. A program that fails to compile
// or link is logged once and not used.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

#include "gui/controls/KnobGeometry.h"
#include "gui/toolkit/Effect.h"
#include "gui/toolkit/Geometry.h"
#include "gui/toolkit/Manager.h"

namespace QZ {

struct TextureRecord;

// The GL names of one shader program.
struct ShaderProgram {
    uint32_t vertexShader = 0;
    uint32_t fragmentShader = 0;
    uint32_t program = 0; // 0: none (fixed-function path)

    // render thread: compiles and links; on failure logs the driver's message
    // (once per `what` text per process), deletes what was made and leaves
    // program 0. True when linked.
    bool Build(const char* vertexSource, const char* fragmentSource, const char* what);
    // render thread: detaches and deletes everything.
    void Release();
};

// One knob's state in its renderer.
struct KnobRecord {
    Colour colour{1e6f, 1e6f, 1e6f, 1e6f};
    float centreX = 0, centreY = 0;
    float radius = 0;
    float angle = 1e6f;
    std::atomic<uint8_t> visible{1};
};

// One slider thumb's state.
struct SliderRecord {
    float x = 1e6f, y = 1e6f;               // thumb centre, window pixels
    float halfWidth = 0, halfHeight = 0;     // pixels, also texture pixels
    float textureX = 0, textureY = 0;        // thumb image centre, texture pixels
    std::atomic<uint8_t> visible{1};
};

// The records a knob renderer keeps; shared by both knob renderers.
class KnobRendererBase : public Effect {
public:
    using Effect::Effect;

    // UI thread, before the render task: a new record; returns its index.
    int32_t AddRecord();
    KnobRecord* Record(int32_t index);
    int32_t RecordCount() const { return static_cast<int32_t>(records.size()); }
    // Any thread.
    void SetVisible(int32_t index, bool visible);
    // render thread: index out of range does nothing.
    virtual void SetKnobAngle(int32_t index, float angle) = 0;
    virtual void SetKnobColour(int32_t, const Colour&) {}
    // Whether SetUp has made the vertex array.
    virtual bool HasVertexArray() const = 0;

protected:
    std::deque<KnobRecord> records; // never shrinks; deque: records never move
};

class ArcKnobRenderer : public KnobRendererBase {
public:
    // The atlas coordinates in texture pixels: the face's and the arc's
    // top-left corners and their common side length.
    ArcKnobRenderer(Manager* manager, TextureRecord* texture, float faceLeft, float faceTop, float side,
                    float arcLeft, float arcTop);
    ~ArcKnobRenderer() override;

    void SetUp() override;
    void Draw() override;
    void TearDown() override;

    // Rebuilds the knob's vertices when the angle differs from the stored
    // one (and a vertex array exists).
    void SetKnobAngle(int32_t index, float angle) override;
    // Rewrites the knob's vertex colours when the colour differs; on the
    // shader path the colour bytes are at half scale (the shader doubles
    // them), so colours up to 2 brighten the image.
    void SetKnobColour(int32_t index, const Colour& colour) override;
    bool HasVertexArray() const override { return !vertices.empty(); }

    // For tests (render thread): the knob's 33 vertices, or null.
    struct Vertex {
        float u, v;
        uint8_t rgba[4];
        float x, y, z;
    };
    const Vertex* KnobVertices(int32_t index) const;
    bool UsesShaders() const { return shaders.program != 0 && Manager::EyeCandyEnabled(); }
    const geometry::ArcAtlas& Atlas() const { return atlas; }

private:
    TextureRecord* texture;
    float faceLeft, faceTop, side, arcLeft, arcTop;
    geometry::ArcAtlas atlas;
    bool lastEyeCandy = true;
    std::vector<Vertex> vertices; // 33 per knob
    ShaderProgram shaders;
    int32_t textureLocation = -1;
};

class TexturedKnobRenderer : public KnobRendererBase {
public:
    // The knob image at left, top with side `side`, in texture pixels.
    TexturedKnobRenderer(Manager* manager, TextureRecord* texture, float left, float top, float side);
    ~TexturedKnobRenderer() override;

    void SetUp() override;
    void Draw() override;
    void TearDown() override;
    void SetKnobAngle(int32_t index, float angle) override;
    bool HasVertexArray() const override { return !vertices.empty(); }

    struct Vertex {
        float u, v;
        float nx, ny, nz;
        float x, y, z;
    };

private:
    TextureRecord* texture;
    float left, top, side;
    std::vector<Vertex> vertices; // 4 per knob
    ShaderProgram shaders;
    int32_t textureLocation = -1;
};

class TexturedSliderRenderer : public Effect {
public:
    // normalMap may be null.
    TexturedSliderRenderer(Manager* manager, TextureRecord* texture, TextureRecord* normalMap);
    ~TexturedSliderRenderer() override;

    // UI thread, before the render task.
    int32_t AddRecord();
    SliderRecord* Record(int32_t index);
    int32_t RecordCount() const { return static_cast<int32_t>(records.size()); }
    void SetVisible(int32_t index, bool visible);

    void SetUp() override;
    void Draw() override;
    void TearDown() override;

    // render thread: moves the thumb when (x, y) differs from the stored
    // position (and a vertex array exists).
    void MoveThumb(int32_t index, float x, float y);

    struct Vertex {
        float u, v;
        float nx, ny, nz;
        float x, y, z;
    };
    const Vertex* ThumbVertices(int32_t index) const;

private:
    TextureRecord* texture;
    TextureRecord* normalMap;
    std::deque<SliderRecord> records;
    std::vector<Vertex> vertices; // 4 per thumb
    ShaderProgram shaders;
    int32_t textureLocation = -1, normalMapLocation = -1;
};

} // namespace QZ
