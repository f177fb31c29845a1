// The dialogs of one open editor. A dialog is modal to its editor: while one
// is open, another started from the editor's controls is refused, but the
// editor keeps drawing and the host keeps calling. Answers are applied on
// the host's UI thread when the host idles the editor (effEditIdle), never
// from inside the call that started the dialog.
//
// The editor makes its session when it opens and destroys it when it
// closes (before its manager and element tree go, and so always before its
// plug-in goes): the dialog still open is closed, its program ended and
// reaped, and no completion runs after that. A completion may start the
// next dialog (an error message after a failed load).
//
// Threads: the host's UI thread only.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "platform/Dialogs.h"

class ObryAuBase;
struct _XDisplay;

namespace QZ {

class Manager;

class DialogSession {
public:
    // The readout's line for a dialog that no one could show (no zenity);
    // a message that could not be shown takes its own text instead.
    static constexpr const char* kNoDialogNotice = "Install zenity to see this dialog";

    using Completion = std::function<void(const corvane::platform::DialogAnswer&)>;
    using EditorCompletion =
        std::function<void(DialogSession&, ObryAuBase&, const corvane::platform::DialogAnswer&)>;

    // The session of the editor whose manager is `manager`: widgets find it
    // through For(manager). ownerWindow: the X window dialogs attach to
    // (0: none).
    DialogSession(Manager* manager, unsigned long ownerWindow);
    // Closes the open dialog and drops the queued ones; no completion runs.
    ~DialogSession();
    DialogSession(const DialogSession&) = delete;
    DialogSession& operator=(const DialogSession&) = delete;

    // The session registered for manager, or null (no editor window open).
    static DialogSession* For(const Manager* manager);
    // The top-level window that holds `window` (the child of the root window
    // on its way up), which a window manager keeps dialogs above; `window`
    // itself when the way up cannot be read. display: a connection of the
    // calling thread whose errors the X error trap swallows.
    static unsigned long TopLevelWindow(_XDisplay* display, unsigned long window);

    // Starts a dialog for a control of the editor. Refused (false, nothing
    // shown, logged) while another dialog is open or waiting. The completion
    // runs from a later Poll with the answer, OK or not.
    bool Start(corvane::platform::DialogRequest request, Completion completion);
    // Start for the open editor whose manager is given: the completion gets
    // the session and the editor's plug-in too. False (logged) when no
    // editor is open for the manager, or as Start.
    static bool StartForEditor(Manager& manager, corvane::platform::DialogRequest request,
                               EditorCompletion completion);
    // A message box titled "Error": shown after whatever is open now.
    void ShowError(const std::string& text, corvane::platform::DialogIcon icon);

    // From effEditIdle: collects answers and runs their completions. A
    // dialog that no one could show (no zenity), and a message of the
    // dialog service's that no one could (corvane::platform::ShowMessage),
    // is told in the editor's readout as well as on standard error.
    void Poll();

    // True while a dialog is open or waiting to open.
    bool Busy() const { return open != nullptr || !waiting.empty(); }
    Manager* GetManager() const { return manager; }
    unsigned long OwnerWindow() const { return ownerWindow; }

private:
    struct Waiting {
        corvane::platform::DialogRequest request;
        Completion completion;
    };
    void OpenNext();

    Manager* manager;
    unsigned long ownerWindow;
    std::unique_ptr<corvane::platform::PendingDialog> open;
    Completion openCompletion;
    std::string openNotice;
    std::deque<Waiting> waiting;
};

} // namespace QZ
