// QZ::Manager: the heart of one open editor. It owns the element tree, the
// renderers and the platform bridge, and runs the editor's render thread,
// which sets GL up, draws a frame at least every 33 ms and tears GL down
// again.
//
// A frame has three layers: the panel (a 1024 x 512 texture holding the
// background and the static labels, drawn into only at start and when asked
// to), a lit perspective pass, and the pixel-coordinate overlay in which the
// elements and renderers draw every frame.
//
// Threads: the host's UI thread makes the manager, builds the element tree,
// starts and stops the render task and calls the input operations; the
// render thread runs everything from InitGL to ReleaseGL. The two share the
// element tree and the small fields below without a lock; what the UI
// thread changes while the render thread runs is atomic. Events are the only
// signalling between them.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/LearnTargetAddress.h"
#include "framework/vst/VstAbi.h"
#include "gui/toolkit/Fonts.h"
#include "gui/toolkit/FramePacer.h"
#include "gui/toolkit/Geometry.h"
#include "gui/toolkit/Textures.h"
#include "platform/Event.h"
#include "platform/WorkerThread.h"

class ObryAuBase;

namespace QZ {

class Effect;
class Group;
class ManagerPlatformBridge;
class StaticText;
class UIElement;

// One plug-in parameter as the editor shows it.
struct ParameterLabelRecord {
    int32_t index = 0;
    char name[56] = {};
    uint32_t unit = 0;
    float minimum = 0;
    float maximum = 0;
    float defaultValue = 0;
    ObryAuBase* plugin = nullptr;
};

class Manager {
public:
    static constexpr int kPanelTextureWidth = 1024;
    static constexpr int kPanelTextureHeight = 512;
    static constexpr int64_t kFrameIntervalMs = 33;
    // Window sizes are kept within this range: GL needs at least one pixel,
    // and the window rectangle the host reads holds 16-bit values.
    static constexpr int kMaxWindowSide = 16384;
    // A window resized by its corner stays within these sizes: at most the
    // panel texture, at least room for the banner strip (40 pixels of
    // margin, the readout's name and value columns) above one control.
    static constexpr int kMaxResizeWidth = 1024;
    static constexpr int kMaxResizeHeight = 512;
    static constexpr int kMinResizeWidth = 240;
    static constexpr int kMinResizeHeight = 80;
    // The triangle at the bottom-right corner that starts a resize.
    static constexpr float kResizeCorner = 16;
    // The least room between the readout's end and the banner strip's.
    static constexpr float kReadoutMargin = 5;

    // The render thread's events.
    enum RenderEvent : int {
        kEventQuit = 0,
        kEventReserved1 = 1,
        kEventPause = 2,       // stop drawing until the quit or redraw-panel event
        kEventReserved3 = 3,
        kEventSizeChanged = 4, // the window was resized
        kEventRedrawPanel = 5, // draw the panel labels again
        kRenderEventCount = 6,
    };

    // Banner modes.
    enum BannerMode : int { kBannerFull = 0, kBannerNameOnly = 1, kBannerNone = 2 };

    using EditCallback = void (*)(int32_t index, void* context);
    using MouseCallback = void (*)(void* context);

    // Releases GL objects of the manager's own when the render thread ends,
    // with the window context current.
    class RenderingShutdowner {
    public:
        virtual ~RenderingShutdowner() = default;
        virtual void Shutdown() {}
    };

    // UI thread. Reads the editor preferences and the plug-in's parameter
    // table.
    explicit Manager(ObryAuBase* plugin);
    // UI thread. Stops the render task (see DestroyRenderTask: an owner that
    // must survive a render thread that does not stop calls it first).
    virtual ~Manager();
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;

