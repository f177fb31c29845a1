// Property text fields made and destroyed while another thread keeps setting
// their property, as OSC and scripts do: a field's listener must never run
// on a field that is gone (also run under ThreadSanitizer and
// AddressSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "gui/controls/TextFields.h"
#include "gui/toolkit/Manager.h"
#include "tests/gui/ControlsHarness.h"
#include "tests/support/TestSupport.h"

using corvane::test::ControlsPlugin;

namespace {

TEST(PropertyListeners, FieldsComeAndGoWhileAnotherThreadSetsTheProperty)
{
    corvane::test::InProcessPlugin<ControlsPlugin> plugin(
        new ControlsPlugin("Corvane Tester", 2, 2, corvane::test::TestHostCallback));
    std::atomic<bool> stop{false};
    std::atomic<int> sets{0};
    std::thread setter([&] {
        static const char kNames[2][8] = {"Port A", "Port BB"};
        for (int i = 0; !stop.load(); ++i) {
            plugin->SetPropertyAndNotify(ControlsPlugin::kTextProperty, kNames[i & 1], 8);
            sets.fetch_add(1);
        }
    });
    for (int round = 0; round < 200; ++round) {
        // Two fields of one property, in two editors: removing one listener
        // keeps the other.
        auto manager = std::make_unique<QZ::Manager>(plugin.get());
        auto otherManager = std::make_unique<QZ::Manager>(plugin.get());
        auto* first = new QZ::PropertyTextField(manager.get(), ControlsPlugin::kTextProperty, "", 0, 0, 50, 16);
        auto* second = new QZ::PropertyTextField(otherManager.get(), ControlsPlugin::kTextProperty, "", 0, 20, 50, 16);
        first->InitGL();
        second->InitGL();
        const int seen = sets.load();
        // A set that starts after both listen reaches both.
        ASSERT_TRUE(corvane::test::WaitFor([&] { return sets.load() >= seen + 2; }, 5000));
        EXPECT_FALSE(first->ValueText().empty());
        EXPECT_FALSE(second->ValueText().empty());
        manager.reset(); // deletes the first field while the setter runs
        const std::string before = second->ValueText();
        ASSERT_TRUE(corvane::test::WaitFor([&] { return second->ValueText() != before; }, 5000));
        otherManager.reset();
    }
    stop.store(true);
    setter.join();
}

// A listener removed while its call runs on another thread: the removal
// returns only after that call, so what the call touches may go right after.
// The call gives a removal that would not wait a moment to come back first.
TEST(PropertyListeners, ARemovalWaitsForTheCallInProgress)
{
    corvane::test::InProcessPlugin<ControlsPlugin> plugin(
        new ControlsPlugin("Corvane Tester", 2, 2, corvane::test::TestHostCallback));
    struct Call {
        std::atomic<bool> entered{false};
        std::atomic<bool> removing{false};
        std::atomic<bool> removed{false};
        std::atomic<bool> removedDuringCall{false};
        int touched = 0; // written by the call, read after the removal
    } call;
    const PropertyListenerProc listener = [](void* refcon, ObryAuBase*, uint32_t, uint32_t, uint32_t) {
        auto* c = static_cast<Call*>(refcon);
        c->entered.store(true);
        while (!c->removing.load())
            std::this_thread::yield();
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        while (!c->removed.load() && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        c->removedDuringCall.store(c->removed.load());
        c->touched = 1;
    };
    ASSERT_EQ(plugin->AddPropertyListener(ControlsPlugin::kTextProperty, listener, &call), 0);
    std::thread setter([&] { plugin->SetPropertyAndNotify(ControlsPlugin::kTextProperty, "Port A", 7); });
    while (!call.entered.load())
        std::this_thread::yield();
    call.removing.store(true);
    plugin->RemovePropertyListener(ControlsPlugin::kTextProperty, listener, &call);
    call.removed.store(true);
    EXPECT_EQ(call.touched, 1);
    setter.join();
    EXPECT_FALSE(call.removedDuringCall.load());
}

} // namespace
