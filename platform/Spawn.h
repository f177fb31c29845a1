// Starting other programs: the desktop's URL and folder openers, dialog
// helpers. Programs are started with posix_spawnp and an argument vector,
// never through a shell, in a session of their own (util-linux "setsid -f"),
// so they are not our children once started: nothing is left to reap and no
// zombie remains. Descriptors beyond standard output and error are closed in
// the child (the host's and our sockets must not live on in a browser);
// standard input reads /dev/null.
//
// UI thread or any other thread except the audio thread. Blocks only for the
// moment the intermediate setsid process needs to fork and exit.
#pragma once

#include <string>
#include <vector>

namespace corvane::platform {

// argv[0] is looked up in PATH. True when the program was found and started;
// a failure is logged through DebugPrintf.
bool SpawnDetached(const std::vector<std::string>& argv);

// xdg-open with the URL or folder as its one argument.
bool OpenUrl(const std::string& url);
bool OpenFolder(const std::string& path);

} // namespace corvane::platform
