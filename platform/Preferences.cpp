#include "platform/Preferences.h"

#include "platform/NumberText.h"
#include "platform/UserFolders.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace corvane {

namespace {

constexpr const char* kPrefFolderName = "Ormbury";
constexpr const char* kPrefFileName = "com.ormbury.Corvane2.conf";
constexpr const char* kSkinValueName = "Skin";
// A preferences file is a few hundred bytes; anything far larger is not ours
// and is treated as unreadable rather than read into memory.
constexpr off_t kMaxPrefFileSize = 1 << 20;

std::string PrefFolder()
{
    std::string config = GetUserConfigFolder();
    if (config.empty())
        return config;
    if (config.back() != '/')
        config += '/';
    return config + kPrefFolderName;
}

enum class FileRead { Ok, Missing, Failed };

FileRead ReadWholeFile(const std::string& path, std::string& text)
{
    text.clear();
    // O_NONBLOCK: a FIFO in place of the file must not block the caller.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return (errno == ENOENT || errno == ENOTDIR) ? FileRead::Missing : FileRead::Failed;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxPrefFileSize) {
        close(fd);
        return FileRead::Failed;
    }
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || text.size() + static_cast<size_t>(n) > static_cast<size_t>(kMaxPrefFileSize)) {
            close(fd);
            text.clear();
            return FileRead::Failed;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return FileRead::Ok;
}

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// The name of a "Name=Value" line, or an empty view for any other line.
std::string_view LineName(std::string_view line)
{
    size_t equals = line.find('=');
    return equals == std::string_view::npos ? std::string_view() : TrimBlanks(line.substr(0, equals));
}

std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            lines.push_back(text);
            break;
        }
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    return lines;
}

// The value of the last line of that name in the file.
bool ReadPrefText(std::string_view name, std::string& value)
{
    std::string folder = PrefFolder();
    if (folder.empty() || name.empty())
        return false;
    std::string text;
    if (ReadWholeFile(folder + "/" + kPrefFileName, text) != FileRead::Ok)
        return false;
    bool found = false;
    for (std::string_view line : SplitLines(text)) {
        if (LineName(line) == name) {
            value.assign(TrimBlanks(line.substr(line.find('=') + 1)));
            found = true;
        }
    }
    return found;
}

bool HasLineBreak(std::string_view text)
{
    return text.find('\n') != std::string_view::npos || text.find('\r') != std::string_view::npos;
}

bool MakeFolder(const std::string& path, mode_t mode)
{
    return mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Holds an exclusive flock() on the preferences folder: writers in other
// threads and processes wait for each other, so no update is lost between
// reading the old file and renaming the new one into place.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder)
        : fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (fd < 0)
            return;
        while (flock(fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                close(fd);
                fd = -1;
                return;
            }
        }
    }
    ~FolderLock()
    {
        if (fd >= 0)
            close(fd); // releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool Held() const { return fd >= 0; }
    int Fd() const { return fd; }

private:
    int fd;
};

bool WritePrefText(std::string_view name, std::string_view value)
{
    if (name.empty() || name.find('=') != std::string_view::npos || HasLineBreak(name) || HasLineBreak(value) ||
        TrimBlanks(name) != name)
        return false;
    std::string config = GetUserConfigFolder();
    std::string folder = PrefFolder();
    if (config.empty() || folder.empty())
        return false;
    // XDG asks for 0700 on base folders we create.
    if (!MakeFolder(config, 0700) || !MakeFolder(folder, 0700))
        return false;
    FolderLock lock(folder);
    if (!lock.Held())
        return false;

    std::string path = folder + "/" + kPrefFileName;
    std::string old;
    FileRead readResult = ReadWholeFile(path, old);
    // A file that exists but cannot be read is left alone rather than
    // replaced by one holding only this value.
    if (readResult == FileRead::Failed)
        return false;

    std::string line;
    line.append(name).append("=").append(value).append("\n");
    std::string text;
    bool replaced = false;
    for (std::string_view oldLine : SplitLines(old)) {
        if (LineName(oldLine) == name) {
            if (!replaced)
                text += line;
            replaced = true;
            continue;
        }
        text.append(oldLine).append("\n");
    }
    if (!replaced)
        text += line;

    std::string temporary = path + ".XXXXXX";
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    bool ok = WriteAll(fd, text);
    if (ok && readResult == FileRead::Ok && stat(path.c_str(), &info) == 0)
        ok = fchmod(fd, info.st_mode & 07777) == 0;
    // Data on disk before the rename: after a crash the file is either the
    // old one or the complete new one.
    if (ok)
        ok = fsync(fd) == 0;
    if (close(fd) != 0)
        ok = false;
    if (ok)
        ok = rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        unlink(temporary.c_str());
        return false;
    }
    fsync(lock.Fd());
    return true;
}

} // namespace

std::string GetPreferencesPath()
{
    std::string folder = PrefFolder();
    return folder.empty() ? folder : folder + "/" + kPrefFileName;
}

int32_t ReadPrefInt(const char* name, int32_t defaultValue)
{
    if (!name)
        return defaultValue;
    std::string text;
    int32_t value = defaultValue;
    if (!ReadPrefText(name, text) || !platform::ParseInt(text, value))
        return defaultValue;
    return value;
}

bool WritePrefInt(const char* name, int32_t value)
{
    if (!name)
        return false;
    char digits[16];
    std::to_chars_result result = std::to_chars(digits, digits + sizeof digits, value);
    return WritePrefText(name, std::string_view(digits, static_cast<size_t>(result.ptr - digits)));
}

bool ReadSkinPref(std::string& text)
{
    std::string value;
    if (!ReadPrefText(kSkinValueName, value))
        return false;
    if (value.size() > kMaxSkinNameLength) {
        size_t cut = kMaxSkinNameLength;
        // Step back over UTF-8 continuation bytes so the cut keeps whole characters.
        while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80)
            --cut;
        value.resize(cut);
    }
    text = std::move(value);
    return true;
}

bool WriteSkinPref(const std::string& text)
{
    std::string_view value(text.c_str());
    return WritePrefText(kSkinValueName, value);
}

} // namespace corvane