    // render thread: once per frame, before drawing.
    virtual void Update();
    // render thread: builds the manager's own shader programs.
    virtual void SetUpShaders() {}
    virtual RenderingShutdowner* CreateRenderingShutdowner();
    // render thread: the panel quad, in normalised device coordinates.
    virtual void Draw2D();
    // render thread: after the readout's unit, with the pen at (x, y);
    // appends to the tooltip text.
    virtual void DrawParameterExtra(FontRecord&, int32_t /*index*/, float& /*x*/, float& /*y*/,
                                    std::string* /*tooltip*/)
    {
    }
    // render thread: what lies under the labels in the panel texture.
    virtual void DrawPanel() {}

    // Element tree and renderers: UI thread, before the render task starts.
    void AddElement(UIElement* element);
    void adoptRenderer(Effect* effect);
    // The root group, made by the constructor: the GUI script adds its
    // elements and groups to it.
    Group* RootGroup() const { return rootGroup; }
    // The element that receives hit tests (the root group unless replaced);
    // it must be one of this manager's.
    void SetRootElement(UIElement* element) { root = element; }
    UIElement* Root() const { return root; }
    size_t ElementCount() const { return elements.size(); }
    // Lets the root's pop-ups (open drop-down lists) draw on top of all else.
    void SetDrawPopups(bool draw) { drawPopups.store(draw, std::memory_order_relaxed); }

    // Fonts: UI thread, before the render task starts. The manager owns
    // them; the render thread preloads their glyphs and releases their
    // textures. main: banner, readout, tooltip, static texts; label: the
    // panel labels (DrawLabels); text field: the text fields. Each returns
    // the record it was given (null stays null).
    FontRecord* SetMainFont(std::unique_ptr<FontRecord> font);
    FontRecord* SetLabelFont(std::unique_ptr<FontRecord> font);
    FontRecord* SetTextFieldFont(std::unique_ptr<FontRecord> font);
    // Any other font an element draws with.
    FontRecord* AddFont(std::unique_ptr<FontRecord> font);
    FontRecord* MainFont() const { return mainFont.get(); }
    FontRecord* LabelFont() const { return labelFont.get(); }
    FontRecord* TextFieldFont() const { return textFieldFont.get(); }
    const std::vector<std::unique_ptr<FontRecord>>& Fonts() const { return fonts; }
    // Textures: UI thread, before the render task starts. The render thread
    // loads every record not marked on-demand when GL starts, and deletes
    // their GL names when it ends.
    TextureRecord* AddTexture(std::unique_ptr<TextureRecord> record);
    const std::vector<std::unique_ptr<TextureRecord>>& Textures() const { return textures; }
    // The fixed texts of the editor (labels, group titles, banner).
    StaticText* Text() const { return staticText; }

    // Tooltip texts of the buttons that are bound to no parameter, by their
    // negative command ids.
    void RegisterCommandNames();
    int32_t CommandIdForName(const char* text);
    // The text of a command id, or null.
    const char* CommandText(int32_t id) const;

