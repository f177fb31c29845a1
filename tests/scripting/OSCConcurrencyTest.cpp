// The OSC server's threads against everything else that touches an instance
// at the same time. Run under ThreadSanitizer too (label "concurrency").
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "scripting/OSCHelper.h"
#include "tests/scripting/OscPeer.h"
#include "tests/scripting/OscTestPlugin.h"
#include "tests/support/TestSupport.h"

namespace corvane::test {
namespace {

using QZ::OSCHelper;

// Several writers, one reader: every entry read was written, each writer's
// entries come out in its order, and nothing is read twice.
TEST(OSCConcurrencyTest, SetParamQueueTakesManyWriters)
{
    OSCHelper::SetParamQueue queue;
    constexpr int kWriters = 4;
    constexpr int kPerWriter = 20000;
    std::atomic<int> written{0};
    std::atomic<int> writersDone{0};
    StderrCapture err; // the overflow texts of a full ring

    std::vector<int> lastSeen(kWriters, -1);
    int read = 0;
    bool ordered = true;
    std::thread reader([&] {
        OSCHelper::SetParamQueue::Entry entry;
        for (;;) {
            const bool finished = writersDone.load() == kWriters;
            bool any = false;
            while (queue.Read(entry)) {
                any = true;
                ++read;
                const int seq = static_cast<int>(entry.value);
                if (entry.index < 0 || entry.index >= kWriters || seq <= lastSeen[entry.index])
                    ordered = false;
                else
                    lastSeen[entry.index] = seq;
            }
            if (finished && !any)
                return;
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < kPerWriter; ++i) {
                if (queue.Write(w, static_cast<float>(i)))
                    written.fetch_add(1);
                else
                    std::this_thread::yield();
            }
            writersDone.fetch_add(1);
        });
    }
    for (std::thread& t : writers)
        t.join();
    reader.join();
    err.Text();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(read, written.load());
    EXPECT_GT(read, 0);
}

// Both servers listening and notifying while the host automates, the editor
// edits, the audio thread runs blocks, another instance's listen thread sets
// parameters through "/obry/" addresses and the second server moves.
TEST(OSCConcurrencyTest, ServersRunWhileEveryoneSetsParameters)
{
    const int base = UniquePortBase();
    ScopedUserFolders folders(base);
    OscTestPlugin first(0), second(0);
    first.SetParameterValue(0, 3.0f, false);
    second.SetParameterValue(0, 4.0f, false);
    OscPeer peer;
    const int control = peer.Open(), updates = peer.Open();
    ASSERT_TRUE(peer.WaitForServer(base + 3, control));
    ASSERT_TRUE(peer.WaitForServer(base + 4, control));
    for (const char* id : {"1", "2", "3"})
        peer.Send(base + 3, "/registerUpdate", "iss", {id, peer.URL(updates), std::string("/u") + id});
    ASSERT_TRUE(peer.Sync(base + 3, control));

    std::atomic<bool> stop{false};
    StderrCapture err; // overflow texts when the notify thread falls behind
    std::thread automation([&] { // host automation, one parameter
        std::mt19937 random(1);
        for (int i = 0; i < 3000; ++i)
            first.setParameter(1, static_cast<float>(random() % 1000) / 1000.0f);
    });
    std::thread editor([&] { // the editor, another parameter
        for (int i = 0; i < 3000; ++i)
            first.SetParameterValue(2, static_cast<float>(i % 10), false);
    });
    std::thread audio([&] {
        while (!stop.load())
            first.Block();
    });
    std::thread mover([&] { // the second server moves back and forth
        for (int i = 0; i < 40; ++i) {
            second.SetParameterValue(0, i % 2 ? 5.0f : 4.0f, false);
            std::this_thread::yield();
        }
        second.SetParameterValue(0, 4.0f, false);
    });
    for (int i = 0; i < 200; ++i) {
        // Through the second server (while it is there) into both instances'
        // "Shape"; the first instance's update goes out from its notify thread.
        peer.Send(base + 4, "/obry/QVOscTest/*/Shape", "f", {std::to_string((i % 10) / 10.0)});
        peer.Send(base + 3, "/startNote", "if", {std::to_string(i % 128), "0.5"});
        peer.Send(base + 3, "/registerUpdate", "iss", {"1", peer.URL(updates), "/u1"});
        peer.Send(base + 3, "/getNumParameters", "ss", {peer.URL(control), "/n"});
    }
    automation.join();
    editor.join();
    mover.join();
    // The burst may have filled the server's socket, which then drops a
    // single ping: asked until it answers. The audio thread stops first, so
    // that a failure ends the test rather than the process.
    const bool answered = peer.WaitForServer(base + 3, control);
    stop.store(true);
    audio.join();
    ASSERT_TRUE(answered);
    err.Text();

    EXPECT_GT(peer.Drain(updates), 0);
    EXPECT_TRUE(peer.WaitForServer(base + 4, control));
    EXPECT_TRUE(peer.WaitForServer(base + 3, control));
}

} // namespace
} // namespace corvane::test
