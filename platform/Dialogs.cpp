#include "platform/Dialogs.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/Debug.h"
#include "platform/WorkerThread.h"
#include "platform/ZenityDialog.h"

namespace corvane::platform {

namespace {

struct Script {
    std::mutex lock;
    bool active = false;
    std::deque<DialogAnswer> answers;
    std::vector<DialogRequest> requests;
    int closedUnanswered = 0;
};

Script& Scripted()
{
    static Script script;
    return script;
}

// The messages of ShowMessage still open, and a thread that reaps each as
// its program ends (while any has a program to wait for), so that none is
// left a zombie while no editor polls. Closed at unload at the latest,
// which ends their programs.
struct Messages {
    struct Kept {
        std::unique_ptr<PendingDialog> dialog;
        std::string text;
    };

    ~Messages()
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            quitting = true;
        }
        Wake();
        reaper.Stop();
        if (wake >= 0)
            close(wake);
    }

    void Wake() const
    {
        const uint64_t one = 1;
        if (wake >= 0 && write(wake, &one, sizeof one) < 0) {
            // Already signalled to its limit: the reaper wakes anyway.
        }
    }

    std::mutex lock;
    std::vector<Kept> open;            // guarded by lock
    std::vector<std::string> unshown;  // texts no one could show, until an editor takes them; guarded by lock
    bool reaping = false;              // guarded by lock
    bool quitting = false;             // guarded by lock
    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    WorkerThread reaper{"dialog reaper"};
};

Messages& OpenMessages()
{
    // The script goes after the messages: a scripted message left open
    // notes its closing there.
    Scripted();
    static Messages messages;
    return messages;
}

void PollMessagesLocked(Messages& messages)
{
    std::erase_if(messages.open, [&messages](const Messages::Kept& kept) {
        DialogAnswer answer;
        if (!kept.dialog->Poll(&answer))
            return false;
        if (answer.unasked)
            messages.unshown.push_back(kept.text);
        return true;
    });
}

// The reaper's body: waits for the end of any kept message's program, or
// for a new message, and lets the ended ones go; ends when none is left to
// wait for. A descriptor closed meanwhile by an editor's poll only wakes it
// early.
void ReapMessages(Messages& messages)
{
    for (;;) {
        std::vector<pollfd> waits{{messages.wake, POLLIN, 0}};
        {
            std::lock_guard<std::mutex> guard(messages.lock);
            PollMessagesLocked(messages);
            for (const Messages::Kept& kept : messages.open)
                if (const int handle = kept.dialog->EndHandle(); handle >= 0)
                    waits.push_back({handle, POLLIN, 0});
            if (messages.quitting || waits.size() == 1) {
                messages.reaping = false;
                return;
            }
        }
        while (poll(waits.data(), waits.size(), -1) < 0 && errno == EINTR) {
        }
        uint64_t signals = 0;
        if (messages.wake >= 0 && read(messages.wake, &signals, sizeof signals) < 0) {
            // Not signalled: a program ended.
        }
    }
}

// A dialog whose answer is known when it starts; it is handed out by the
// first Poll, as a real dialog's would be.
class ReadyDialog : public PendingDialog {
public:
    ReadyDialog(DialogAnswer answer, bool scripted) : answer(std::move(answer)), scripted(scripted) {}
    ~ReadyDialog() override
    {
        if (scripted && !polled) {
            Script& script = Scripted();
            std::lock_guard<std::mutex> guard(script.lock);
            ++script.closedUnanswered;
        }
    }
    bool Poll(DialogAnswer* out) override
    {
        polled = true;
        if (out)
            *out = answer;
        return true;
    }

private:
    DialogAnswer answer;
    bool scripted;
    bool polled = false;
};

