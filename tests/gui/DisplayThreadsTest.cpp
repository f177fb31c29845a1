// Displays opened, drawn, edited and closed while an audio thread keeps
// processing and writing the indicator block: the three threads of an open
// editor (UI, render, audio) on real plug-ins. Also run under
// ThreadSanitizer, which reports any value they share without atomics.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "gui/dialogs/PreferencesPanel.h"
#include "gui/displays/FollowerDisplays.h"
#include "gui/displays/GraphDisplays.h"
#include "gui/displays/StepEditor.h"
#include "gui/displays/TextDisplays.h"
#include "plugins/learner/ObryCorvaneLearner.h"
#include "plugins/quantizer/ObryCorvaneQuantizer.h"
#include "plugins/follower/ObryCorvaneFollower.h"
#include "plugins/function/ObryCorvaneFunction.h"
#include "plugins/lfo/ObryCorvaneLFO.h"
#include "plugins/steplfo/ObryCorvaneStepLFO.h"
#include "plugins/voicecontroller/ObryCorvaneVoiceController.h"
#include "tests/gui/DisplayHarness.h"
#include "tests/gui/HostWindow.h"
#include "tests/support/TestSupport.h"

using namespace corvane::test;

namespace {

constexpr int kWidth = 400, kHeight = 200;

template <class D>
void Add(QZ::Group& root, D* display, const std::string& error)
{
    ASSERT_TRUE(display) << error;
    root.AddChild(display);
}

struct Editor {
    const char* name;
    std::function<std::unique_ptr<DisplayHarness>()> make;
};

Editor Editors[] = {
    {"step editors",
     [] {
         return DisplayHarness::Make<ObryCorvaneStepLFO::ObryCorvane>(kWidth, kHeight,
                                                                       [](QZ::Manager& m, QZ::Group& root) {
                                                                           std::string error;
                                                                           for (int id = 0; id < 2; ++id)
                                                                               Add(root,
                                                                                   QZ::StepEditor::Create(
                                                                                       m, id, 10 + 195 * id, 10, 185,
                                                                                       180, error),
                                                                                   error);
                                                                       });
     }},
    {"graphs",
     [] {
         return DisplayHarness::Make<ObryCorvaneVoiceController::ObryCorvane>(
             kWidth, kHeight,
             [](QZ::Manager& m, QZ::Group& root) {
                 std::string error;
                 for (int id = 0; id < 3; ++id)
                     Add(root, QZ::EnvDisplay::Create(m, id, 10 + 130 * id, 10, 120, 80, error), error);
                 Add(root, QZ::CalibrationDisplay::Create(m, 10, 100, 380, 90, error), error);
             },
             true);
     }},
    {"lfo", [] {
         return DisplayHarness::Make<ObryCorvaneLFO::ObryCorvane>(kWidth, kHeight, [](QZ::Manager& m, QZ::Group& root) {
             std::string error;
             for (int id = 0; id < 2; ++id)
                 Add(root, QZ::WaveformDisplay::Create(m, id, 10 + 195 * id, 10, 185, 180, error), error);
         });
     }},
    {"follower", [] {
         return DisplayHarness::Make<ObryCorvaneFollower::ObryCorvane>(
             kWidth, kHeight, [](QZ::Manager& m, QZ::Group& root) {
                 std::string error;
                 Add(root, QZ::FollowerEnvDisplay::Create(m, 10, 100, 380, 90, error), error);
                 Add(root, QZ::FollowerPitchDisplay::Create(m, 10, 10, 380, 80, error), error);
                 Add(root, QZ::FollowerInfoDisplay::Create(m, 20, 60, 200, 30, error), error);
             });
     }},
    {"quantizer", [] {
         return DisplayHarness::Make<ObryCorvaneQuantizer::ObryCorvane>(
             kWidth, kHeight, [](QZ::Manager& m, QZ::Group& root) {
                 std::string error;
                 for (int id = 0; id < 2; ++id)
                     Add(root, QZ::QuantizerInfoDisplay::Create(m, 10 + 195 * id, 10, 185, 40, id, error), error);
                 Add(root, QZ::InfoDisplay::Create(m, 10, 150, 300, 20, 6, error), error);
             });
     }},
    {"learner", [] {
         return DisplayHarness::Make<ObryCorvaneLearner::ObryCorvane>(
             kWidth, kHeight, [](QZ::Manager& m, QZ::Group& root) {
                 std::string error;
                 Add(root, QZ::LearnerInfoDisplay::Create(m, 10, 10, 380, 180, error), error);
             });
     }},
    {"function", [] {
         return DisplayHarness::Make<ObryCorvaneFunction::ObryCorvane>(
             kWidth, kHeight, [](QZ::Manager& m, QZ::Group& root) {
                 std::string error;
                 for (int id = 0; id < 2; ++id)
                     Add(root, QZ::FunctionDisplay::Create(m, id, 10 + 195 * id, 10, 185, 180, error), error);
             });
     }},
};

// Processes blocks on its own thread until destroyed.
class AudioThread {
public:
    explicit AudioThread(DisplayHarness& harness)
        : thread([this, &harness] {
              while (!stop.load(std::memory_order_acquire)) {
                  harness.Process(1);
                  blocks.fetch_add(1, std::memory_order_release);
              }
          })
    {
    }
    ~AudioThread()
    {
        stop.store(true, std::memory_order_release);
        thread.join();
    }
    uint64_t Blocks() const { return blocks.load(std::memory_order_acquire); }

private:
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> blocks{0};
    std::thread thread;
};

TEST(DisplayThreads, DisplaysOpenDrawAndCloseWhileAudioRuns)
{
    REQUIRE_DISPLAY();
    ScopedUserFolders folders{UniquePortBase()};
    StartInProcessTransport();
    for (const Editor& editor : Editors) {
        SCOPED_TRACE(editor.name);
        auto harness = editor.make();
        harness->SetInput(220, 0.5f, 0.1f);
        HostWindow host(kWidth + 20, kHeight + 20, 0x00FF00);
        AudioThread audio(*harness);
        for (int round = 0; round < 2; ++round) {
            ASSERT_TRUE(harness->View().open(host.Handle())) << round;
            QZ::Manager* manager = harness->Manager();
            // Input and colour changes on this (the UI) thread while the
            // render thread draws and the audio thread plays.
            const uint64_t blocksAtOpen = audio.Blocks();
            for (int i = 0; i < 6; ++i) {
                const QZ::Point point{20.0f + 60.0f * i, 40.0f + 20.0f * i};
                manager->MouseDown(point, i % 2 ? QZ::CarbonVSTEditor::kModifierShift : 0, 1);
                manager->MouseDrag({point.x + 90, point.y + 30}, 0);
                manager->MouseUp({point.x + 90, point.y + 30}, 0);
                // A control change reaches the registry, which the Learner's
                // display reads.
                SendControlChange(harness->Plugin(), 0, i, 10 * i);
                for (QZ::UIElement* element : static_cast<QZ::Group*>(manager->Root())->Children())
                    if (auto* display = dynamic_cast<QZ::DisplayElement*>(element))
                        display->SetLineColour(QZ::Colour{0.5f + 0.1f * i, 0.8f, 0.9f, 1});
                const uint64_t seen = manager->FramesDrawn();
                EXPECT_TRUE(WaitFor([&] {
                    harness->View().idle();
                    return manager->FramesDrawn() > seen;
                }));
            }
            // The preferences dialog opened, clicked and closed (cancelled on
            // the first round, left open at close on the second) while the
            // render thread draws it.
            ASSERT_TRUE(QZ::ShowPreferencesDialog(*manager));
            QZ::PreferencesPanel* panel = QZ::PreferencesPanel::Of(*manager);
            for (int part : {QZ::PreferencesPanel::kEyeCandy, QZ::PreferencesPanel::kArrangementNext,
                             QZ::PreferencesPanel::kEyeCandy, QZ::PreferencesPanel::kArrangementPrevious}) {
                panel->Click(part);
                const uint64_t seen = manager->FramesDrawn();
                EXPECT_TRUE(WaitFor([&] {
                    harness->View().idle();
                    return manager->FramesDrawn() > seen;
                }));
            }
            if (round == 0)
                panel->Click(QZ::PreferencesPanel::kCancel);
            EXPECT_TRUE(WaitFor([&] { return audio.Blocks() > blocksAtOpen; }));
            harness->View().close();
        }
    }
}

} // namespace
