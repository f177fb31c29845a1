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

namespace QZ::gl {

bool LibraryAvailable()
{
    // The same library libepoxy loads for GL and GLX (under the same name,
    // so the handle it takes later is this one). Kept open: the answer and
    // the library stay for the rest of the process.
    static const bool available = dlopen("libGL.so.1", RTLD_LAZY | RTLD_LOCAL) != nullptr;
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
