// The render thread's start and stop, alone and with several editors
// drawing at once (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gui/editor/EditorWindow.h"
#include "gui/toolkit/Manager.h"
#include "gui/editor/ManagerWin32Bridge.h"
#include "gui/editor/ObryCorvaneView.h"
#include "gui/toolkit/QJmanager.h"
#include "tests/framework/TestPlugin.h"
#include "tests/gui/HostWindow.h"
#include "tests/scripting/OscPeer.h"
#include "tests/scripting/OscTestPlugin.h"
#include "tests/support/TestSupport.h"

using corvane::test::HostWindow;
using corvane::test::WaitFor;

namespace {

#define REQUIRE_DISPLAY()                                  \
    do {                                                   \
        if (!corvane::test::HaveDisplay())                 \
            GTEST_SKIP() << "no X server (DISPLAY unset)"; \
    } while (0)

TEST(RenderThread, StartsAndStopsRepeatedlyOnOneWindow)
{
    REQUIRE_DISPLAY();
    corvane::test::ScopedUserFolders folders;
    corvane::test::TestPlugin plugin;
    HostWindow host(400, 300, 0x00FF00);
    std::string error;
    auto window = QZ::EditorWindow::Create(host.Id(), 200, 100, &error);
    ASSERT_TRUE(window) << error;

    QJmanager manager(&plugin);
    manager.SetWindowSize(200, 100);
    manager.MakeTitle();
    manager.SetBridge(new QZ::ManagerWin32Bridge(window->Handle(), host.Id(), window->DisplayName(), window.get()));
    for (int round = 0; round < 12; ++round) {
        manager.CreateRenderTask();
        ASSERT_TRUE(manager.RenderTaskRunning()) << round;
        switch (round % 4) {
        case 0: // stop at once, maybe before GL is up
            break;
        case 1: // stop after drawing
            EXPECT_TRUE(WaitFor([&] { return manager.FramesDrawn() >= 3; })) << round;
            break;
        case 2: // pause, redraw the panel while paused, then stop
            EXPECT_TRUE(WaitFor([&] { return manager.PanelRendered(); })) << round;
            manager.SignalRenderEvent(QZ::Manager::kEventPause);
            manager.SignalRenderEvent(QZ::Manager::kEventRedrawPanel);
            manager.SignalRenderEvent(QZ::Manager::kEventSizeChanged);
            break;
        case 3: // events from another thread while it draws
        {
            std::thread other([&] {
                for (int i = 0; i < 50; ++i)
                    manager.SignalRenderEvent(1 + i % 5);
            });
            other.join();
            manager.SignalRenderEvent(QZ::Manager::kEventRedrawPanel);
            EXPECT_TRUE(WaitFor([&] { return manager.PanelRendered(); })) << round;
            break;
        }
        }
        EXPECT_TRUE(manager.DestroyRenderTask()) << round;
        EXPECT_FALSE(manager.RenderTaskRunning());
        EXPECT_EQ(manager.ShaderProgram(), 0u) << round;
    }
    manager.SetBridge(nullptr);
}

TEST(RenderThread, SeveralEditorsDrawAtOnce)
{
    REQUIRE_DISPLAY();
    corvane::test::ScopedUserFolders folders;
    constexpr int kEditors = 3;
    std::vector<std::unique_ptr<corvane::test::TestPlugin>> plugins;
    std::vector<std::unique_ptr<HostWindow>> hosts;
    for (int i = 0; i < kEditors; ++i) {
        plugins.push_back(std::make_unique<corvane::test::TestPlugin>());
        hosts.push_back(std::make_unique<HostWindow>(600, 300, 0x00FF00));
    }
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < kEditors; ++i)
            ASSERT_TRUE(plugins[i]->getEditor()->open(hosts[i]->Handle())) << i;
        for (int i = 0; i < kEditors; ++i) {
            auto* view = static_cast<ObryCorvaneView*>(plugins[i]->getEditor());
            EXPECT_TRUE(WaitFor([&] {
                view->idle();
                return view->GetManager()->FramesDrawn() >= 3;
            })) << i;
        }
        // Closed in another order than opened.
        for (int i = kEditors - 1; i >= 0; --i) {
            plugins[i]->getEditor()->close();
            EXPECT_TRUE(hosts[i]->Children().empty()) << i;
        }
    }
}

// Editors open and close (drawing the banner, the readout of a parameter
// that changes under them and the instance numbers) while an audio thread
// runs blocks and the OSC server sets parameters of every instance.
TEST(RenderThread, EditorsOpenWhileAudioAndOSCChangeParameters)
{
    REQUIRE_DISPLAY();
    const int base = corvane::test::UniquePortBase();
    corvane::test::ScopedUserFolders folders(base);
    constexpr int kEditors = 3;
    std::vector<std::unique_ptr<corvane::test::OscTestPlugin>> plugins;
    std::vector<std::unique_ptr<HostWindow>> hosts;
    for (int i = 0; i < kEditors; ++i) {
        plugins.push_back(std::make_unique<corvane::test::OscTestPlugin>(0));
        plugins.back()->SetParameterValue(0, static_cast<float>(i + 3), false);
        hosts.push_back(std::make_unique<HostWindow>(510, 220, 0x00FF00));
    }
    corvane::test::OscPeer peer;
    const int control = peer.Open();
    ASSERT_TRUE(peer.WaitForServer(base + 3, control));

    std::atomic<bool> stop{false};
    std::thread audio([&] {
        while (!stop.load())
            for (auto& plugin : plugins)
                plugin->Block();
    });
    std::thread osc([&] {
        for (int i = 0; !stop.load(); ++i)
            peer.Send(base + 3, "/obry/QVOscTest/*/Shape", "f", {std::to_string((i % 10) / 10.0)});
    });
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < kEditors; ++i) {
            ASSERT_TRUE(plugins[i]->getEditor()->open(hosts[i]->Handle())) << i;
            QZ::Manager& manager = *static_cast<ObryCorvaneView*>(plugins[i]->getEditor())->GetManager();
            manager.SetHoveredParameter(3); // "Shape", which the OSC server moves
            manager.SetShowInstanceNumber(i == 0);
        }
        for (int i = 0; i < kEditors; ++i) {
            auto* view = static_cast<ObryCorvaneView*>(plugins[i]->getEditor());
            EXPECT_TRUE(WaitFor([&] {
                view->idle();
                return view->GetManager()->FramesDrawn() >= 3;
            })) << i;
            view->GetManager()->BeginParameterEdit(2);
        }
        for (int i = kEditors - 1; i >= 0; --i)
            plugins[i]->getEditor()->close();
    }
    stop.store(true);
    osc.join();
    audio.join();
}

} // namespace
