#include <GL/glew.h>

#include "gui/toolkit/Manager.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "framework/IndicatorBlock.h"
#include "framework/InstanceRegistry.h"
#include "framework/LearnTargetAddress.h"
#include "framework/ObryProperties.h"
#include "gui/toolkit/Effect.h"
#include "gui/editor/ManagerPlatformBridge.h"
#include "gui/toolkit/GLSupport.h"
#include "gui/toolkit/StaticText.h"
#include "gui/toolkit/UIElement.h"
#include "platform/Clock.h"
#include "platform/Debug.h"
#include "platform/Preferences.h"

using corvane::DebugPrintf;
namespace platform = corvane::platform;

namespace QZ {

namespace {

std::atomic<uint32_t> gManagerCount{0};
std::atomic<bool> gEyeCandy{true};
std::atomic<bool> gConstantRedraw{true};
std::atomic<bool> gFloatingTooltip{false};
std::atomic<bool> gForceOffscreenPanel{false};
std::atomic<bool> gFramePacing{true};
std::atomic<bool> gLiveOnlyFrames{true};

// Pixels around a live element's box that its drawing may reach: a marker
// centred on the edge (2), and the smoothed line's fringe.
constexpr int kLiveMargin = 4;

// The largest parameter table an editor takes; every plug-in's is far
// smaller.
constexpr uint32_t kMaxParameters = 4096;

constexpr const char* kPreferencesTooltip = "About and preferences";

std::mutex gBannerTextColourLock;
Colour gBannerTextColour{0.5f, 0.5f, 0.5f, 1.0f};

int ClampWindowSide(int side)
{
    return side < 1 ? 1 : (side > Manager::kMaxWindowSide ? Manager::kMaxWindowSide : side);
}

} // namespace

bool Manager::EyeCandyEnabled()
{
    return gEyeCandy.load(std::memory_order_relaxed);
}

bool Manager::ConstantRedrawEnabled()
{
    return gConstantRedraw.load(std::memory_order_relaxed);
}

bool Manager::FloatingTooltipEnabled()
{
    return gFloatingTooltip.load(std::memory_order_relaxed);
}

void Manager::SetEyeCandyEnabled(bool enabled)
{
    gEyeCandy.store(enabled, std::memory_order_relaxed);
}

void Manager::SetConstantRedrawEnabled(bool enabled)
{
    gConstantRedraw.store(enabled, std::memory_order_relaxed);
}

void Manager::SetFloatingTooltipEnabled(bool enabled)
{
    gFloatingTooltip.store(enabled, std::memory_order_relaxed);
}

void Manager::SetForceOffscreenPanel(bool force)
{
    gForceOffscreenPanel.store(force, std::memory_order_relaxed);
}

void Manager::SetFramePacing(bool pace)
{
    gFramePacing.store(pace, std::memory_order_relaxed);
}

void Manager::SetLiveOnlyFrames(bool liveOnly)
{
    gLiveOnlyFrames.store(liveOnly, std::memory_order_relaxed);
}

bool Manager::ForceOffscreenPanel()
{
    if (gForceOffscreenPanel.load(std::memory_order_relaxed))
        return true;
    const char* value = getenv("CORVANE_GL_OFFSCREEN_PANEL");
    return value && value[0] == '1';
}

void Manager::SetBannerTextColour(const Colour& colour)
{
    std::lock_guard<std::mutex> hold(gBannerTextColourLock);
    gBannerTextColour = colour;
}

Colour Manager::DefaultBannerTextColour()
{
    std::lock_guard<std::mutex> hold(gBannerTextColourLock);
    return gBannerTextColour;
}

Manager::Manager(ObryAuBase* plugin)
    : managerNumber(gManagerCount.fetch_add(1)), bannerTextColour(DefaultBannerTextColour()), plugin(plugin)
{
    rootGroup = new Group(this);
    root = rootGroup;
    staticText = new StaticText(this);
    adoptRenderer(staticText);

    gEyeCandy.store(corvane::ReadPrefInt("Enable eye candy", 1) != 0, std::memory_order_relaxed);
    gConstantRedraw.store(corvane::ReadPrefInt("Enable constant redraw", 1) != 0, std::memory_order_relaxed);
    gFloatingTooltip.store(corvane::ReadPrefInt("Enable floating tooltip", 0) != 0, std::memory_order_relaxed);

    if (plugin) {
        uint32_t count = 0;
        const ParameterInfo* table = nullptr;
        plugin->GetProperty(kObryProperty_ParameterCount, 0, 0, &count);
        plugin->GetProperty(kObryProperty_ParameterTable, 0, 0, &table);
        if (!table || count > kMaxParameters)
            count = 0;
        parameterLabels.resize(count);
        for (uint32_t i = 0; i < count; ++i) {
            ParameterLabelRecord& record = parameterLabels[i];
            record.index = static_cast<int32_t>(i);
            snprintf(record.name, sizeof record.name, "%s", table[i].name ? table[i].name : "");
            record.unit = table[i].unit;
            record.minimum = table[i].min;
            record.maximum = table[i].max;
            record.defaultValue = table[i].def;
            record.plugin = plugin;
        }
        indicatorBlock = plugin->GetIndicatorBlock();
    }
}

Manager::~Manager()
{
    DestroyRenderTask();
    for (UIElement* element : elements)
        delete element;
    elements.clear();
    root = nullptr;
    rootGroup = nullptr;
    for (Effect* effect : effects)
        delete effect;
    effects.clear();
    staticText = nullptr;
    textures.clear();
    fonts.clear();
    mainFont.reset();
    labelFont.reset();
    textFieldFont.reset();
    shutdowner.reset();
    bridge.reset();
}

FontRecord* Manager::SetMainFont(std::unique_ptr<FontRecord> font)
{
    mainFont = std::move(font);
    return mainFont.get();
}

FontRecord* Manager::SetLabelFont(std::unique_ptr<FontRecord> font)
{
    labelFont = std::move(font);
    return labelFont.get();
}

FontRecord* Manager::SetTextFieldFont(std::unique_ptr<FontRecord> font)
{
    textFieldFont = std::move(font);
    return textFieldFont.get();
}

FontRecord* Manager::AddFont(std::unique_ptr<FontRecord> font)
{
    if (!font)
        return nullptr;
    fonts.push_back(std::move(font));
    return fonts.back().get();
}

TextureRecord* Manager::AddTexture(std::unique_ptr<TextureRecord> record)
{
    if (!record)
        return nullptr;
    textures.push_back(std::move(record));
    return textures.back().get();
}

void Manager::AddElement(UIElement* element)
{
    if (element)
        elements.push_back(element);
}

void Manager::adoptRenderer(Effect* effect)
{
    if (effect)
        effects.push_back(effect);
}

// Commands

void Manager::RegisterCommandNames()
{
    commands[-2] = kPreferencesTooltip;
    commands[-3] = "Save calibration data";
    commands[-4] = "Load calibration data";
    commands[-5] = "Load calibration data";
    commands[-6] = "Transfer from Voice Controller";
}

int32_t Manager::CommandIdForName(const char* text)
{
    const std::string wanted = text ? text : "";
    for (const auto& [id, name] : commands)
        if (name == wanted)
            return id;
    int32_t id = -2;
    if (!commands.empty() && commands.begin()->first <= -2) {
        // The map is ordered: its first id is the lowest. Ids stop where a
        // 32-bit integer ends.
        if (commands.begin()->first == INT32_MIN)
            return -1;
        id = commands.begin()->first - 1;
    }
    commands[id] = wanted;
    return id;
}

const char* Manager::CommandText(int32_t id) const
{
    auto found = commands.find(id);
    return found == commands.end() ? nullptr : found->second.c_str();
}

// Window

void Manager::SetWindowSize(int width, int height)
{
    RequestRedraw();
    windowWidth.store(ClampWindowSide(width), std::memory_order_relaxed);
    windowHeight.store(ClampWindowSide(height), std::memory_order_relaxed);
}

void Manager::MakeTitle()
{
    char text[64];
    snprintf(text, sizeof text, "%scorvane %d.%d.%d", bannerMode == kBannerFull ? "ormbury : " : "", 2, 1, 0);
    bannerText = text;
    if (mainFont && bannerMode != kBannerNone && bannerEntry < 0) {
        const float descender = mainFont->HasFont() ? mainFont->Descender() : 0.0f;
        bannerEntry = staticText->AddText(bannerText, bannerTextX, bannerBox.y0 - descender, &bannerTextColour);
    }

    const int w = WindowWidth();
    const int h = WindowHeight();
    aspect = static_cast<float>(w) / static_cast<float>(h);
    twoOverWidth = 2.0f / static_cast<float>(w);
    twoOverHeight = 2.0f / static_cast<float>(h);
    fieldOfView = 65.0f;
    cameraZ = static_cast<float>(1.0 / (std::tan(32.5 * M_PI / 180.0) * twoOverHeight));
    cameraX = 1.0f / twoOverWidth;
    cameraY = static_cast<float>(h) / 2.0f;
    lightTarget = Point{static_cast<float>(w) / 2.0f, static_cast<float>(h) / 2.0f};
    windowRect.top = 0;
    windowRect.left = 0;
    windowRect.bottom = static_cast<int16_t>(h);
    windowRect.right = static_cast<int16_t>(w);
    // The layout size; InitGL takes it again from the window when GL starts.
    panelWidth.store(w, std::memory_order_relaxed);
    panelHeight.store(h, std::memory_order_relaxed);
}

void Manager::SetBannerPosition(float y)
{
    // Without a main font the strip is 5 pixels high.
    const float lineHeight = !mainFont ? 5.0f : (mainFont->HasFont() ? mainFont->LineHeight() : 0.0f);
    bannerBox.x0 = 20.0f;
    bannerBox.x1 = static_cast<float>(WindowWidth()) - 20.0f;
    bannerBox.y0 = y;
    bannerBox.y1 = y + lineHeight;
    bannerBox.z0 = 0;
    bannerBox.z1 = 0;
}

void Manager::SetBackgroundColour(float red, float green, float blue)
{
    backgroundColour = Colour{red, green, blue, 1.0f};
}

// Bridge and callbacks

void Manager::SetBridge(ManagerPlatformBridge* newBridge)
{
    bridge.reset(newBridge);
}

void Manager::SetEditCallbacks(EditCallback begin, EditCallback end, void* context)
{
    beginEditCallback = begin;
    endEditCallback = end;
    editContext = context;
}

void Manager::SetMouseCallbacks(MouseCallback capture, MouseCallback release, void* context)
{
    captureCallback = capture;
    releaseCallback = release;
    captureContext = context;
}

// Render task (UI thread)

Manager::RenderingShutdowner* Manager::CreateRenderingShutdowner()
{
    return new RenderingShutdowner();
}

void Manager::CreateRenderTask()
{
    if (RenderTaskRunning()) {
        DebugPrintf("double call to CreateRenderTask()\n");
        return;
    }
    shutdowner.reset(CreateRenderingShutdowner());
    for (platform::Event& event : events)
        event.Reset();
    framesDrawn.store(0, std::memory_order_relaxed);
    panelRendered.store(false, std::memory_order_relaxed);
    const int error = renderThread.Start([this](platform::Event& quit) { RenderTaskMain(quit); });
    if (error != 0) {
        DebugPrintf("failed to create render thread: %d\n", error);
        return;
    }
    renderTaskRunning.store(true, std::memory_order_release);
}

bool Manager::DestroyRenderTask()
{
    if (!RenderTaskRunning())
        return true;
    const bool stopped = renderThread.Stop();
    renderTaskRunning.store(false, std::memory_order_release);
    return stopped;
}

void Manager::SignalRenderEvent(int event)
{
    if (event == kEventQuit) {
        if (platform::Event* quit = renderThread.QuitEvent())
            quit->Set();
        return;
    }
    if (event > kEventQuit && event < kRenderEventCount) {
        RequestRedraw();
        events[static_cast<size_t>(event)].Set();
    }
}

// Input (UI thread). The press goes to the element under the pointer, which
// holds the mouse until the release.

Point Manager::LayoutPoint(const Point& point) const
{
    const int w = WindowWidth(), h = WindowHeight(), pw = PanelWidth(), ph = PanelHeight();
    if ((w == pw && h == ph) || w <= 0 || h <= 0)
        return point;
    return Point{point.x * static_cast<float>(pw) / static_cast<float>(w),
                 point.y * static_cast<float>(ph) / static_cast<float>(h)};
}

std::vector<UIElement*> Manager::HoveredElements() const
{
    std::vector<UIElement*> hovered;
    for (const auto& [element, box] : hoverSet)
        hovered.push_back(element);
    return hovered;
}

void Manager::MouseMove(const Point& windowPoint)
{
    RequestRedraw();
    Group::SetGroupsCountAsHits(true);
    const Point point = LayoutPoint(windowPoint);
    UIElement* hit = root ? root->HitTest(point) : nullptr;
    if (hit == root)
        hit = nullptr;
    const bool alreadyHovered = hit && hoverSet.count(hit) != 0;
    for (auto it = hoverSet.begin(); it != hoverSet.end();) {
        if (it->second.Contains(point)) {
            ++it;
            continue;
        }
        UIElement* left = it->first;
        it = hoverSet.erase(it);
        left->MouseLeave();
    }
    if (!alreadyHovered) {
        if (hit) {
            hoverSet[hit] = UIElement::AbsoluteBox(hit);
            hit->MouseEnter();
        }
        lastEntered.store(hit, std::memory_order_relaxed);
    }
    Group::SetGroupsCountAsHits(false);
}

void Manager::MouseDown(const Point& point, uint32_t modifiers, int clicks)
{
    RequestRedraw();
    if (keyFocus) {
        keyFocus->LoseFocus();
        keyFocus = nullptr;
    }
    const float w = static_cast<float>(WindowWidth());
    if (point.x - point.y > w - kResizeCorner) {
        resizing = true;
        resizePressX = point.x;
        resizePressFromTop = static_cast<float>(WindowHeight()) - point.y;
        resizePressWidth = WindowWidth();
        resizePressHeight = WindowHeight();
    } else {
        const Point layout = LayoutPoint(point);
        UIElement* hit = root ? root->HitTest(layout) : nullptr;
        capturedModifiers = modifiers;
        capturedElement = hit;
        if (!hit)
            return;
        hit->MouseDown(layout, modifiers, clicks);
    }
    if (captureCallback)
        captureCallback(captureContext);
}

void Manager::ResizeDrag(const Point& point)
{
    const float dx = point.x - resizePressX;
    const int currentHeight = bridge ? bridge->GetWindowRect() : WindowHeight();
    const float dy = static_cast<float>(currentHeight) - point.y - resizePressFromTop;
    const float a = aspect > 0 && std::isfinite(aspect) ? aspect : 1.0f;
    float width, height;
    if (std::fabs(dx) > std::fabs(dy)) {
        width = std::min(static_cast<float>(resizePressWidth) + dx, static_cast<float>(kMaxResizeWidth));
        height = width / a;
        if (height > kMaxResizeHeight) {
            height = kMaxResizeHeight;
            width = a * kMaxResizeHeight;
        }
    } else {
        height = std::min(static_cast<float>(resizePressHeight) + dy, static_cast<float>(kMaxResizeHeight));
        width = a * height;
        if (width > kMaxResizeWidth) {
            width = kMaxResizeWidth;
            height = kMaxResizeWidth / a;
        }
    }
    // The lower limit keeps the aspect too, unless the upper one forbids it.
    if (width < kMinResizeWidth) {
        width = kMinResizeWidth;
        height = width / a;
    }
    if (height < kMinResizeHeight) {
        height = kMinResizeHeight;
        width = std::min(a * height, static_cast<float>(kMaxResizeWidth));
    }
    if (!std::isfinite(width) || !std::isfinite(height))
        return;
    const int newWidth = static_cast<int>(width), newHeight = static_cast<int>(height);
    if (bridge)
        bridge->SetWindowSize(newWidth, newHeight);
    SetWindowSize(newWidth, newHeight);
    SignalRenderEvent(kEventSizeChanged);
}

void Manager::MouseDrag(const Point& point, uint32_t modifiers)
{
    RequestRedraw();
    if (resizing) {
        ResizeDrag(point);
        return;
    }
    if (!capturedElement)
        return;
    const Point layout = LayoutPoint(point);
    if (modifiers != capturedModifiers) {
        if (capturedElement->RestartsOnModifierChange()) {
            capturedElement->MouseUp(layout, capturedModifiers);
            capturedElement->MouseDown(layout, modifiers, 1);
        }
        capturedModifiers = modifiers;
    }
    capturedElement->MouseDrag(layout, modifiers);
}

void Manager::MouseUp(const Point& point, uint32_t modifiers)
{
    RequestRedraw();
    if (resizing) {
        resizing = false;
        if (releaseCallback)
            releaseCallback(captureContext);
        return;
    }
    if (capturedElement) {
        if (releaseCallback)
            releaseCallback(captureContext);
        capturedElement->MouseUp(LayoutPoint(point), modifiers);
        const int32_t edited = editedParameter.exchange(-1, std::memory_order_relaxed);
        if (edited >= 0 && endEditCallback)
            endEditCallback(edited, editContext);
    }
    capturedElement = nullptr;
}

void Manager::MouseWheel(const Point& point, uint32_t modifiers, int notches)
{
    if (notches == 0 || resizing || capturedElement)
        return;
    UIElement* hit = root ? root->HitTest(LayoutPoint(point)) : nullptr;
    if (!hit || !hit->TakesWheel())
        return;
    MouseDown(point, modifiers, 1);
    if (capturedElement != hit) {
        // The press went elsewhere (the resize corner): end what it began.
        MouseUp(point, modifiers);
        return;
    }
    Point moved = point;
    moved.y += static_cast<float>(notches) * 10.0f;
    MouseDrag(moved, modifiers);
    MouseUp(moved, modifiers);
}

void Manager::SetKeyFocus(UIElement* element)
{
    RequestRedraw();
    if (keyFocus && keyFocus != element)
        keyFocus->LoseFocus();
    keyFocus = element;
}

void Manager::BeginParameterEdit(int32_t index)
{
    const int32_t edited = editedParameter.load(std::memory_order_relaxed);
    if (index == edited)
        return;
    if (edited >= 0 && endEditCallback)
        endEditCallback(edited, editContext);
    editedParameter.store(index, std::memory_order_relaxed);
    if (beginEditCallback)
        beginEditCallback(index, editContext);
    InstanceRegistry::SetLearnTarget(plugin, index);
}

void Manager::EndParameterEdit(int32_t index)
{
    int32_t edited = index;
    if (index >= 0 && editedParameter.compare_exchange_strong(edited, -1, std::memory_order_relaxed) &&
        endEditCallback)
        endEditCallback(index, editContext);
}

Manager::OSCAddressTexts Manager::OSCAddressText()
{
    return BuildLearnTargetAddressTexts();
}

// Render thread

void Manager::RenderTaskMain(platform::Event& quit)
{
    InitGL();
    platform::Event* waits[kRenderEventCount] = {&quit,      &events[1], &events[2],
                                                 &events[3], &events[4], &events[5]};
    double previous = platform::SecondsSinceModuleLoad() * 1000.0;
    double previousRate = 0;
    bool running = true;
    bool hidden = false;
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
    const bool pacing = gFramePacing.load(std::memory_order_relaxed);
    // With everything else still (settled, nothing new), only the live
    // elements' area can differ from the frame before: the frames after the
    // indicator block moved (and those that let the displays settle after
    // it) draw that area alone.
    const bool stillSettling = stillPacer.Next(changed);
    const bool draw = pacer.Next(changed || moved) || !pacing;
    liveOnlyFrame = draw && !stillSettling && pacing && frameComplete &&
                    gLiveOnlyFrames.load(std::memory_order_relaxed);
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
    panelWidth.store(WindowWidth(), std::memory_order_relaxed);
    panelHeight.store(WindowHeight(), std::memory_order_relaxed);

    // Without a context there is nothing GL can be asked: no call is made
    // until the task ends.
    glReady = bridge && bridge->CreateContext();
    if (!glReady) {
        DebugPrintf("editor: no GL context; the editor stays empty\n");
        panelRendered.store(true, std::memory_order_release);
        return;
    }
    gl::KeepLibrariesLoaded();
    GLint drawBuffer = GL_BACK;
    glGetIntegerv(GL_DRAW_BUFFER, &drawBuffer);
    windowDrawBuffer = static_cast<uint32_t>(drawBuffer);
    const uint32_t extensionError = gl::InitExtensions();
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
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glEnable(GL_LIGHT0);
    const GLfloat diffuse[] = {0.6f, 0.6f, 0.6f, 1.0f};
    const GLfloat specular[] = {0.3f, 0.3f, 0.3f, 1.0f};
    const GLfloat position[] = {1.0f, 1.0f, 1.0f, 1.0f};
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, specular);
    glLightfv(GL_LIGHT0, GL_POSITION, position);
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

void Manager::DrawOverlay()
{
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    const GLfloat ambient[] = {0.2f, 0.2f, 0.2f, 1.0f};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glEnable(GL_LIGHT0);
    const GLfloat diffuse0[] = {0.8f, 0.8f, 0.8f, 1.0f};
    const GLfloat specular0[] = {0.2f, 0.2f, 0.2f, 1.0f};
    const GLfloat position0[] = {0.6f, 0.6f, 0.5f, 0.0f};
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse0);
    glLightfv(GL_LIGHT0, GL_SPECULAR, specular0);
    glLightfv(GL_LIGHT0, GL_POSITION, position0);