    // Window: UI thread.
    void SetWindowSize(int width, int height);
    int WindowWidth() const { return windowWidth.load(std::memory_order_relaxed); }
    int WindowHeight() const { return windowHeight.load(std::memory_order_relaxed); }
    // The size the layout was made for (0 until MakeTitle or the render
    // thread's start); a resized window stretches it.
    int PanelWidth() const { return panelWidth.load(std::memory_order_relaxed); }
    int PanelHeight() const { return panelHeight.load(std::memory_order_relaxed); }
    // Sets the banner text and the view geometry for the current window
    // size. Before the render task starts.
    void MakeTitle();
    const std::string& BannerText() const { return bannerText; }
    const ERect& WindowRect() const { return windowRect; }
    // The editor script's banner rectangle (window pixels), and its mode
    // with the title's x and the read-out's x (negative: after the title).
    // Before the render task starts.
    void SetBannerBounds(const Box& box) { bannerBox = box; }
    void SetBannerContent(int mode, float titleX, float readoutAt)
    {
        bannerMode = mode;
        bannerTextX = titleX;
        readoutX = readoutAt;
    }
    void SetBannerPosition(float y);
    void SetBannerMode(int mode) { bannerMode = mode; }
    int BannerMode() const { return bannerMode; }
    Box BannerBox() const { return bannerBox; }
    void SetBannerColour(const Colour& colour) { bannerColour = colour; }
    // The banner strip as a rectangle (x0, y0) to (x1, y1).
    void SetBannerBounds(float x0, float y0, float x1, float y1)
    {
        bannerBox.x0 = x0, bannerBox.y0 = y0, bannerBox.z0 = 0;
        bannerBox.x1 = x1, bannerBox.y1 = y1, bannerBox.z1 = 0;
    }
    // Where the banner's title starts (before MakeTitle).
    void SetBannerTextX(float x) { bannerTextX = x; }
    // Where the parameter readout starts; negative: automatic.
    void SetReadoutX(float x) { readoutX = x; }
    float ReadoutX() const;
    // The banner and readout text colour of every editor made afterwards
    // (any thread).
    static void SetBannerTextColour(const Colour& colour);
    // This editor's banner and readout text colour (before the render task
    // starts).
    void UseBannerTextColour(const Colour& colour) { bannerTextColour = colour; }
    Colour BannerTextColour() const { return bannerTextColour; }
    Colour BannerColour() const { return bannerColour; }
    static Colour DefaultBannerTextColour();
    // Shows this instance's numbers at the right end of the banner (the
    // Learner's editor).
    void SetShowInstanceNumber(bool show) { showInstanceNumber.store(show, std::memory_order_relaxed); }
    // The panel's background. Before the render task starts, or followed by
    // the redraw-panel event.
    void SetBackgroundColour(float red, float green, float blue);
    Colour BackgroundColour() const { return backgroundColour; }

    // Bridge and the editor's callbacks: UI thread, before the render task.
    void SetBridge(ManagerPlatformBridge* bridge); // takes ownership
    ManagerPlatformBridge* Bridge() const { return bridge.get(); }
    void SetEditCallbacks(EditCallback begin, EditCallback end, void* context);
    void SetMouseCallbacks(MouseCallback capture, MouseCallback release, void* context);

    // Render task: UI thread.
    void CreateRenderTask();
    // Asks the render thread to end without waiting: it begins no further
    // pass (a frame under way is finished) and leaves its GL set-up at the
    // next step.
    void RequestRenderStop();
    // Asks it to end and waits at most `limit`. False when it has not ended
    // yet: it is left running, and everything it uses (this manager with its
    // bridge and elements) must stay alive; a later call waits again.
    bool DestroyRenderTask(std::chrono::milliseconds limit = corvane::platform::WorkerThread::kDefaultStopTimeout);
    bool RenderTaskRunning() const { return renderTaskRunning.load(std::memory_order_acquire); }
    // Any thread: wakes the render thread with one of its events (1 .. 5).
    void SignalRenderEvent(int event);
    // Any thread, no lock: the picture changed in a way the manager cannot
    // see (a script changed a text or a colour, the window was exposed): the
    // next passes draw at the full rate. Input, parameter values and events
    // count by themselves.
    void RequestRedraw() { redrawRequests.fetch_add(1, std::memory_order_relaxed); }

    // What the render thread has done, for diagnostics and tests.
    uint64_t FramesDrawn() const { return framesDrawn.load(std::memory_order_acquire); }
    // Passes of the render loop so far, drawn or not (tests).
    uint64_t RenderPasses() const { return renderPasses.load(std::memory_order_acquire); }
    // Of the frames drawn, those that redrew only the live elements' area
    // over the frame before (diagnostics, tests).
    uint64_t LiveFramesDrawn() const { return liveFramesDrawn.load(std::memory_order_acquire); }
    bool PanelRendered() const { return panelRendered.load(std::memory_order_acquire); }
    // Whether the panel labels go through a framebuffer object (else the
    // off-screen context). Valid once PanelRendered().
    bool UsesFramebuffer() const { return usesFramebuffer.load(std::memory_order_acquire); }
    float FrameRate() const { return frameRate.load(std::memory_order_relaxed); }
    float FrameTime() const { return frameTime; }
    double TotalTime() const { return totalTime; }

