// What the About and Preferences dialog shows and what each of its controls
// does, apart from how it is drawn. The dialog is opened from an editor's
// preferences button with that editor's plug-in; it shows the product and
// version, a link to the maker's site and these preferences:
//   - "OSC Base Port": applied by OK (written as the preference, made the
//     process-wide base port, and the plug-in's OSC port re-applied);
//   - "Skin" (a list with "Default" first, then the skins found): written
//     at once and offered to the plug-in; editors opened later use it;
//     "Open skin folder" shows the skins folder in the file manager;
//   - "Eye candy", "Constant redraw", "Floating tooltip": each click flips
//     the process-wide flag and writes it; open editors follow at once;
//   - "VC output arrangement" ("5.1", "Stereo x3", "Mono x6"): written at
//     once; Voice Controllers read it when they start.
//
// Threads: the host's UI thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class ObryAuBase;

namespace QZ {

class PreferencesModel {
public:
    static constexpr const char* kTitle = "About";
    static constexpr const char* kMaker = "Ormbury";
    static constexpr const char* kMakerLinkText = "Visit the Ormbury web site";
    // Where the maker publishes the product.
    static constexpr const char* kMakerAddress = "https://ormbury.example/corvane/";
    static constexpr const char* kDefaultSkin = "Default";
    static constexpr std::array<const char*, 3> kArrangements = {"5.1", "Stereo x3", "Mono x6"};
    static constexpr int kDefaultArrangement = 1;
    // The port field takes digits only, as many as its line holds.
    static constexpr size_t kMaxPortTextLength = 255;

    // Reads everything the dialog starts with: the flags, the base port,
    // the arrangement and skin preferences, and the skins of the plug-in's
    // product.
    explicit PreferencesModel(ObryAuBase* plugin);

    // Shown texts and states.
    const std::string& ProductText() const { return productText; }
    const std::string& VersionText() const { return versionText; }
    const std::vector<std::string>& Skins() const { return skins; } // "Default" first
    int SelectedSkin() const { return selectedSkin; }
    const std::string& PortText() const { return portText; }
    bool EyeCandy() const;
    bool ConstantRedraw() const;
    bool FloatingTooltip() const;
    int Arrangement() const { return arrangement; } // -1: the preference names none of the three

    // The controls.
    // Keeps the digits of text (at most kMaxPortTextLength of them).
    void SetPortText(const std::string& text);
    void ToggleEyeCandy();
    void ToggleConstantRedraw();
    void ToggleFloatingTooltip();
    // index into Skins(); outside it is ignored. 0 chooses the default skin.
    void ChooseSkin(int index);
    // 0..2; anything else is ignored.
    void ChooseArrangement(int index);
    // False when the folder cannot be shown (no user folder, no opener).
    bool OpenSkinFolder();
    bool VisitMakerSite();
    // OK: a port text giving a port of 1..65535 is applied (see above);
    // anything else (empty, no number, 0, too large) is ignored. The caller
    // closes the dialog either way.
    void Ok();

private:
    std::string Product() const;

    ObryAuBase* plugin;
    std::string productText;
    std::string versionText;
    std::vector<std::string> skins;
    int selectedSkin = 0;
    std::string portText;
    int arrangement = kDefaultArrangement;
};

} // namespace QZ
