// The editor of every hosted plug-in. Made by the plug-in's Initialize,
// which asks it once for the window size of the plug-in's editor script
// (before any window exists, so that effEditGetRect can answer); each
// effEditOpen then makes a QJmanager and lets the script build the element
// tree into it.
//
// Threads: the host's UI thread (Initialize runs there too).
#pragma once

#include <cstdint>

#include "gui/editor/CarbonVSTEditor.h"

class ObryAuBase;

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

    ObryAuBase* Plugin() const { return plugin; }

protected:
    // The window size the plug-in's editor script asks for. Until the
    // scripts are wired in, every editor gets the default size.
    virtual void GetScriptWindowSize(int32_t& width, int32_t& height);
    // Builds the element tree into a new manager and sets its window size
    // (the script's createUI). Until the scripts are wired in, the window
    // keeps the size getRect reported and shows the empty panel.
    virtual void SetUpGUI(QZ::Manager& manager);

    ObryAuBase* plugin;
};