    // Input: UI thread. Points are in window pixels with y growing upwards
    // from the bottom edge; modifiers is CarbonVSTEditor's mask.
    void MouseMove(const Point& point);
    void MouseDown(const Point& point, uint32_t modifiers, int clicks);
    void MouseDrag(const Point& point, uint32_t modifiers);
    void MouseUp(const Point& point, uint32_t modifiers);
    // A wheel turned by notches (positive away from the user) over point: a
    // press, a drag of 10 pixels per notch and a release, to whatever
    // element lies under the pointer (a drop-down moves its highlight and
    // selects, a button acts on the release).
    void MouseWheel(const Point& point, uint32_t modifiers, int notches);
    // The point an element sees: window pixels scaled to the layout size
    // (the panel size) after the user resized the window.
    Point LayoutPoint(const Point& point) const;
    // The other way: a box of the layout in window pixels (what a scissor
    // box is given in). Any thread.
    Box WindowBox(const Box& layout) const;
    bool Resizing() const { return resizing; }
    // The hover set's members, in its order (for diagnostics and tests).
    std::vector<UIElement*> HoveredElements() const;
    void SetKeyFocus(UIElement* element);
    UIElement* KeyFocus() const { return keyFocus; }
    // Starts an edit gesture on a parameter (ending one on another first).
    void BeginParameterEdit(int32_t index);
    // Ends the edit gesture on index when it is the one being edited.
    void EndParameterEdit(int32_t index);
    int32_t EditedParameter() const { return editedParameter.load(std::memory_order_relaxed); }
    int32_t HoveredParameter() const { return hoveredParameter.load(std::memory_order_relaxed); }
    void SetHoveredParameter(int32_t index)
    {
        hoveredParameter.store(index, std::memory_order_relaxed);
        RequestRedraw();
    }
    // The element the floating tooltip sits on (set by MouseEnter).
    void SetTooltipElement(UIElement* element) { tooltipElement.store(element, std::memory_order_relaxed); }
    UIElement* TooltipElement() const { return tooltipElement.load(std::memory_order_relaxed); }
    UIElement* LastEntered() const { return lastEntered.load(std::memory_order_relaxed); }

    // A line for the person in the readout's place (a dialog that could not
    // be shown), drawn while no parameter or button is shown there, until
    // the next press in the editor. Any thread; "" takes it away.
    void ShowNotice(const std::string& text);
    std::string Notice() const;

    // render thread, overlay pass: name, value and unit of a parameter from
    // (x, y); appends "name value unit" to tooltip when given.
    void DrawParameterLabel(FontRecord& font, int32_t index, float x, float y, std::string* tooltip);
    // Any thread: the text the readout showed in the last frame ("name value
    // unit", or a command text), which the floating tooltip shows too.
    std::string TooltipText() const;

    // The texts that name the learn target (the parameter last touched in
    // any editor): framework/LearnTargetAddress.h says what they are. Any
    // thread but the audio thread; takes the registry lock.
    using OSCAddressTexts = LearnTargetAddressTexts;
    static OSCAddressTexts OSCAddressText();

    ObryAuBase* Plugin() const { return plugin; }
    uint8_t* IndicatorBlock() const { return indicatorBlock; }
    uint32_t ManagerNumber() const { return managerNumber; }
    const std::vector<ParameterLabelRecord>& ParameterLabels() const { return parameterLabels; }

    // The editor preferences, read by every manager constructor. Constant
    // redraw is kept for the preferences dialog only: the render thread
    // draws a frame at least every 33 ms either way.
    static bool EyeCandyEnabled();
    static bool ConstantRedrawEnabled();
    static bool FloatingTooltipEnabled();
    // The preferences dialog's check boxes (any thread): every open editor
    // follows from its next frame.
    static void SetEyeCandyEnabled(bool enabled);
    static void SetConstantRedrawEnabled(bool enabled);
    static void SetFloatingTooltipEnabled(bool enabled);

