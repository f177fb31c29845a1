// Whole small files: read one at once, or replace one so that a reader (or
// a crash) sees either the old contents or the complete new ones, never a
// half-written file.
//
// Any thread except the audio thread (file I/O, allocation). Nothing here
// waits on anything but the file system: a FIFO or device in place of a
// file is refused, not read.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace corvane {

enum class FileRead {
    Ok,
    Missing,  // no such file (or a folder on the way is missing)
    TooLarge, // a regular file longer than the limit: not read
    Failed,   // anything else: no permission, not a regular file, a read error
};

// Reads the regular file at path, of at most maxBytes bytes, into text
// (cleared on any failure).
FileRead ReadWholeFile(const std::string& path, size_t maxBytes, std::string& text);

// Opens path with `flags` (O_RDONLY, O_WRONLY | O_CREAT, ...; O_CLOEXEC and
// O_NONBLOCK are added, so a FIFO or device never blocks the caller) and
// keeps the descriptor only when it names a regular file: -1 otherwise, with
// errno EINVAL for a file that is not regular. The descriptor is blocking
// again when returned. New files get mode 0666 less the umask.
int OpenRegularFile(const std::string& path, int flags);

// Writes all of text to fd, going on after short writes and interrupted
// calls; false with errno set when a write fails.
bool WriteAll(int fd, std::string_view text);

// Writes text to a new file beside path and renames it over path once the
// data is on disk. An existing file keeps its permission bits; a new one
// gets newFileMode less the process's umask. On failure path is as it was,
// no temporary file is left behind, false is returned and *error (when
// given) is the errno of the failed step.
bool ReplaceFile(const std::string& path, std::string_view text, mode_t newFileMode, int* error = nullptr);

} // namespace corvane
