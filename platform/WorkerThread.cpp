#include "platform/WorkerThread.h"

#include <dlfcn.h>

#include "platform/Debug.h"

#include <cerrno>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <pthread.h>
#include <system_error>

namespace corvane::platform {

// Lives as long as the thread or the owner, whichever is longer, so that a
// thread left running still has its quit event and finish flag.
struct WorkerThread::Shared {
    Event quit;
    std::mutex lock;
    std::condition_variable finishedChanged;
    bool finished = false; // guarded by lock
};

WorkerThread::WorkerThread(std::string name) : name(std::move(name)) {}

WorkerThread::~WorkerThread()
{
    // An owner whose stop already timed out leaves the thread to itself; any
    // other waits the usual stop time first.
    if (!stopTimedOut)
        Stop(kDefaultStopTimeout);
    if (thread.joinable()) {
        DebugPrintf("%s: thread did not stop in time\n", name.c_str());
        thread.detach();
    }
}

Event* WorkerThread::QuitEvent() const
{
    return shared ? &shared->quit : nullptr;
}

int WorkerThread::Start(Body body)
{
    if (thread.joinable())
        return EBUSY;
    auto state = std::make_shared<Shared>();
    std::string threadName = name.substr(0, 15);
    try {
        thread = std::thread([state, threadName, body = std::move(body), label = name]() mutable {
            pthread_setname_np(pthread_self(), threadName.c_str());
            try {
                body(state->quit);
            } catch (const std::exception& e) {
                DebugPrintf("%s: thread ended by exception: %s\n", label.c_str(), e.what());
            } catch (...) {
                DebugPrintf("%s: thread ended by exception\n", label.c_str());
            }
            // Whatever the body captured goes now, while the owner may still
            // be waiting for it.
            body = nullptr;
            {
                std::lock_guard<std::mutex> guard(state->lock);
                state->finished = true;
                state->finishedChanged.notify_all();
            }
            WorkerThreadEnded().Set();
        });
    } catch (const std::system_error& e) {
        return e.code().value() ? e.code().value() : EAGAIN;
    }
    shared = std::move(state);
    stopTimedOut = false;
    return 0;
}

void WorkerThread::RequestStop()
{
    if (shared)
        shared->quit.Set();
}

bool WorkerThread::Stop(std::chrono::milliseconds limit)
{
    if (!thread.joinable()) {
        shared.reset();
        return true;
    }
    shared->quit.Set();
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
        shared.reset();
        return false;
    }
    bool finished;
    {
        std::unique_lock<std::mutex> guard(shared->lock);
        const auto ended = [this] { return shared->finished; };
        if (limit == kNoTimeLimit) {
            shared->finishedChanged.wait(guard, ended);
            finished = true;
        } else {
            finished = shared->finishedChanged.wait_for(guard, limit, ended);
        }
    }
    stopTimedOut = !finished;
    if (!finished)
        return false;
    thread.join();
    shared.reset();
    return true;
}

Event& WorkerThreadEnded()
{
    static Event ended;
    return ended;
}

void* PinThisModule()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<const void*>(&PinThisModule), &info) || !info.dli_fname)
        return nullptr;
    return dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
}

namespace {

// A thread-local object whose destructor is code of the module: while a
// thread has one, the C library does not unmap the module (not even when its
// last handle goes), and its destructor runs only as the thread ends, after
// the last line of the module's code the thread runs.
struct ModuleKeeper {
    bool held = false;
    ~ModuleKeeper() { held = false; }
};

} // namespace

int RunDetached(std::string name, std::function<void()> body)
{
    void* pin = PinThisModule();
    try {
        std::thread([pin, threadName = name.substr(0, 15), label = name, body = std::move(body)]() mutable {
            thread_local ModuleKeeper keeper;
            keeper.held = true;
            pthread_setname_np(pthread_self(), threadName.c_str());
            try {
                body();
            } catch (const std::exception& e) {
                DebugPrintf("%s: thread ended by exception: %s\n", label.c_str(), e.what());
            } catch (...) {
                DebugPrintf("%s: thread ended by exception\n", label.c_str());
            }
            body = nullptr;
            // The keeper holds the module from here to the thread's very end.
            if (pin)
                dlclose(pin);
        }).detach();
    } catch (const std::system_error& e) {
        if (pin)
            dlclose(pin);
        return e.code().value() ? e.code().value() : EAGAIN;
    }
    return 0;
}

} // namespace corvane::platform
