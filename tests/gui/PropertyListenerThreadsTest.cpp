// Property text fields made and destroyed while another thread keeps setting
// their property, as OSC and scripts do: a field's listener must never run
// on a field that is gone (also run under ThreadSanitizer and
// AddressSanitizer).
#include <gtest/gtest.h>

#include <atomic>
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
        auto manager = std::make_unique<QZ::Manager>(plugin.get());
        // Two fields of one property: removing one listener keeps the other.
        auto* first = new QZ::PropertyTextField(manager.get(), ControlsPlugin::kTextProperty, "", 0, 0, 50, 16);
        auto* second = new QZ::PropertyTextField(manager.get(), ControlsPlugin::kTextProperty, "", 0, 20, 50, 16);
        first->InitGL();
        second->InitGL();
        const int seen = sets.load();
        // A set that starts after both listen reaches both.
        ASSERT_TRUE(corvane::test::WaitFor([&] { return sets.load() >= seen + 2; }, 5000));
        EXPECT_FALSE(first->ValueText().empty());
        EXPECT_FALSE(second->ValueText().empty());
        manager.reset(); // deletes both fields while the setter runs
    }
    stop.store(true);
    setter.join();
}

} // namespace
