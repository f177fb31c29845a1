// Small GL helpers of the editor's render threads.
#pragma once

#include <cstdint>

#include "gui/toolkit/Geometry.h"

namespace QZ::gl {

// Whether the system's GL library (libGL.so.1) loads in this process and
// has every GLX and GL 1.x entry point the editor calls. The module does
// not link it: every GL and GLX call goes through libepoxy, which looks each
// entry point up on its first call and ends the process where it cannot
// (no library, or a library without that function: a stub, or GL's
// dispatch library under that name); no GL or GLX function may be called
// before this said yes. The first call (the first plug-in's start) loads the
// library and keeps it loaded for the rest of the process, and the answer
// too; any thread, never blocks for long.
bool LibraryAvailable();

// Whether the current context answers as a GL context (it names its
// version). Returns 0 when it does, else 1. Render thread, with a current
// context.
uint32_t InitExtensions();

// Whether the driver offers an extension ("GL_EXT_framebuffer_object").
// Only after InitExtensions returned 0 on this thread.
bool HasExtension(const char* name);

// Keeps the GL libraries and the driver that a first context brought in
// loaded for the rest of the process. Drivers are made to be loaded once:
// unloading one when its last X connection closes and loading it again for
// the next editor costs time, leaks what it leaves behind, and risks its
// code generator's process-wide state. Once per process, after a context
// was made; any thread.
void KeepLibrariesLoaded();

// Multiplies the current matrix by a perspective projection: vertical field
// of view in degrees, aspect width/height, near and far distances (> 0).
void SetPerspective(double fieldOfViewDegrees, double aspect, double zNear, double zFar);

// Turns on light 0 with these colours and position (four values each) over
// the given ambient light; lighting itself is left as it is.
void SetLightZero(const float ambient[4], const float diffuse[4], const float specular[4], const float position[4]);

// The rectangle (x0, y0) .. (x1, y1) as one quad, or as a line loop, in the
// current colour.
void FillRect(float x0, float y0, float x1, float y1);
void OutlineRect(float x0, float y0, float x1, float y1);

// Keeps what is drawn inside a box of window pixels (y up) for the object's
// life, and inside the scissor box already in force (a live frame's area);
// the scissor state is put back afterwards. Render thread.
class ScopedClip {
public:
    explicit ScopedClip(const Box& windowBox);
    ~ScopedClip();
    ScopedClip(const ScopedClip&) = delete;
    ScopedClip& operator=(const ScopedClip&) = delete;
};

} // namespace QZ::gl
