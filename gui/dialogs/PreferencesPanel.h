// The About and Preferences dialog, drawn inside the editor: a panel over
// the editor's controls with every field of the dialog (PreferencesModel.h):
// the maker, product and version with a button to the maker's site, "OSC Base
// Port:", "Skin:" with "Open skin folder", the check boxes "Eye candy",
// "Constant redraw" and "Floating tooltip", "VC output arrangement:", and
// OK / Cancel. It is drawn in the editor rather than by another program
// because a form there could show neither the current values nor check boxes,
// and any extra button would close it.
//
// While open the panel takes every press and key of the editor (it is modal
// to its editor) while the editor keeps drawing and the host keeps calling.
// Clicks on the check boxes, the skin and the arrangement take effect at
// once, as in the dialog; OK (or Return) applies the port and closes; Cancel
// (or Escape) closes. Keys: digits and Backspace edit the port.
//
// The panel is the first child of the editor's root group, so that it is
// hit-tested before the controls while open (and takes no hit while closed);
// it draws in the pop-up pass, over every control and renderer. Install it
// once the GUI script built the tree, before the render task starts. It is
// owned by the manager like every element, so closing the editor closes the
// panel with nothing applied.
//
// Threads: Install, Open, presses and keys on the host's UI thread; Update
// and Draw on the render thread. The UI thread hands what is shown to the
// render thread as one copy under a small lock held only for the copy.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "gui/dialogs/PreferencesModel.h"
#include "gui/toolkit/Fonts.h"
#include "gui/toolkit/UIElement.h"

namespace QZ {

class PreferencesPanel : public UIElement {
public:
    // The panel's parts, in window pixels (y up), for a window of the given
    // size: the panel is centred and as large as the window allows.
    enum Part : int {
        kLink = 0,
        kPort,
        kSkinPrevious,
        kSkinNext,
        kOpenSkinFolder,
        kEyeCandy,
        kConstantRedraw,
        kFloatingTooltip,
        kArrangementPrevious,
        kArrangementNext,
        kCancel,
        kOk,
        kPartCount,
    };
    struct Layout {
        Box panel;
        Box parts[kPartCount];
        // Where each text goes: left edge and baseline row.
        float leftColumn = 0, rightColumn = 0;
        float rowHeight = 0;
        float Row(int row) const { return panel.y1 - (static_cast<float>(row) + 1.0f) * rowHeight - 6.0f; }
    };
    static Layout LayOut(float windowWidth, float windowHeight);
    // Which part a window point is on, or -1.
    static int PartAt(const Layout& layout, const Point& point);

    // UI thread, after the GUI script built the tree and before the render
    // task starts. Returns the panel (the same one when already installed),
    // or null when the root element is not a group.
    static PreferencesPanel* Install(Manager& manager);
    // The panel installed in manager, or null.
    static PreferencesPanel* Of(const Manager& manager);

    // UI thread: opens the dialog for the manager's plug-in. False when it is
    // open already.
    bool Open();
    bool IsOpen() const { return model != nullptr; }
    // UI thread: what a click on a part does (also reached by presses).
    void Click(int part);
    // The dialog's model while open (UI thread), for tests and the Lua layer.
    PreferencesModel* Model() const { return model.get(); }

    // Element interface.
    void Update() override;
    void DrawPopup() override;
    UIElement* HitTest(const Point& point) override;
    void MouseDown(const Point& point, uint32_t modifiers, int clicks) override;
    bool KeyDown(uint8_t key) override;
    void InitGL() override;

private:
    explicit PreferencesPanel(Manager* manager) : UIElement(manager) {}
    void Close();
    // render thread, in the pop-up pass: the dialog over everything.
    void DrawDialog();
    // UI thread: hands the model's state to the render thread.
    void Publish();

    std::unique_ptr<PreferencesModel> model;

    // What the render thread draws; guarded by shownLock.
    struct Shown {
        bool open = false;
        std::string product, version, port, skin, arrangement;
        bool eyeCandy = false, constantRedraw = false, floatingTooltip = false;
    };
    mutable std::mutex shownLock;
    Shown shown;

    // render thread
    Shown drawn;
    std::unique_ptr<FontRecord> font;
    std::vector<TextCache> texts;
    size_t nextText = 0;
    void Text(const std::string& text, float x, float y, const Colour& colour);
    void CentredText(const std::string& text, const Box& box, const Colour& colour);
};

// The "Prefs" button action: opens the About and Preferences dialog of the
// editor whose manager is given. False when the editor has no panel or it is
// open already.
bool ShowPreferencesDialog(Manager& manager);

} // namespace QZ
