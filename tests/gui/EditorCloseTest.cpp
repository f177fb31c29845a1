// Closing an editor whose render thread does not stop: the thread is left
// running, so everything it can reach (the manager with its fonts and
// elements, the window it draws into, the editor's Lua GUI) must stay alive
// rather than be freed under it. The address sanitizer build sees a frame
// drawn after the close touch freed memory if any of it was freed.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "gui/editor/ObryCorvaneView.h"
#include "gui/luagui/PluginLuaGui.h"
#include "gui/toolkit/QJmanager.h"
#include "gui/toolkit/UIElement.h"
#include "plugins/dc/ObryCorvaneDC.h"
#include "tests/gui/HostWindow.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

namespace {

using corvane::test::WaitFor;

// Holds the render thread in Update until the test lets it go.
class Gate {
public:
    void Wait()
    {
        std::unique_lock<std::mutex> hold(lock);
        entered = true;
        changed.notify_all();
        changed.wait(hold, [&] { return open; });
    }
    void WaitUntilEntered()
    {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return entered; });
    }
    void Open()
    {
        std::lock_guard<std::mutex> hold(lock);
        open = true;
        changed.notify_all();
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false, open = false;
};

class StuckElement : public QZ::UIElement {
public:
    StuckElement(QZ::Manager* manager, Gate& gate) : UIElement(manager), gate(gate) {}
    void Update() override
    {
        if (!passed) {
            passed = true;
            gate.Wait();
        }
    }

private:
    Gate& gate;
    bool passed = false; // render thread
};

class StuckView : public ObryCorvaneView {
public:
    StuckView(ObryAuBase* plugin, Gate& gate) : ObryCorvaneView(plugin), gate(gate) {}

    bool CreateManager(void*) override
    {
        manager = std::make_unique<QJmanager>(plugin);
        manager->SetWindowSize(rect.right - rect.left, rect.bottom - rect.top);
        SetUpGUI(*manager);
        manager->RootGroup()->AddChild(new StuckElement(manager.get(), gate));
        return true;
    }

private:
    Gate& gate;
};

TEST(EditorClose, ARenderThreadThatDoesNotStopKeepsWhatItDraws)
{
    REQUIRE_DISPLAY();
    corvane::test::ScopedUserFolders folders;
    auto dc = corvane::test::MakeInProcess<ObryCorvaneDC::ObryCorvane>();
    Gate gate;
    auto* view = new StuckView(dc.get(), gate);
    dc->ReplaceEditor(view);
    view->InitWindowSize();
    corvane::test::HostWindow host(510, 220, 0x00FF00);
    ASSERT_TRUE(view->open(host.Handle()));
    QZ::Manager* manager = view->GetManager();
    ASSERT_TRUE(view->LuaGui());
    gate.WaitUntilEntered();

    // Given up on after 100 ms.
    EXPECT_FALSE(view->Close(std::chrono::milliseconds(100)));
    EXPECT_EQ(view->GetManager(), nullptr);
    EXPECT_EQ(view->LuaGui(), nullptr);
    // Let it go: it finishes its frame with the script's fonts, knobs and
    // texts, then sees the quit event and releases GL in its window.
    const uint64_t drawn = manager->FramesDrawn();
    gate.Open();
    EXPECT_TRUE(WaitFor([&] { return manager->FramesDrawn() > drawn; }));
    // Waited for again now that it can end: what it drew with goes.
    EXPECT_TRUE(view->ReleaseStranded(std::chrono::milliseconds(20000)));
}

// A render thread that is only slow to stop (here held in a frame for four
// times the close's budget): no script holds it, so the plug-in's close waits
// for it past the budget, and nothing is kept.
TEST(EditorClose, AClosePastItsBudgetWaitsForAThreadNoScriptHolds)
{
    REQUIRE_DISPLAY();
    corvane::test::ScopedUserFolders folders;
    auto dc = corvane::test::MakeInProcess<ObryCorvaneDC::ObryCorvane>();
    Gate gate;
    auto* view = new StuckView(dc.get(), gate);
    dc->ReplaceEditor(view);
    view->InitWindowSize();
    corvane::test::HostWindow host(510, 220, 0x00FF00);
    ASSERT_TRUE(view->open(host.Handle()));
    gate.WaitUntilEntered();
    // The hold outlasts the budget: it ends well after the close began.
    std::thread opener([&gate] {
        std::this_thread::sleep_for(4 * ObryCorvaneBase::kCloseBudget);
        gate.Open();
    });
    ObryCorvaneBase* plugin = dc.release();
    corvane::test::StderrCapture capture;
    plugin->close();
    opener.join();
    EXPECT_FALSE(plugin->MustOutliveClose());
    EXPECT_EQ(view->GetManager(), nullptr);
    EXPECT_TRUE(view->ReleaseStranded(std::chrono::milliseconds(0)));
    EXPECT_EQ(capture.Text().find("effClose:"), std::string::npos);
    plugin->ReleaseAfterClose();
}

} // namespace