    if (UIElement* entered = LastEntered()) {
        const Box box = UIElement::AbsoluteBox(entered);
        if (!box.IsEmpty())
            lightTarget = Point{(box.x0 + box.x1) / 2, (box.y0 + box.y1) / 2};
    }
    // The second light follows the pointer smoothly; the renderers' shaders
    // use it.
    light1Position[0] = 0.9f * light1Position[0] + 0.1f * lightTarget.x;
    light1Position[1] = 0.9f * light1Position[1] + 0.1f * lightTarget.y;
    glEnable(GL_LIGHT1);
    const GLfloat diffuse1[] = {0.9f, 0.9f, 0.9f, 1.0f};
    const GLfloat specular1[] = {0.5f, 0.5f, 0.7f, 1.0f};
    glLightfv(GL_LIGHT1, GL_DIFFUSE, diffuse1);
    glLightfv(GL_LIGHT1, GL_SPECULAR, specular1);
    glLightfv(GL_LIGHT1, GL_POSITION, light1Position);
    const GLfloat materialSpecular[] = {0.5f, 0.5f, 0.5f, 1.0f};
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 40.0f);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, materialSpecular);
    glEnable(GL_COLOR_MATERIAL);

    FontRecord* font = mainFont && mainFont->HasFont() ? mainFont.get() : nullptr;
    const bool floatingTooltip = FloatingTooltipEnabled();
    std::string tooltip;
    bool hasTooltip = false;
    if (font)
        hasTooltip = DrawBannerAndReadout(*font, &tooltip);

    if (root)
        root->Draw();
    glDepthMask(GL_FALSE);
    for (Effect* effect : effects)
        effect->Draw();
    if (root && drawPopups.load(std::memory_order_relaxed))
        root->DrawPopup();

    if (font && floatingTooltip)
        DrawTooltip(*font, hasTooltip ? tooltip : std::string());
    {
        std::lock_guard<std::mutex> hold(tooltipTextLock);
        shownTooltipText = hasTooltip ? tooltip : std::string();
    }
}

