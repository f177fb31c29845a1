#include "gui/editor/ObryCorvaneView.h"

#include "framework/ObryProperties.h"
#include "gui/dialogs/PreferencesPanel.h"
#include "gui/luagui/PluginLuaGui.h"
#include "gui/toolkit/QJmanager.h"

ObryCorvaneView::ObryCorvaneView(ObryAuBase* plugin) : QZ::CarbonVSTEditor(plugin), plugin(plugin)
{
    SetRectSize(kDefaultWindowWidth, kDefaultWindowHeight);
}

ObryCorvaneView::~ObryCorvaneView()
{
    // While this class's part still exists: closing may call back into it.
    close();
    if (!ReleaseStranded(std::chrono::milliseconds(0)))
        for (auto& stranded : strandedGuis)
            (void)stranded.release();
}

void ObryCorvaneView::InitWindowSize()
{
    int32_t width = kDefaultWindowWidth;
    int32_t height = kDefaultWindowHeight;
    GetScriptWindowSize(width, height);
    SetRectSize(width, height);
}

void ObryCorvaneView::GetScriptWindowSize(int32_t& width, int32_t& height)
{
    QZ::PluginLuaGui sizing(plugin, this);
    int32_t w = 0, h = 0;
    if (sizing.setupLua())
        sizing.getWindowSize(w, h);
    if (w <= 0 || h <= 0) {
        w = kDefaultWindowWidth;
        h = kDefaultWindowHeight;
    }
    width = w;
    height = h;
}

bool ObryCorvaneView::CreateManager(void*)
{
    manager = std::make_unique<QJmanager>(plugin);
    manager->SetWindowSize(rect.right - rect.left, rect.bottom - rect.top);
    SetUpGUI(*manager);
    // Every editor can show the About and Preferences dialog over its controls.
    QZ::PreferencesPanel::Install(*manager);
    return true;
}

void ObryCorvaneView::SetUpGUI(QZ::Manager& editorManager)
{
    luaGui = std::make_unique<QZ::PluginLuaGui>(plugin, this);
    luaGui->setupGUI(editorManager); // keeps getRect's size when the script gives none
}

bool ObryCorvaneView::Close(std::chrono::milliseconds limit)
{
    const bool stopped = QZ::CarbonVSTEditor::Close(limit);
    // A render thread that did not stop still draws the widgets, which
    // point into the Lua GUI (bindings, fonts of a script): it stays too.
    if (!stopped && luaGui)
        strandedGuis.push_back(std::move(luaGui));
    luaGui.reset();
    return stopped;
}

bool ObryCorvaneView::ReleaseStranded(std::chrono::milliseconds limit)
{
    if (!QZ::CarbonVSTEditor::ReleaseStranded(limit))
        return false;
    strandedGuis.clear();
    return true;
}
