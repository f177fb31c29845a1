// The editor of every hosted plug-in. Made by the plug-in's Initialize,
// which asks it once for the window size of the plug-in's editor script
// (before any window exists, so that effEditGetRect can answer); each
// effEditOpen then makes a QJmanager and lets the script build the element
// tree into it.
//
// Threads: the host's UI thread (Initialize runs there too).
#pragma once

#include <cstdint>
#include <chrono>
#include <memory>
#include <vector>

#include "gui/editor/CarbonVSTEditor.h"

class ObryAuBase;

namespace QZ {
class PluginLuaGui;
}

class ObryCorvaneView : public QZ::CarbonVSTEditor {
public:
    // The editor size a plug-in has before its script says otherwise.
    static constexpr int kDefaultWindowWidth = 510;
    static constexpr int kDefaultWindowHeight = 220;

    explicit ObryCorvaneView(ObryAuBase* plugin);
    ~ObryCorvaneView() override;

    // Asks the editor script for the window size and keeps it for getRect.
    void InitWindowSize();

    bool CreateManager(void* parentWindow) override;
    // Closes the window, then the editor's Lua state.
    bool Close(std::chrono::milliseconds limit) override;
    bool ReleaseStranded(std::chrono::milliseconds limit) override;

    ObryAuBase* Plugin() const { return plugin; }
    // The open editor's Lua GUI (null while closed, or when a subclass
    // builds the editor itself).
    QZ::PluginLuaGui* LuaGui() const { return luaGui.get(); }

protected:
    // The window size the plug-in's editor script asks for: a throw-away
    // Lua state runs the scripts and answers; a missing, failing or absurd
    // answer (not a positive size) gives the default size.
    virtual void GetScriptWindowSize(int32_t& width, int32_t& height);
    // Builds the element tree into a new manager and sets its window size
    // (the script's createUI).
    virtual void SetUpGUI(QZ::Manager& manager);

    ObryAuBase* plugin;
    std::unique_ptr<QZ::PluginLuaGui> luaGui;

private:
    // Lua GUIs whose widgets a render thread left running still draws.
    std::vector<std::unique_ptr<QZ::PluginLuaGui>> strandedGuis;
};
