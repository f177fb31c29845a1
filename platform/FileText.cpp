#include "platform/FileText.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

// A new file "<path>.<six letters>", opened for writing, created with mode
// (less the umask) and never one that existed before. -1 on failure.
int CreateTemporary(const std::string& path, mode_t mode, std::string& temporary)
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::minstd_rand generator(std::random_device{}());
    std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = path + ".";
        for (int i = 0; i < 6; ++i)
            temporary += kLetters[pick(generator)];
        int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

bool WriteAll(int fd, std::string_view text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

int OpenRegularFile(const std::string& path, int flags)
{
    int fd = open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd < 0)
        return -1;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    const int status = fcntl(fd, F_GETFL);
    if (status >= 0)
        fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    return fd;
}

FileRead ReadWholeFile(const std::string& path, size_t maxBytes, std::string& text)
{
    text.clear();
    // O_NONBLOCK: a FIFO in place of the file must not block the caller.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return (errno == ENOENT || errno == ENOTDIR) ? FileRead::Missing : FileRead::Failed;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return FileRead::Failed;
    }
    if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
        close(fd);
        return FileRead::TooLarge;
    }
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            close(fd);
            text.clear();
            return FileRead::Failed;
        }
        // The file may grow while we read it.
        if (text.size() + static_cast<size_t>(n) > maxBytes) {
            close(fd);
            text.clear();
            return FileRead::TooLarge;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return FileRead::Ok;
}

bool ReplaceFile(const std::string& path, std::string_view text, mode_t newFileMode, int* error)
{
    auto fail = [error](int code) {
        if (error)
            *error = code;
        return false;
    };
    if (path.empty())
        return fail(ENOENT);
    std::string temporary;
    int fd = CreateTemporary(path, newFileMode, temporary);
    if (fd < 0)
        return fail(errno);
    struct stat info;
    bool ok = WriteAll(fd, text);
    int code = ok ? 0 : errno;
    if (ok && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && fchmod(fd, info.st_mode & 07777) != 0) {
        ok = false;
        code = errno;
    }
    // Data on disk before the rename: after a crash the file is either the
    // old one or the complete new one.
    if (ok && fsync(fd) != 0) {
        ok = false;
        code = errno;
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        code = errno;
    }
    if (!ok) {
        unlink(temporary.c_str());
        return fail(code);
    }
    return true;
}

} // namespace corvane
