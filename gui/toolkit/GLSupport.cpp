#include "gui/toolkit/GLSupport.h"

#include <epoxy/gl.h>

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Debug.h"

namespace QZ::gl {

namespace {

// Every GLX function the editor (the bridge, libepoxy itself) and every GL
// 1.0 to 1.2 function it and FTGL call: libepoxy looks these up by name in
// the library and ends the process when one is missing. Later functions and
// extensions it asks the driver for, through glXGetProcAddressARB. (The
// module's references to libepoxy, "nm -u", list them all.)
constexpr const char* kEntryPoints[] = {
    "glXGetProcAddressARB", "glXQueryExtension", "glXGetCurrentContext", "glXChooseFBConfig",
    "glXGetVisualFromFBConfig", "glXCreateNewContext", "glXMakeContextCurrent", "glXDestroyContext",
    "glXCreatePbuffer", "glXDestroyPbuffer", "glXCreatePixmap", "glXDestroyPixmap", "glXWaitGL",
    "glGetString", "glGetIntegerv", "glGetError", "glGetTexLevelParameteriv", "glIsEnabled", "glEnable",
    "glDisable", "glEnableClientState", "glDisableClientState", "glHint", "glFinish", "glViewport",
    "glDepthRange", "glScissor", "glClear", "glClearColor", "glDrawBuffer", "glReadPixels", "glPixelStorei",
    "glMatrixMode", "glLoadIdentity", "glPushMatrix", "glPopMatrix", "glTranslatef", "glScalef", "glFrustum",
    "glPushAttrib", "glPopAttrib", "glPushClientAttrib", "glPopClientAttrib", "glBegin", "glEnd", "glVertex2f",
    "glVertex3f", "glTexCoord2f", "glColor3f", "glColor4f", "glVertexPointer", "glInterleavedArrays",
    "glDrawArrays", "glGenTextures", "glDeleteTextures", "glBindTexture", "glTexImage2D", "glTexSubImage2D",
    "glTexParameteri", "glTexEnvi", "glBlendFunc", "glAlphaFunc", "glDepthMask", "glCullFace", "glColorMaterial",
    "glMaterialf", "glMaterialfv", "glLightfv", "glLightModelfv",
};

bool HasEntryPoints(void* library)
{
    for (const char* name : kEntryPoints)
        if (!dlsym(library, name)) {
            corvane::DebugPrintf("GL: the GL library has no %s; the plug-ins offer no editor\n", name);
            return false;
        }
    return true;
}

} // namespace

bool LibraryAvailable()
{
    // The library libepoxy takes its GLX functions from (libGLX.so.1 where
    // that loads, else libGL.so.1) and, once it has it, its GL functions
    // too: opened under the same name, so the handle it takes later is this
    // one. Kept open: the answer and the library stay for the rest of the
    // process.
    static const bool available = [] {
        void* library = dlopen("libGLX.so.1", RTLD_LAZY | RTLD_LOCAL);
        if (!library)
            library = dlopen("libGL.so.1", RTLD_LAZY | RTLD_LOCAL);
        return library && HasEntryPoints(library);
    }();
    return available;
}

uint32_t InitExtensions()
{
    return glGetString(GL_VERSION) != nullptr ? 0 : 1;
}

bool HasExtension(const char* name)
{
    return epoxy_has_gl_extension(name);
}

void KeepLibrariesLoaded()
{
    static std::once_flag once;
    std::call_once(once, [] {
        std::vector<std::string> paths;
        dl_iterate_phdr(
            [](dl_phdr_info* info, size_t, void* data) {
                static const char* const kParts[] = {"/libGL.so",    "/libGLX.so", "/libGLX_",    "/libGLdispatch",
                                                     "/libglapi",    "_dri.so",    "/libgallium", "/libLLVM"};
                const char* name = info->dlpi_name;
                if (!name || !*name)
                    return 0;
                for (const char* part : kParts)
                    if (strstr(name, part)) {
                        static_cast<std::vector<std::string>*>(data)->push_back(name);
                        break;
                    }
                return 0;
            },
            &paths);
        // Each handle is kept, never closed: the library stays.
        for (const std::string& path : paths)
            (void)dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    });
}

void SetPerspective(double fieldOfViewDegrees, double aspect, double zNear, double zFar)
{
    if (!(aspect > 0) || !(zNear > 0) || !(zFar > zNear) || !std::isfinite(zFar))
        return;
    const double top = zNear * std::tan(fieldOfViewDegrees * M_PI / 360.0);
    const double right = top * aspect;
    glFrustum(-right, right, -top, top, zNear, zFar);
}

void SetLightZero(const float ambient[4], const float diffuse[4], const float specular[4], const float position[4])
{
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glEnable(GL_LIGHT0);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, specular);
    glLightfv(GL_LIGHT0, GL_POSITION, position);
}

void FillRect(float x0, float y0, float x1, float y1)
{
    glBegin(GL_QUADS);
    glVertex2f(x0, y0);
    glVertex2f(x1, y0);
    glVertex2f(x1, y1);
    glVertex2f(x0, y1);
    glEnd();
}

ScopedClip::ScopedClip(const Box& windowBox)
{
    GLint x0 = static_cast<GLint>(std::floor(windowBox.x0)), y0 = static_cast<GLint>(std::floor(windowBox.y0));
    GLint x1 = static_cast<GLint>(std::ceil(windowBox.x1)), y1 = static_cast<GLint>(std::ceil(windowBox.y1));
    glPushAttrib(GL_SCISSOR_BIT);
    if (glIsEnabled(GL_SCISSOR_TEST)) {
        GLint outer[4] = {};
        glGetIntegerv(GL_SCISSOR_BOX, outer);
        x0 = std::max(x0, outer[0]);
        y0 = std::max(y0, outer[1]);
        x1 = std::min(x1, outer[0] + outer[2]);
        y1 = std::min(y1, outer[1] + outer[3]);
    }
    glEnable(GL_SCISSOR_TEST);
    glScissor(x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0));
}

ScopedClip::~ScopedClip()
{
    glPopAttrib();
}

void OutlineRect(float x0, float y0, float x1, float y1)
{
    glBegin(GL_LINE_LOOP);
    glVertex2f(x0, y0);
    glVertex2f(x1, y0);
    glVertex2f(x1, y1);
    glVertex2f(x0, y1);
    glEnd();
}

} // namespace QZ::gl