    // Draws the panel labels through the off-screen context even when the
    // driver has framebuffer objects, so that path can be checked on any
    // machine. Also set by the environment variable
    // CORVANE_GL_OFFSCREEN_PANEL=1. Read when a render thread sets GL up.
    static void SetForceOffscreenPanel(bool force);
    // Whether editors at rest draw only every few passes (the default) or
    // every pass; for measurements. Any thread.
    static void SetFramePacing(bool pace);
    // Whether a frame in which only the indicator block changed redraws
    // just the live elements' area (the default) or the whole window; for
    // measurements and tests. Any thread.
    static void SetLiveOnlyFrames(bool liveOnly);
    static bool ForceOffscreenPanel();
    static bool FramePacing();
    static bool LiveOnlyFrames();

protected:
    // render thread
    void RenderTaskMain(corvane::platform::Event& quit);
    void InitGL();
    void RenderPanel();
    // The whole window, or (liveOnly) only the area of the elements that
    // draw live data, over the frame before, which the frame drawable keeps.
    void RenderFrame(bool liveOnly = false);
    // Whether this pass draws: something changed since the last pass, or
    // the pacer says so. Sets liveOnlyFrame when all that changed is what
    // the live elements show.
    bool FrameWanted();
    // The window area the live elements draw in (window pixels, y up, a
    // margin for markers and smoothed lines included); false when there is
    // none.
    bool LiveArea(int& x, int& y, int& width, int& height);
    void DrawLit();
    void DrawOverlay();
    void ReleaseGL();
    // render thread: the panel texture on one quad over the window, with
    // whatever program is current.
    void DrawPanelQuad();
    // Fills the panel texture with the background colour when no labels can
    // be drawn into it.
    void FillPanelWithBackground();
    // UI thread: one step of the corner drag.
    void ResizeDrag(const Point& point);
    // The banner strip, the readout of the edited or hovered parameter (or
    // the hovered button's command text, or the notice) and the instance
    // number. True when a readout text was shown; it is copied to tooltip
    // when given.
    bool DrawBannerAndReadout(FontRecord& font, std::string* tooltip);
    // Where the parameter readout of index ends when it starts at x.
    float ParameterLabelEnd(FontRecord& font, int32_t index, float x);
    // The floating tooltip over the tooltip element, fading in while there
    // is text and out when there is none.
    void DrawTooltip(FontRecord& font, const std::string& text);

    uint32_t PanelTexture() const { return panelTexture; }

    // Owned: elements (the root among them), renderers, bridge, fonts,
    // textures.
    std::vector<UIElement*> elements;
    std::vector<Effect*> effects;
    StaticText* staticText = nullptr; // one of effects
    std::vector<std::unique_ptr<TextureRecord>> textures;
    std::vector<std::unique_ptr<FontRecord>> fonts;
    std::unique_ptr<FontRecord> mainFont;
    std::unique_ptr<FontRecord> labelFont;
    std::unique_ptr<FontRecord> textFieldFont;
    UIElement* root = nullptr;
    Group* rootGroup = nullptr;
    std::unique_ptr<ManagerPlatformBridge> bridge;

    EditCallback beginEditCallback = nullptr;
    EditCallback endEditCallback = nullptr;
    void* editContext = nullptr;
    MouseCallback captureCallback = nullptr;
    MouseCallback releaseCallback = nullptr;
    void* captureContext = nullptr;
    UIElement* capturedElement = nullptr;
    uint32_t capturedModifiers = 0;
    // Hover set: each entered element with its absolute box at entry.
    std::map<UIElement*, Box> hoverSet;
    // Resize drag.
    bool resizing = false;
    float resizePressX = 0;
    float resizePressFromTop = 0;
    int resizePressWidth = 0;
    int resizePressHeight = 0;
    UIElement* keyFocus = nullptr;
    std::atomic<bool> drawPopups{false};

