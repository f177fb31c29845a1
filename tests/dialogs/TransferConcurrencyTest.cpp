// Transfers while the source instances come and go on another thread: a
// transfer copies a whole table of a live source or nothing, and never reads
// an instance that is being destroyed (AddressSanitizer and ThreadSanitizer
// would see it).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "framework/CalibrationProperties.h"
#include "gui/dialogs/CalibrationActions.h"
#include "plugins/soundplane/ObryCorvaneSoundplane.h"
#include "plugins/voicecontroller/ObryCorvaneVoiceController.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

using corvane::test::MakeInProcess;

namespace {

constexpr uint32_t kLength = 129;

CalibrationEntry* Entries(ObryAuBase& plugin)
{
    CalibrationEntry* entries = nullptr;
    plugin.GetProperty(kObryProperty_CalibrationValues, 0, 0, &entries);
    return entries;
}

uint8_t* Flags(ObryAuBase& plugin)
{
    uint8_t* flags = nullptr;
    plugin.GetProperty(kObryProperty_CalibrationValid, 0, 0, &flags);
    return flags;
}

TEST(TransferConcurrencyTest, SourcesClosingDuringTransfers)
{
    constexpr int kSources = 40;
    corvane::test::ScopedUserFolders folders;
    auto target = MakeInProcess<ObryCorvaneSoundplane::ObryCorvane>();
    std::atomic<bool> done{false};
    std::atomic<int> attempts{0}; // transfers started
    std::atomic<int> copied{0};   // transfers that copied

    // Each source holds 0.25 everywhere, all valid, and is named (so it is
    // offered). It is closed as soon as a transfer has started after that,
    // so closing races with the copy; every tenth waits for a copy, so that
    // copies certainly happen.
    std::thread sources([&] {
        for (int n = 0; n < kSources; ++n) {
            auto source = MakeInProcess<ObryCorvaneVoiceController::ObryCorvane>(false);
            CalibrationEntry* entries = Entries(*source);
            uint8_t* flags = Flags(*source);
            for (uint32_t i = 0; i < kLength; ++i) {
                std::atomic_ref<float>(entries[i].value).store(0.25f, std::memory_order_relaxed);
                std::atomic_ref<uint8_t>(flags[i]).store(1, std::memory_order_relaxed);
            }
            const char name[] = "/tmp/source.txt";
            const int seenAttempts = attempts.load();
            const int seenCopies = copied.load();
            source->SetPropertyAndNotify(kObryProperty_CalibrationName, name, sizeof name);
            if (n % 10 == 0)
                while (copied.load() == seenCopies)
                    copied.wait(seenCopies);
            else
                while (attempts.load() <= seenAttempts + 1)
                    std::this_thread::yield();
        }
        done.store(true);
    });

    int torn = 0; // entries of a copy that are not the source's
    while (!done.load()) {
        attempts.fetch_add(1);
        const bool ok = QZ::TransferCalibrationFrom(*target);
        if (!ok)
            continue;
        CalibrationEntry* entries = Entries(*target);
        uint8_t* flags = Flags(*target);
        for (uint32_t i = 0; i < kLength; ++i) {
            if (std::atomic_ref<float>(entries[i].value).load() != 0.25f ||
                std::atomic_ref<uint8_t>(flags[i]).load() != 1)
                ++torn;
            std::atomic_ref<float>(entries[i].value).store(0.0f);
            std::atomic_ref<uint8_t>(flags[i]).store(0);
        }
        copied.fetch_add(1);
        copied.notify_all();
    }
    sources.join();
    EXPECT_GE(copied.load(), kSources / 10);
    EXPECT_EQ(torn, 0);
}

} // namespace
