// Closing an editor whose render thread does not stop: the thread is left
// running, so everything it can reach (the manager with its fonts and
// elements, the window it draws into, the editor's Lua GUI) must stay alive
// rather than be freed under it. The address sanitizer build sees a frame
// drawn after the close touch freed memory if any of it was freed.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

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
    // A wait longer than a plug-in close's budget lets the render thread go:
    // it is only slow to stop.
    bool ReleaseStranded(std::chrono::milliseconds limit) override
    {
        if (limit > ObryCorvaneBase::kCloseBudget)
            gate.Open();
        return ObryCorvaneView::ReleaseStranded(limit);
    }

private:
    Gate& gate;
};

// A DC plug-in whose editor, open in a host window, has its render thread
// held in its first frame.
class EditorClose : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        view = new StuckView(dc.get(), gate);
        dc->ReplaceEditor(view);
        view->InitWindowSize();
        ASSERT_TRUE(view->open(host.Handle()));
        gate.WaitUntilEntered();
    }
    void TearDown() override { gate.Open(); } // a close that kept the plug-in left its thread held

    corvane::test::ScopedUserFolders folders;
    Gate gate;
    corvane::test::HostWindow host{510, 220, 0x00FF00};
    corvane::test::InProcessPlugin<ObryCorvaneDC::ObryCorvane> dc =
        corvane::test::MakeInProcess<ObryCorvaneDC::ObryCorvane>();
    StuckView* view = nullptr;
};

TEST_F(EditorClose, ARenderThreadThatDoesNotStopKeepsWhatItDraws)
{
    QZ::Manager* manager = view->GetManager();
    ASSERT_TRUE(view->LuaGui());
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

// A render thread held in a frame until the plug-in's close has spent its
// budget: no script holds it, so the close waits for it, and keeps nothing
// (the in-process closer fails the test otherwise).
TEST_F(EditorClose, AClosePastItsBudgetWaitsForAThreadNoScriptHolds)
{
    dc.reset();
}

} // namespace
