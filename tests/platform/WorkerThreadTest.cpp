#include "platform/WorkerThread.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <stdexcept>

using corvane::platform::Event;
using corvane::platform::kWaitForever;
using corvane::platform::WorkerThread;
using corvane::test::StderrCapture;

TEST(WorkerThread, StopsThroughItsQuitEvent)
{
    WorkerThread worker("test worker");
    Event data;
    std::atomic<int> wakeUps{0};
    ASSERT_EQ(worker.Start([&](Event& quit) {
        Event* list[2] = {&quit, &data};
        while (corvane::platform::WaitAny(list, 2, kWaitForever) != 0)
            wakeUps.fetch_add(1);
    }),
              0);
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_EQ(worker.Start([](Event&) {}), EBUSY);
    data.Set();
    EXPECT_TRUE(worker.Stop());
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.QuitEvent(), nullptr);
    EXPECT_LE(wakeUps.load(), 1);
    EXPECT_TRUE(worker.Stop()); // nothing running: nothing to do

    // It can be started again.
    ASSERT_EQ(worker.Start([](Event& quit) { quit.Wait(kWaitForever); }), 0);
}

TEST(WorkerThread, AThreadThatDoesNotStopIsLoggedAndLeftRunning)
{
    // What the stuck body uses must outlive it: shared with the body.
    auto release = std::make_shared<Event>();
    auto finished = std::make_shared<Event>();
    const auto stuck = [release, finished](Event&) {
        release->Wait(kWaitForever);
        finished->Set();
    };
    WorkerThread worker("stuck worker");
    ASSERT_EQ(worker.Start(stuck), 0);
    EXPECT_FALSE(worker.Stop(std::chrono::milliseconds(20)));
    // Still its thread: no second one starts, and a later stop waits again.
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_EQ(worker.Start([](Event&) {}), EBUSY);
    release->Set();
    EXPECT_TRUE(worker.Stop(corvane::platform::kNoTimeLimit));
    EXPECT_TRUE(finished->Wait(0));

    // Destroyed while its thread is stuck: logged, and the thread lives on
    // and can still finish.
    auto owner = std::make_unique<WorkerThread>("stuck worker");
    ASSERT_EQ(owner->Start(stuck), 0);
    EXPECT_FALSE(owner->Stop(std::chrono::milliseconds(20)));
    StderrCapture capture;
    owner.reset();
    std::string log = capture.Text();
    EXPECT_NE(log.find("stuck worker: thread did not stop in time"), std::string::npos) << log;
    release->Set();
    EXPECT_TRUE(finished->Wait(20000));
}

TEST(WorkerThread, ExceptionsAndSelfStopAreContained)
{
    WorkerThread throwing("throwing worker");
    StderrCapture capture;
    ASSERT_EQ(throwing.Start([](Event&) { throw std::runtime_error("boom"); }), 0);
    EXPECT_TRUE(throwing.Stop());
    EXPECT_NE(capture.Text().find("throwing worker: thread ended by exception: boom"), std::string::npos);

    // Stop() from the worker itself must not wait for itself.
    auto done = std::make_shared<Event>();
    WorkerThread self("self stopper");
    std::atomic<WorkerThread*> selfPointer{&self};
    Event started;
    ASSERT_EQ(self.Start([&started, &selfPointer, done](Event&) {
        started.Wait(kWaitForever);
        selfPointer.load()->Stop();
        done->Set();
    }),
              0);
    started.Set();
    EXPECT_TRUE(done->Wait(20000));
}
