#include "gui/toolkit/GLSupport.h"

#include <GL/glew.h>

#include <dlfcn.h>
#include <link.h>

#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace QZ::gl {

namespace {

// GLEW keeps its entry points in process-wide variables: they are filled
// once, under this lock, and only read afterwards. GLX entry points do not
// depend on the context they were looked up with.
std::mutex gExtensionLock;
bool gExtensionsLoaded = false;

} // namespace

uint32_t InitExtensions()
{
    std::lock_guard<std::mutex> guard(gExtensionLock);
    if (gExtensionsLoaded)
        return 0;
    GLenum error = glewInit();
    // glewInit loads the GL entry points first and then GLX's; a failure of
    // the second part alone leaves the first usable.
    if (error == GLEW_ERROR_NO_GLX_DISPLAY)
        error = GLEW_OK;
    gExtensionsLoaded = error == GLEW_OK;
    return error;
}

bool HasExtension(const char* name)
{
    std::lock_guard<std::mutex> guard(gExtensionLock);
    return gExtensionsLoaded && glewIsSupported(name);
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