bool Manager::DrawBannerAndReadout(FontRecord& font, std::string* tooltip)
{
    if (!bannerBox.IsEmpty()) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glColor4f(bannerColour.r, bannerColour.g, bannerColour.b, bannerColour.a);
        glBegin(GL_QUADS);
        glVertex2f(bannerBox.x0, bannerBox.y0);
        glVertex2f(bannerBox.x1, bannerBox.y0);
        glVertex2f(bannerBox.x1, bannerBox.y1);
        glVertex2f(bannerBox.x0, bannerBox.y1);
        glEnd();
        glDisable(GL_BLEND);
    }

    const float x = ReadoutX();
    const float y = bannerBox.y0 - font.Descender();
    glColor4f(bannerTextColour.r, bannerTextColour.g, bannerTextColour.b, bannerTextColour.a);
    bool hasText = false;
    const int32_t edited = EditedParameter();
    const int32_t shown = edited >= 0 ? edited : HoveredParameter();
    if (shown >= 0) {
        std::string text;
        DrawParameterLabel(font, shown, x, y, &text);
        if (tooltip)
            *tooltip = text;
        hasText = true;
    } else if (shown < -1) {
        if (shown != cachedCommandId) {
            cachedCommandId = shown;
            cachedCommandText = CommandText(shown);
        }
        if (cachedCommandText) {
            commandCache.Layout(&font, cachedCommandText, x, y);
            commandCache.Draw(&font);
            if (tooltip)
                *tooltip = cachedCommandText;
            hasText = true;
        }
    }

    if (showInstanceNumber.load(std::memory_order_relaxed) && plugin) {
        // The registry's lock is shared with the audio thread: only the two
        // numbers are read under it, the text is made and drawn after.
        uint32_t perType = 0, processWide = 0;
        {
            InstanceRegistry::Lock lock;
            if (InstanceRegistry::LockAndFind(plugin, lock)) {
                perType = InstanceRegistry::InstanceNumber(plugin);
                processWide = InstanceRegistry::GlobalNumber(plugin);
            }
        }
        if (perType != 0 || processWide != 0) {
            char text[32];
            snprintf(text, sizeof text, "%u (%u)", perType, processWide);
            const float numberX = bannerBox.x1 - MeasureText(font, "00 (00) ");
            instanceCache.Layout(&font, text, numberX, y);
            instanceCache.Draw(&font);
        }
    }
    return hasText;
}

