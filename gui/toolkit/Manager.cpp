#include "gui/toolkit/Manager.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "framework/ObryProperties.h"
#include "gui/editor/ManagerPlatformBridge.h"
#include "gui/toolkit/Effect.h"
#include "gui/toolkit/StaticText.h"
#include "gui/toolkit/UIElement.h"
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

bool Manager::FramePacing()
{
    return gFramePacing.load(std::memory_order_relaxed);
}

bool Manager::LiveOnlyFrames()
{
    return gLiveOnlyFrames.load(std::memory_order_relaxed);
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
    // The layout size, for the rest of the editor's life: a window resized
    // later (even before the render thread starts) stretches it.
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
    renderStopRequested.store(false, std::memory_order_release);
    const int error = renderThread.Start([this](platform::Event& quit) { RenderTaskMain(quit); });
    if (error != 0) {
        DebugPrintf("failed to create render thread: %d\n", error);
        return;
    }
    renderTaskRunning.store(true, std::memory_order_release);
}

void Manager::RequestRenderStop()
{
    renderStopRequested.store(true, std::memory_order_release);
    renderThread.RequestStop();
    if (bridge)
        bridge->StopWaiting();
}

bool Manager::DestroyRenderTask(std::chrono::milliseconds limit)
{
    if (!RenderTaskRunning())
        return true;
    RequestRenderStop();
    if (!renderThread.Stop(limit))
        return false;
    renderTaskRunning.store(false, std::memory_order_release);
    return true;
}

void Manager::SignalRenderEvent(int event)
{
    if (event == kEventQuit) {
        RequestRenderStop();
        return;
    }
    if (event > kEventQuit && event < kRenderEventCount) {
        RequestRedraw();
        events[static_cast<size_t>(event)].Set();
    }
}

} // namespace QZ
