// The manager's render thread: when a frame is wanted, the GL set-up and
// release, and the panel, lit and 2D layers of a frame.
#include <epoxy/gl.h>

#include "gui/toolkit/Manager.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "framework/IndicatorBlock.h"
#include "framework/InstanceRegistry.h"
#include "framework/ObryProperties.h"
#include "gui/editor/ManagerPlatformBridge.h"
#include "gui/toolkit/Effect.h"
#include "gui/toolkit/GLSupport.h"
#include "gui/toolkit/UIElement.h"
#include "platform/Clock.h"
#include "platform/Debug.h"

using corvane::DebugPrintf;
namespace platform = corvane::platform;

namespace QZ {

namespace {

// Pixels around a live element's box that its drawing may reach: a marker
// centred on the edge (2), and the smoothed line's fringe.
constexpr int kLiveMargin = 4;

} // namespace

void Manager::RenderTaskMain(platform::Event& quit)
{
    InitGL();
    platform::Event* waits[kRenderEventCount] = {&quit,      &events[1], &events[2],
                                                 &events[3], &events[4], &events[5]};
    double previous = platform::SecondsSinceModuleLoad() * 1000.0;
    double previousRate = 0;
    bool hidden = false;
    // A stop is seen before each pass, not only in the wait: a host that
    // closes the editor (or the plug-in) waits for this thread, which must
    // not begin another frame for it.
    bool running = !RenderStopRequested();
    while (running) {
        // A hidden editor costs one round trip a pass and nothing else; shown
        // again, it draws a whole frame at once.
        const bool viewable = !bridge || !glReady || bridge->WindowViewable();
        if (viewable) {
            Update();
            if (hidden) {
                hidden = false;
                RenderPanel();
                RenderFrame();
            } else if (FrameWanted()) {
                RenderFrame(liveOnlyFrame);
            }
        } else {
            hidden = true;
        }
        renderPasses.fetch_add(1, std::memory_order_release);
        const double now = platform::SecondsSinceModuleLoad() * 1000.0;
        double dt = (now - previous) * 0.001;
        if (dt < 1e-6)
            dt = 1e-6;
        frameTime = static_cast<float>(dt);
        const double rate = 1.0 / dt;
        const double averaged = (rate + previousRate) / 2.0;
        frameRate.store(averaged > 1e6 ? 0.0f : static_cast<float>(averaged), std::memory_order_relaxed);
        previousRate = rate;
        previous = now;
        totalTime += dt;

        switch (platform::WaitAny(waits, kRenderEventCount, kFrameIntervalMs)) {
        case kEventQuit:
            running = false;
            break;
        case kEventSizeChanged:
            if (bridge)
                bridge->HandleSizeChange();
            frameComplete = false;
            break;
        case kEventRedrawPanel:
            RenderPanel();
            break;
        case kEventPause:
            // Paused (the window is gone, or the editor asked): nothing is
            // drawn until the panel is to be redrawn or the task ends.
            for (;;) {
                const int woken = platform::WaitAny(waits, kRenderEventCount, platform::kWaitForever);
                if (woken == kEventQuit) {
                    running = false;
                    break;
                }
                if (woken == kEventRedrawPanel)
                    RenderPanel();
                if (woken != kEventPause)
                    break;
            }
            break;
        default: // time-out, or an event nothing signals
            break;
        }
        running = running && !RenderStopRequested();
    }
    ReleaseGL();
}

bool Manager::FrameWanted()
{
    bool changed = false;
    const uint64_t requests = redrawRequests.load(std::memory_order_relaxed);
    if (requests != seenRedrawRequests) {
        seenRedrawRequests = requests;
        changed = true;
    }
    const uint64_t registryChanges = InstanceRegistry::ChangeCount();
    if (registryChanges != seenRegistryChanges) {
        seenRegistryChanges = registryChanges;
        changed = true;
    }
    if (plugin) {
        if (seenParameters.size() != parameterLabels.size()) {
            seenParameters.assign(parameterLabels.size(), 0.0f);
            changed = true;
        }
        for (size_t i = 0; i < seenParameters.size(); ++i) {
            const float value = plugin->GetParameterReal(static_cast<int32_t>(i));
            // Bytes, so that a NaN compares equal to itself.
            if (std::memcmp(&value, &seenParameters[i], sizeof value) != 0) {
                seenParameters[i] = value;
                changed = true;
            }
        }
    }
    // Tooltips fade in and out over many frames.
    if (tooltipAlpha > 0)
        changed = true;
    // Displays show what the audio thread writes into the indicator block:
    // a frame when a byte of it moved, none while the audio rests.
    bool moved = false;
    if (liveElements && indicatorBlock) {
        if (seenIndicators.size() != kObryIndicatorBlockSize) {
            seenIndicators.assign(kObryIndicatorBlockSize, 0);
            changed = true;
        }
        // Byte by byte through the block's atomic reads: the audio thread
        // writes it meanwhile.
        for (int i = 0; i < kObryIndicatorBlockSize; ++i) {
            const uint8_t byte = ReadIndicator<uint8_t>(indicatorBlock, i);
            if (byte != seenIndicators[static_cast<size_t>(i)]) {
                seenIndicators[static_cast<size_t>(i)] = byte;
                moved = true;
            }
        }
    }
    const bool pacing = FramePacing();
    // With everything else still (settled, nothing new), only the live
    // elements' area can differ from the frame before: the frames after the
    // indicator block moved (and those that let the displays settle after
    // it) draw that area alone.
    const bool stillSettling = stillPacer.Next(changed);
    const bool draw = pacer.Next(changed || moved) || !pacing;
    liveOnlyFrame = draw && !stillSettling && pacing && frameComplete &&
                    LiveOnlyFrames();
    return draw;
}

bool Manager::LiveArea(int& x, int& y, int& width, int& height)
{
    Box area;
    for (UIElement* element : elements) {
        if (!element->DrawsLiveData() || !element->IsVisible())
            continue;
        const Box box = UIElement::AbsoluteBox(element);
        if (box.IsEmpty())
            continue;
        area.x0 = std::min(area.x0, box.x0);
        area.y0 = std::min(area.y0, box.y0);
        area.x1 = std::max(area.x1, box.x1);
        area.y1 = std::max(area.y1, box.y1);
    }
    if (area.IsEmpty())
        return false;
    // The layout is stretched to the window once the user resized it.
    area = WindowBox(area);
    const int w = WindowWidth(), h = WindowHeight();
    const int x0 = std::max(0, static_cast<int>(std::floor(area.x0)) - kLiveMargin);
    const int y0 = std::max(0, static_cast<int>(std::floor(area.y0)) - kLiveMargin);
    const int x1 = std::min(w, static_cast<int>(std::ceil(area.x1)) + kLiveMargin);
    const int y1 = std::min(h, static_cast<int>(std::ceil(area.y1)) + kLiveMargin);
    if (x1 <= x0 || y1 <= y0)
        return false;
    x = x0;
    y = y0;
    width = x1 - x0;
    height = y1 - y0;
    return true;
}

void Manager::Update()
{
    if (root)
        root->Update();
    for (Effect* effect : effects)
        effect->Update();
}

void Manager::InitGL()
{
    // A manager whose geometry no one made takes the window's size as its
    // layout's. Never when MakeTitle ran: a resize before this thread got
    // here would pass for the layout, and live areas and pointer positions
    // would be taken unstretched.
    if (PanelWidth() <= 0 || PanelHeight() <= 0) {
        panelWidth.store(WindowWidth(), std::memory_order_relaxed);
        panelHeight.store(WindowHeight(), std::memory_order_relaxed);
    }

    // Without a context there is nothing GL can be asked: no call is made
    // until the task ends. A task asked to end while it sets up (a host that
    // closes right after opening) leaves the rest of the set-up, which on a
    // busy machine takes long (textures, glyphs, shaders, the panel).
    glReady = bridge && !RenderStopRequested() && bridge->CreateContext();
    if (!glReady) {
        if (!RenderStopRequested())
            DebugPrintf("editor: no GL context; the editor stays empty\n");
        panelRendered.store(true, std::memory_order_release);
        return;
    }
    gl::KeepLibrariesLoaded();
    GLint drawBuffer = GL_BACK;
    glGetIntegerv(GL_DRAW_BUFFER, &drawBuffer);
    windowDrawBuffer = static_cast<uint32_t>(drawBuffer);
    const uint32_t extensionError = gl::InitExtensions();
    if (RenderStopRequested()) {
        panelRendered.store(true, std::memory_order_release);
        return;
    }
    if (extensionError == 0) {
        bridge->HandleSizeChange();
        glDisable(GL_MULTISAMPLE);
        glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
        for (const auto& texture : textures)
            if (!texture->onDemand)
                LoadPNGTexture(*texture);
        if (mainFont)
            PreloadGlyphs(*mainFont);
        if (textFieldFont)
            PreloadGlyphs(*textFieldFont);
        for (const auto& font : fonts)
            PreloadGlyphs(*font);
        for (UIElement* element : elements)
            element->InitGL();
        for (UIElement* element : elements)
            element->PostInitGL();
        for (UIElement* element : elements)
            liveElements = liveElements || element->DrawsLiveData();
        if (RenderStopRequested()) {
            panelRendered.store(true, std::memory_order_release);
            return;
        }
        for (Effect* effect : effects)
            effect->SetUp();
        SetUpShaders();
        bridge->FinishContextSetUp();
    } else {
        DebugPrintf("editor: GL extensions unavailable (%u)\n", extensionError);
    }

    glGetError();
    GLuint texture = 0;
    glGenTextures(1, &texture);
    panelTexture = texture;

    bool framebufferReady = false;
    if (extensionError == 0 && !ForceOffscreenPanel() && gl::HasExtension("GL_EXT_framebuffer_object")) {
        GLuint name = 0;
        glGenFramebuffersEXT(1, &name);
        framebuffer = name;
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
        glBindTexture(GL_TEXTURE_2D, panelTexture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kPanelTextureWidth, kPanelTextureHeight, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        panelFilter = GL_LINEAR;
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, panelTexture, 0);
        framebufferReady = glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT) == GL_FRAMEBUFFER_COMPLETE_EXT;
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
        glBindTexture(GL_TEXTURE_2D, 0);
        if (!framebufferReady) {
            // A driver that names the extension but cannot render into this
            // texture gets the off-screen path.
            glDeleteFramebuffersEXT(1, &name);
            framebuffer = 0;
        }
    }
    if (!framebufferReady)
        bridge->CreateOffscreenContext(WindowWidth(), WindowHeight());
    usesFramebuffer.store(framebufferReady, std::memory_order_release);
    // The label font's glyphs go into the window context's texture; the
    // off-screen context shares nothing, so RenderPanel uploads them there
    // again.
    if (labelFont && bridge->MakeCurrent())
        PreloadGlyphs(*labelFont);
    RenderPanel();
    panelRendered.store(true, std::memory_order_release);
}

