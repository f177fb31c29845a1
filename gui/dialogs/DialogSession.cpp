#include "gui/dialogs/DialogSession.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include <X11/Xlib.h>

#include "gui/toolkit/Manager.h"
#include "platform/Debug.h"

using corvane::platform::DialogAnswer;
using corvane::platform::DialogIcon;
using corvane::platform::DialogKind;
using corvane::platform::DialogRequest;

namespace QZ {

namespace {

// Sessions by manager. Hosts drive editors from one UI thread, but a
// process may hold editors of several hosts (bridges): the list is locked.
struct Registry {
    std::mutex lock;
    std::vector<std::pair<const Manager*, DialogSession*>> sessions;
};

Registry& Sessions()
{
    // Goes at unload, after every editor (hosts close plug-ins first).
    static Registry registry;
    return registry;
}

} // namespace

DialogSession::DialogSession(Manager* manager, unsigned long ownerWindow) : manager(manager), ownerWindow(ownerWindow)
{
    Registry& registry = Sessions();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.sessions.emplace_back(manager, this);
}

DialogSession::~DialogSession()
{
    {
        Registry& registry = Sessions();
        std::lock_guard<std::mutex> guard(registry.lock);
        std::erase_if(registry.sessions, [this](const auto& entry) { return entry.second == this; });
    }
    waiting.clear();
    openCompletion = nullptr;
    open.reset(); // closes the dialog and reaps its program
}

DialogSession* DialogSession::For(const Manager* manager)
{
    Registry& registry = Sessions();
    std::lock_guard<std::mutex> guard(registry.lock);
    for (auto it = registry.sessions.rbegin(); it != registry.sessions.rend(); ++it)
        if (it->first == manager)
            return it->second;
    return nullptr;
}

unsigned long DialogSession::TopLevelWindow(_XDisplay* display, unsigned long window)
{
    if (!display || !window)
        return window;
    ::Window current = window;
    // A window tree is shallow; the bound only guards against a server
    // that answers nonsense.
    for (int depth = 0; depth < 64; ++depth) {
        ::Window root = 0, parent = 0;
        ::Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, current, &root, &parent, &children, &count))
            return window;
        if (children)
            XFree(children);
        if (parent == 0 || parent == root)
            return current;
        current = parent;
    }
    return window;
}

bool DialogSession::Start(DialogRequest request, Completion completion)
{
    if (Busy()) {
        corvane::DebugPrintf("dialog \"%s\" not shown: another dialog of this editor is open\n",
                             request.title.c_str());
        return false;
    }
    request.ownerWindow = ownerWindow;
    waiting.push_back(Waiting{std::move(request), std::move(completion)});
    OpenNext();
    return true;
}

bool DialogSession::StartForEditor(Manager& manager, DialogRequest request, EditorCompletion completion)
{
    DialogSession* session = For(&manager);
    ObryAuBase* plugin = manager.Plugin();
    if (!session || !plugin) {
        corvane::DebugPrintf("%s: the editor is not open\n", request.title.c_str());
        return false;
    }
    // The session goes with its editor, which closes before its plug-in:
    // both are alive whenever the completion runs.
    return session->Start(std::move(request),
                          [session, plugin, completion = std::move(completion)](const DialogAnswer& answer) {
                              completion(*session, *plugin, answer);
                          });
}

void DialogSession::ShowError(const std::string& text, DialogIcon icon)
{
    DialogRequest request;
    request.kind = DialogKind::Message;
    request.title = "Error";
    request.text = text;
    request.icon = icon;
    request.ownerWindow = ownerWindow;
    waiting.push_back(Waiting{std::move(request), nullptr});
    OpenNext();
}

void DialogSession::OpenNext()
{
    if (open || waiting.empty())
        return;
    Waiting next = std::move(waiting.front());
    waiting.pop_front();
    open = corvane::platform::StartDialog(next.request);
    openCompletion = std::move(next.completion);
    // What the editor says in the dialog's stead when no one can show it:
    // a message itself, for anything else that zenity is needed.
    openNotice = next.request.kind == DialogKind::Message ? next.request.text : kNoDialogNotice;
}

void DialogSession::Poll()
{
    // A message of the dialog service that no one could show (no zenity):
    // the readout tells it, as it tells a dialog of this editor's.
    for (const std::string& unshown : corvane::platform::PollMessages())
        if (manager)
            manager->ShowNotice(unshown);
    DialogAnswer answer;
    if (!open || !open->Poll(&answer))
        return;
    if (answer.unasked && manager)
        manager->ShowNotice(openNotice);
    Completion completion = std::move(openCompletion);
    openCompletion = nullptr;
    open.reset();
    // The completion may start the next dialog (an error message).
    if (completion)
        completion(answer);
    OpenNext();
}

} // namespace QZ