// Null when no test scripts the dialogs.
std::unique_ptr<PendingDialog> StartScripted(const DialogRequest& request)
{
    Script& script = Scripted();
    std::lock_guard<std::mutex> guard(script.lock);
    if (!script.active)
        return nullptr;
    script.requests.push_back(request);
    DialogAnswer answer;
    if (!script.answers.empty()) {
        answer = std::move(script.answers.front());
        script.answers.pop_front();
    }
    if (request.kind == DialogKind::SaveFile && answer.accepted)
        answer.text = WithDefaultExtension(answer.text, request.defaultExtension);
    return std::make_unique<ReadyDialog>(std::move(answer), true);
}

} // namespace

std::string WithDefaultExtension(const std::string& path, const std::string& extension)
{
    if (extension.empty() || path.empty())
        return path;
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // A dot after the first character starts an extension; a leading one
    // belongs to the name of a hidden file.
    if (name.empty() || name.find('.', 1) != std::string::npos || (name[0] == '.' && name.size() > 1))
        return path;
    return path + "." + extension;
}

std::unique_ptr<PendingDialog> StartDialog(const DialogRequest& request)
{
    if (std::unique_ptr<PendingDialog> scripted = StartScripted(request))
        return scripted;
    const char* display = getenv("DISPLAY");
    if (display && *display)
        if (std::unique_ptr<PendingDialog> zenity = StartZenityDialog(request))
            return zenity;
    // No one to ask: a message still reaches the log; any question is
    // answered Cancel.
    if (request.kind == DialogKind::Message)
        DebugPrintf("%s: %s\n", request.title.c_str(), request.text.c_str());
    else
        DebugPrintf("%s: no dialog can be shown (no X display or no zenity); cancelled\n", request.title.c_str());
    DialogAnswer unasked;
    unasked.unasked = true;
    return std::make_unique<ReadyDialog>(std::move(unasked), false);
}

void ShowMessage(const DialogRequest& request)
{
    DialogRequest message = request;
    message.kind = DialogKind::Message;
    std::unique_ptr<PendingDialog> dialog = StartDialog(message);
    const bool waitable = dialog->EndHandle() >= 0;
    Messages& messages = OpenMessages();
    std::lock_guard<std::mutex> guard(messages.lock);
    PollMessagesLocked(messages);
    messages.open.push_back(Messages::Kept{std::move(dialog), message.text});
    if (!waitable || messages.quitting)
        return;
    if (messages.reaping) {
        messages.Wake();
        return;
    }
    // A reaper that ended no longer takes the lock: joined at once.
    messages.reaper.Stop();
    messages.reaping = messages.reaper.Start([&messages](Event&) { ReapMessages(messages); }) == 0;
}

std::vector<std::string> PollMessages()
{
    Messages& messages = OpenMessages();
    std::lock_guard<std::mutex> guard(messages.lock);
    PollMessagesLocked(messages);
    return std::exchange(messages.unshown, {});
}

ScopedScriptedDialogs::ScopedScriptedDialogs(std::vector<DialogAnswer> answers)
{
    Script& script = Scripted();
    std::lock_guard<std::mutex> guard(script.lock);
    script.active = true;
    script.answers.assign(answers.begin(), answers.end());
    script.requests.clear();
    script.closedUnanswered = 0;
}

ScopedScriptedDialogs::~ScopedScriptedDialogs()
{
    Script& script = Scripted();
    std::lock_guard<std::mutex> guard(script.lock);
    script.active = false;
    script.answers.clear();
    script.requests.clear();
}

void ScopedScriptedDialogs::Add(std::vector<DialogAnswer> answers)
{
    Script& script = Scripted();
    std::lock_guard<std::mutex> guard(script.lock);
    script.answers.insert(script.answers.end(), answers.begin(), answers.end());
}

std::vector<DialogRequest> ScopedScriptedDialogs::Requests() const
{
    Script& script = Scripted();
    std::lock_guard<std::mutex> guard(script.lock);
    return script.requests;
}

int ScopedScriptedDialogs::ClosedUnanswered() const
{
    Script& script = Scripted();
    std::lock_guard<std::mutex> guard(script.lock);
    return script.closedUnanswered;
}

} // namespace corvane::platform