void Manager::DrawParameterLabel(FontRecord& font, int32_t index, float x, float y, std::string* tooltip)
{
    if (index < 0 || static_cast<size_t>(index) >= parameterLabels.size() || !plugin)
        return;
    const char* name = parameterLabels[static_cast<size_t>(index)].name;
    const float nameWidth = MeasureText(font, name);
    nameCache.Layout(&font, name, x + 150 - nameWidth - 10, y);
    nameCache.Draw(&font);
    if (tooltip)
        *tooltip = name;

    char value[128] = {};
    plugin->getParameterDisplay(index, value);
    value[sizeof value - 1] = 0;
    valueCache.Layout(&font, value, x + 150, y);
    valueCache.Draw(&font);
    if (tooltip)
        *tooltip += std::string(" ") + value;

    float penX = x + 190, penY = y;
    char unit[128] = {};
    plugin->getParameterLabel(index, unit);
    unit[sizeof unit - 1] = 0;
    if (unit[0]) {
        penX = unitCache.Layout(&font, unit, penX, y);
        unitCache.Draw(&font);
        if (tooltip)
            *tooltip += std::string(" ") + unit;
        penX += 10;
    }
    DrawParameterExtra(font, index, penX, penY, tooltip);
}

void Manager::DrawTooltip(FontRecord& font, const std::string& text)
{
    UIElement* element = TooltipElement();
    if (!element || text.empty()) {
        tooltipAlpha *= 0.89f;
        if (tooltipAlpha < 0.003921569f)
            tooltipAlpha = 0;
    } else {
        tooltipAlpha = tooltipAlpha * 0.84f + 0.16f;
        tooltipText = text;
        const Box box = UIElement::AbsoluteBox(element);
        tooltipWidth = MeasureText(font, tooltipText);
        const float centreX = box.IsEmpty() ? 0 : (box.x0 + box.x1) / 2;
        tooltipX = std::max(centreX - tooltipWidth / 2, 5.0f);
        tooltipX = std::min(tooltipX, static_cast<float>(PanelWidth()) - 5 - tooltipWidth);
        tooltipY = box.IsEmpty() ? 0 : (box.y0 + box.y1) / 2;
        tooltipLineHeight = font.LineHeight();
    }
    if (tooltipAlpha <= 0)
        return;
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(0.7f, 0.7f, 0.7f, tooltipAlpha * 0.5f);
    glBegin(GL_QUADS);
    glVertex2f(tooltipX - 5, tooltipY);
    glVertex2f(tooltipX + tooltipWidth + 5, tooltipY);
    glVertex2f(tooltipX + tooltipWidth + 5, tooltipY + tooltipLineHeight);
    glVertex2f(tooltipX - 5, tooltipY + tooltipLineHeight);
    glEnd();
    glDisable(GL_BLEND);
    glColor4f(0.8f, 0.8f, 0.8f, tooltipAlpha * 0.9f);
    tooltipCache.Layout(&font, tooltipText, tooltipX, tooltipY - font.Descender());
    tooltipCache.Draw(&font);
}

std::string Manager::TooltipText() const
{
    std::lock_guard<std::mutex> hold(tooltipTextLock);
    return shownTooltipText;
}

float Manager::ReadoutX() const
{
    if (readoutX >= 0)
        return readoutX;
    return bannerMode == kBannerNone ? 25.0f : static_cast<float>(PanelWidth()) / 2 + 15;
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
