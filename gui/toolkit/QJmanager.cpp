#include <epoxy/gl.h>

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

void QJmanager::SetBackgroundTexture(QZ::TextureRecord* texture, int mode)
{
    backgroundMode.store(mode == kBackgroundOnce ? kBackgroundOnce : kBackgroundTiled, std::memory_order_relaxed);
    background.store(texture, std::memory_order_release);
}

void QJmanager::DrawPanel()
{
    QZ::TextureRecord* texture = background.load(std::memory_order_acquire);
    if (!texture)
        return;
    QZ::LoadPNGTexture(*texture);
    if (!texture->texture || texture->width <= 0 || texture->height <= 0)
        return;
    float width, height, tu, tv;
    if (backgroundMode.load(std::memory_order_relaxed) == kBackgroundOnce) {
        width = static_cast<float>(texture->width);
        height = static_cast<float>(texture->height);
        tu = tv = 1;
    } else {
        width = static_cast<float>(WindowWidth());
        height = static_cast<float>(WindowHeight());
        tu = width / static_cast<float>(texture->width);
        tv = height / static_cast<float>(texture->height);
    }
    glBindTexture(GL_TEXTURE_2D, texture->texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glEnable(GL_TEXTURE_2D);
    glColor4f(1, 1, 1, 0);
    glBegin(GL_QUADS);
    glTexCoord2f(0, tv);
    glVertex2f(0, 0);
    glTexCoord2f(tu, tv);
    glVertex2f(width, 0);
    glTexCoord2f(tu, 0);
    glVertex2f(width, height);
    glTexCoord2f(0, 0);
    glVertex2f(0, height);
    glEnd();
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void QJmanager::Draw2D()
{
    const GLhandleARB linked = program.load(std::memory_order_relaxed);
    if (!background.load(std::memory_order_acquire) || !linked || !EyeCandyEnabled()) {
        DrawPanelQuad();
        return;
    }
    glUseProgramObjectARB(linked);
    glUniform1iARB(textureLocation, 0);
    DrawPanelQuad();
    glUseProgramObjectARB(0);
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
