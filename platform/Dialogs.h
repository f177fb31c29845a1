// The dialog service: file choosers, message boxes, one-line text entry and
// a choice from a list, shown by another program while the caller goes on.
// A dialog is started, then polled until it has an answer; nothing here
// ever waits for a person.
//
// Backends, chosen when a dialog starts:
//   1. scripted: while a test holds a ScopedScriptedDialogs, every dialog
//      takes the next scripted answer and every request is written down;
//   2. zenity: when DISPLAY names an X server and zenity is installed. It is
//      spawned with posix_spawnp and an argument vector (never a shell),
//      attached to the owner window, with standard input from an in-memory
//      file, standard output into a pipe we read and standard error
//      discarded;
//   3. none: message boxes go to standard error; every dialog is answered
//      at once as cancelled.
//
// Threads: start, poll and destroy a dialog on one thread (the editor's UI
// thread); the messages of ShowMessage are the service's own, kept under
// its lock whatever thread shows them, and reaped by a thread of the
// service as soon as their programs end (while any is open). Poll never
// blocks. Destroying a dialog that has no answer yet closes it: the dialog
// program is ended and reaped before the destructor returns (a killed
// process is gone at once; the wait is only for the kernel to report it).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace corvane::platform {

enum class DialogKind {
    OpenFile, // choose an existing file
    SaveFile, // choose a file name to write (asks before replacing a file)
    Message,  // a text and an OK button
    Entry,    // one line of text
    List,     // pick one row
};

enum class DialogIcon { Plain, Error }; // Plain: no icon

struct FileFilter {
    std::string name;    // "Text Files (*.txt)"
    std::string pattern; // "*.txt"; "*.*" means every file
};

struct DialogRequest {
    DialogKind kind = DialogKind::Message;
    std::string title;
    std::string text; // the message, the prompt above an entry or a list
    DialogIcon icon = DialogIcon::Plain;
    std::string initialText;          // Entry: the text it starts with
    std::vector<std::string> rows;    // List: the rows, in order
    std::vector<FileFilter> filters;  // OpenFile, SaveFile
    std::string folder;               // OpenFile, SaveFile: the folder shown first ("": the chooser's own)
    std::string defaultExtension;     // SaveFile: added to a name without one ("txt")
    unsigned long ownerWindow = 0;    // X window the dialog belongs to; 0: none
};

struct DialogAnswer {
    bool accepted = false; // OK (false: Cancel, closed, or no one to ask)
    std::string text;      // OpenFile/SaveFile: the full path; Entry: the text
    int row = -1;          // List: the chosen row, -1 when none was chosen
    bool unasked = false;  // no one could be asked (no X display, or zenity could not be started)
};

// A dialog that has been started.
class PendingDialog {
public:
    virtual ~PendingDialog() = default;
    // True once the dialog has ended; *answer is then its answer (and the
    // same answer is given on every later call).
    virtual bool Poll(DialogAnswer* answer) = 0;
    // A descriptor that becomes readable when the dialog's program ends
    // (poll(2)); -1 when there is none to wait for. Owned by the dialog.
    virtual int EndHandle() const { return -1; }
};

// Starts a dialog with the backend in force (see above). Never null.
std::unique_ptr<PendingDialog> StartDialog(const DialogRequest& request);

// A message box that nobody waits for (an error found where no editor's
// dialogs are at hand): started at once with the backend in force and kept
// by the service until the person closes it, its program reaped then. Any
// thread; never blocks.
void ShowMessage(const DialogRequest& request);
// Lets go of the messages of ShowMessage that were closed, and returns the
// texts of those that no one could show (no zenity) since the last call,
// for an editor's readout. Any thread; the editors call it whenever the
// host idles them.
std::vector<std::string> PollMessages();

// The parts of a SaveFile answer: a chosen name without an extension gets
// the default one ("notes" -> "notes.txt"; "notes.old" and ".hidden" are
// kept as they are).
std::string WithDefaultExtension(const std::string& path, const std::string& extension);

// While alive, every dialog started anywhere in the process takes the next
// of these answers (Cancel once they are used up). An answer is delivered
// by the dialog's first Poll, never from StartDialog itself.
class ScopedScriptedDialogs {
public:
    explicit ScopedScriptedDialogs(std::vector<DialogAnswer> answers = {});
    ~ScopedScriptedDialogs();
    ScopedScriptedDialogs(const ScopedScriptedDialogs&) = delete;
    ScopedScriptedDialogs& operator=(const ScopedScriptedDialogs&) = delete;

    // Adds answers after the ones not used yet.
    void Add(std::vector<DialogAnswer> answers);
    // Every request started so far, in order.
    std::vector<DialogRequest> Requests() const;
    // How many started dialogs have been destroyed before their first Poll
    // (closed without ever being answered).
    int ClosedUnanswered() const;
};

} // namespace corvane::platform