void Manager::FillPanelWithBackground()
{
    std::vector<uint8_t> pixels(static_cast<size_t>(kPanelTextureWidth) * kPanelTextureHeight * 3);
    const auto channel = [](float value) {
        const float clamped = value < 0 ? 0 : (value > 1 ? 1 : value);
        return static_cast<uint8_t>(std::lround(clamped * 255.0f));
    };
    const uint8_t red = channel(backgroundColour.r), green = channel(backgroundColour.g),
                  blue = channel(backgroundColour.b);
    for (size_t i = 0; i < pixels.size(); i += 3) {
        pixels[i] = red;
        pixels[i + 1] = green;
        pixels[i + 2] = blue;
    }
    glBindTexture(GL_TEXTURE_2D, panelTexture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, kPanelTextureWidth, kPanelTextureHeight, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 pixels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    panelFilter = GL_LINEAR;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void Manager::RenderPanel()
{
    if (!glReady)
        return;
    const bool offscreen = framebuffer == 0;
    if (!offscreen) {
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
        glDrawBuffer(GL_COLOR_ATTACHMENT0_EXT);
        glViewport(0, 0, PanelWidth(), PanelHeight());
    } else if (!bridge->MakeOffscreenCurrent()) {
        // Neither a framebuffer nor an off-screen context: the panel shows
        // the background alone.
        if (bridge->MakeCurrent())
            FillPanelWithBackground();
        return;
    }

    glClearColor(backgroundColour.r, backgroundColour.g, backgroundColour.b, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);

    // Rows are flipped into the texture here and back by Draw2D, so labels
    // land on the overlay's pixel coordinates.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glScalef(1, -1, 1);
    glTranslatef(-1, -1, 0);
    glScalef(twoOverWidth, twoOverHeight, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    DrawPanel();
    if (labelFont) {
        // The off-screen context may share no names with the window's: the
        // glyphs go into a texture of its own for this pass.
        const uint32_t windowGlyphs = labelFont->texture;
        if (offscreen) {
            labelFont->texture = 0;
            labelFont->atlasDirty = true;
        }
        for (UIElement* element : elements)
            if (element->IsVisible())
                element->DrawLabels(labelFont.get());
        if (offscreen) {
            ReleaseGlyphTexture(*labelFont);
            labelFont->texture = windowGlyphs;
        }
    }

    if (offscreen) {
        const uint8_t* pixels = bridge->ReadOffscreenPixels();
        if (!bridge->MakeCurrent())
            return;
        if (!pixels) {
            FillPanelWithBackground();
            return;
        }
        glBindTexture(GL_TEXTURE_2D, panelTexture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, kPanelTextureWidth, kPanelTextureHeight, 0, GL_BGR, GL_UNSIGNED_BYTE,
                     pixels);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        panelFilter = GL_LINEAR;
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glBindTexture(GL_TEXTURE_2D, 0);
    } else {
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
        glDrawBuffer(windowDrawBuffer);
    }
}

void Manager::RenderFrame(bool liveOnly)
{
    if (!glReady || !bridge->MakeCurrent())
        return;
    const int w = WindowWidth();
    const int h = WindowHeight();
    glViewport(0, 0, w, h);
    // A live-only frame draws the same passes under a scissor: inside it
    // every pixel is what a whole frame draws, outside it the frame before
    // stays, and nothing there has changed since.
    int areaX = 0, areaY = 0, areaWidth = w, areaHeight = h;
    liveOnly = liveOnly && frameComplete && LiveArea(areaX, areaY, areaWidth, areaHeight);
    if (liveOnly) {
        glScissor(areaX, areaY, areaWidth, areaHeight);
        glEnable(GL_SCISSOR_TEST);
    }
    glDepthMask(GL_TRUE);
    glClear(GL_DEPTH_BUFFER_BIT);

    // Perspective pass.
    glDepthRange(0.1, 1.0);
    glEnable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gl::SetPerspective(fieldOfView, aspect, cameraZ, cameraZ * 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(-cameraX, -cameraY, -cameraZ);
    DrawLit();

    // Panel pass.
    glDepthRange(0.0, 0.1);
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    Draw2D();

    // Overlay pass: pixels, origin at the bottom left, y up.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glTranslatef(-1, -1, 0);
    glScalef(twoOverWidth, twoOverHeight, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    DrawOverlay();

    if (liveOnly) {
        glDisable(GL_SCISSOR_TEST);
        bridge->SwapBufferArea(areaX, areaY, areaWidth, areaHeight);
        liveFramesDrawn.fetch_add(1, std::memory_order_release);
    } else {
        bridge->SwapBuffers();
        frameComplete = true;
    }
    framesDrawn.fetch_add(1, std::memory_order_release);
}

void Manager::DrawLit()
{
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glEnable(GL_LIGHTING);
    const GLfloat ambient[] = {0.2f, 0.2f, 0.2f, 1.0f};
    const GLfloat diffuse[] = {0.6f, 0.6f, 0.6f, 1.0f};
    const GLfloat specular[] = {0.3f, 0.3f, 0.3f, 1.0f};
    const GLfloat position[] = {1.0f, 1.0f, 1.0f, 1.0f};
    gl::SetLightZero(ambient, diffuse, specular, position);
    const GLfloat materialSpecular[] = {0.7f, 0.5f, 0.5f, 1.0f};
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 40.0f);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, materialSpecular);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    for (Effect* effect : effects)
        effect->DrawLit();
}

void Manager::Draw2D()
{
    DrawPanelQuad();
}

void Manager::DrawPanelQuad()
{
    glDisable(GL_LIGHTING);
    glBindTexture(GL_TEXTURE_2D, panelTexture);
    glEnable(GL_TEXTURE_2D);
    // At the panel's own size each pixel takes one texel: nearest sampling
    // gives the same picture for a fraction of a software rasteriser's
    // work. Scaled (after a resize), the panel is filtered.
    const bool unscaled = PanelWidth() == WindowWidth() && PanelHeight() == WindowHeight();
    const GLint filter = unscaled ? GL_NEAREST : GL_LINEAR;
    if (filter != panelFilter) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        panelFilter = filter;
    }
    const float s = static_cast<float>(PanelWidth()) * 0.0009765625f;
    const float t = static_cast<float>(PanelHeight()) * 0.001953125f;
    glColor4f(1, 1, 1, 1);
    glBegin(GL_QUADS);
    glTexCoord2f(0, t);
    glVertex2f(-1, -1);
    glTexCoord2f(s, t);
    glVertex2f(1, -1);
    glTexCoord2f(s, 0);
    glVertex2f(1, 1);
    glTexCoord2f(0, 0);
    glVertex2f(-1, 1);
    glEnd();
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void Manager::ReleaseGL()
{
    if (glReady && bridge->MakeCurrent()) {
        for (const auto& texture : textures) {
            if (texture->texture) {
                GLuint name = texture->texture;
                glDeleteTextures(1, &name);
            }
            texture->texture = 0;
        }
        for (FontRecord* font : {mainFont.get(), labelFont.get(), textFieldFont.get()})
            if (font)
                ReleaseGlyphTexture(*font);
        for (const auto& font : fonts)
            ReleaseGlyphTexture(*font);
        for (Effect* effect : effects)
            effect->TearDown();
        if (shutdowner)
            shutdowner->Shutdown();
        GLuint texture = panelTexture;
        glDeleteTextures(1, &texture);
        if (framebuffer) {
            GLuint name = framebuffer;
            glDeleteFramebuffersEXT(1, &name);
        }
    }
    // A window that is gone takes its GL objects with the contexts.
    for (const auto& texture : textures)
        texture->texture = 0;
    for (FontRecord* font : {mainFont.get(), labelFont.get(), textFieldFont.get()})
        if (font)
            font->texture = 0;
    for (const auto& font : fonts)
        font->texture = 0;
    panelTexture = 0;
    framebuffer = 0;
    glReady = false;
    if (bridge)
        bridge->DestroyContexts();
}

} // namespace QZ
