#include <GL/glew.h>

#include "gui/toolkit/QJmanager.h"

#include "gui/toolkit/GLSupport.h"

namespace {

const char* kVertexShader = "varying vec2 uv;\n"
                                  "void main()\n"
                                  "{\n"
                                  "gl_Position = ftransform();\n"
                                  "uv = gl_MultiTexCoord0.st;\n"
                                  "}\n";

const char* kFragmentShader = "uniform sampler2D tex;\n"
                                    "varying vec2 uv;\n"
                                    "void main()\n"
                                    "{\n"
                                    "vec4 diffuse = texture2D( tex, uv );\n"
                                    "gl_FragColor.rgba = diffuse.rgba;\n"
                                    "}\n";

} // namespace

QJmanager::QJmanager(ObryAuBase* plugin) : QZ::Manager(plugin) {}

QJmanager::~QJmanager()
{
    // The render thread must be gone before this class's part of the object
    // is: its shutdowner still uses it.
    DestroyRenderTask();
}

void QJmanager::SetUpShaders()
{
    if (!QZ::gl::HasExtension("GL_ARB_vertex_shader") || !QZ::gl::HasExtension("GL_ARB_fragment_shader"))
        return;
    GLhandleARB vertex = glCreateShaderObjectARB(GL_VERTEX_SHADER_ARB);
    glShaderSourceARB(vertex, 1, &kVertexShader, nullptr);
    glCompileShaderARB(vertex);
    GLhandleARB fragment = glCreateShaderObjectARB(GL_FRAGMENT_SHADER_ARB);
    glShaderSourceARB(fragment, 1, &kFragmentShader, nullptr);
    glCompileShaderARB(fragment);
    GLhandleARB linked = glCreateProgramObjectARB();
    glAttachObjectARB(linked, vertex);
    glAttachObjectARB(linked, fragment);
    glLinkProgramARB(linked);
    glUseProgramObjectARB(linked);
    textureLocation = glGetUniformLocationARB(linked, "tex");
    glUseProgramObjectARB(0);
    vertexShader = vertex;
    fragmentShader = fragment;
    program.store(linked, std::memory_order_release);
}

QZ::Manager::RenderingShutdowner* QJmanager::CreateRenderingShutdowner()
{
    return new QJRenderingShutdowner(this);
}

void QJmanager::QJRenderingShutdowner::Shutdown()
{
    const GLhandleARB linked = manager->program.load(std::memory_order_relaxed);
    if (!linked)
        return;
    glDetachObjectARB(linked, manager->vertexShader);
    glDetachObjectARB(linked, manager->fragmentShader);
    glDeleteObjectARB(manager->vertexShader);
    glDeleteObjectARB(manager->fragmentShader);
    glDeleteObjectARB(linked);
    manager->vertexShader = 0;
    manager->fragmentShader = 0;
    manager->program.store(0, std::memory_order_release);
}