    std::vector<ParameterLabelRecord> parameterLabels;
    uint32_t managerNumber;

    // GL names (render thread).
    uint32_t panelTexture = 0;
    uint32_t framebuffer = 0;
    uint32_t windowDrawBuffer = 0; // the window framebuffer's draw buffer
    int32_t panelFilter = 0;       // the panel texture's filter as last set (0: as made)
    bool glReady = false;

    ERect windowRect{};
    std::atomic<int32_t> hoveredParameter{-1};
    std::atomic<int32_t> editedParameter{-1};
    Point lightTarget;
    std::atomic<UIElement*> tooltipElement{nullptr};
    std::atomic<UIElement*> lastEntered{nullptr};
    std::atomic<bool> showInstanceNumber{false};

    // Overlay state (render thread).
    float tooltipAlpha = 0;
    float tooltipX = 0, tooltipY = 0, tooltipWidth = 0, tooltipLineHeight = 0;
    std::string tooltipText;
    mutable std::mutex tooltipTextLock; // the copy TooltipText() hands out, and the notice
    std::string shownTooltipText;
    std::string notice;
    int32_t cachedCommandId = 0;
    const char* cachedCommandText = nullptr;
    TextCache nameCache, valueCache, unitCache, commandCache, instanceCache, tooltipCache, noticeCache;

    std::map<int32_t, std::string> commands;

    Colour bannerColour{0.9f, 0.9f, 0.9f, 0.1f};
    Colour backgroundColour{0, 0, 0, 1};
    Box bannerBox;
    int bannerMode = kBannerFull;
    Colour bannerTextColour;
    int32_t bannerEntry = -1;
    float bannerTextX = 60.0f;
    float readoutX = -1.0f;
    std::string bannerText;

    // View geometry (MakeTitle).
    float aspect = 1;
    float twoOverWidth = 2;
    float twoOverHeight = 2;
    float fieldOfView = 65;
    float cameraZ = 1;
    float cameraX = 0.5f;
    float cameraY = 0.5f;

    std::atomic<float> frameRate{0};
    float frameTime = 0;
    double totalTime = 0;

    std::atomic<int> windowWidth{1};
    std::atomic<int> windowHeight{1};
    std::atomic<int> panelWidth{0};
    std::atomic<int> panelHeight{0};

    float light1Position[4] = {0, 0, 50.0f, 1.0f};

    // Render task.
    std::atomic<bool> renderTaskRunning{false};
    std::atomic<bool> renderStopRequested{false};
    // Render thread: whether the task is to end (the quit event wakes it).
    bool RenderStopRequested() const { return renderStopRequested.load(std::memory_order_acquire); }
    corvane::platform::WorkerThread renderThread{"QZ render"};
    std::array<corvane::platform::Event, kRenderEventCount> events; // [0] unused: the thread's own quit event
    std::unique_ptr<RenderingShutdowner> shutdowner;
    ObryAuBase* plugin;
    uint8_t* indicatorBlock = nullptr;

    std::atomic<uint64_t> framesDrawn{0};
    std::atomic<uint64_t> renderPasses{0};
    std::atomic<uint64_t> liveFramesDrawn{0};
    // Change detection (render thread but the counter).
    std::atomic<uint64_t> redrawRequests{0};
    uint64_t seenRedrawRequests = 0;
    uint64_t seenRegistryChanges = 0;
    std::vector<float> seenParameters;
    bool liveElements = false; // an element draws what the audio thread writes
    std::vector<uint8_t> seenIndicators; // render thread: the indicator block at the last pass
    FramePacer pacer;
    // Settles after the last change other than the indicator block: until
    // then frames are whole (easing colours, a fading tooltip).
    FramePacer stillPacer;
    bool liveOnlyFrame = false;
    // The frame drawable holds a whole frame at the window's current size.
    bool frameComplete = false;
    std::atomic<bool> panelRendered{false};
    std::atomic<bool> usesFramebuffer{false};
};

} // namespace QZ
