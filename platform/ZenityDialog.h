// The zenity backend of the dialog service (Dialogs.h): the arguments a
// request becomes, the answer zenity's exit status and output give, and the
// running dialog process.
//
// Threads: as Dialogs.h (one thread per dialog; nothing here blocks except
// the destructor's reap of a killed process).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Dialogs.h"

namespace corvane::platform {

// zenity's command line for a request (argv[0] is "zenity"). List rows are
// not on it: they go to zenity's standard input (ZenityInput), so that a row
// can never be taken for an option.
std::vector<std::string> ZenityArguments(const DialogRequest& request);
// What zenity reads on standard input: for a list, each row's number and
// text on lines of their own (line breaks inside a row become blanks).
std::string ZenityInput(const DialogRequest& request);

// The answer for zenity's exit (exitCode -1: killed, or the status is
// unknown) and what it printed: 0 is OK with the text printed (one final
// line break removed), anything else Cancel. A list's text is the chosen
// row's number (nothing: no row chosen); a number that names no row of
// rowCount counts as none.
DialogAnswer ParseZenityAnswer(DialogKind kind, int exitCode, const std::string& output, size_t rowCount);

// Starts zenity for the request; null when it cannot be started.
std::unique_ptr<PendingDialog> StartZenityDialog(const DialogRequest& request);

} // namespace corvane::platform
