#include "platform/Preferences.h"

#include "platform/FileText.h"
#include "platform/NumberText.h"
#include "platform/UserFolders.h"
#include "platform/Utf8.h"

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
constexpr size_t kMaxPrefFileSize = 1 << 20;

std::string PrefFolder()
{
    std::string config = GetUserConfigFolder();
    if (config.empty())
        return config;
    if (config.back() != '/')
        config += '/';
    return config + kPrefFolderName;
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
    if (ReadWholeFile(folder + "/" + kPrefFileName, kMaxPrefFileSize, text) != FileRead::Ok)
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
    FileRead readResult = ReadWholeFile(path, kMaxPrefFileSize, old);
    // A file that exists but cannot be read is left alone rather than
    // replaced by one holding only this value.
    if (readResult == FileRead::Failed || readResult == FileRead::TooLarge)
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

    // Preferences are the user's own: a new file is readable by its owner only.
    if (!ReplaceFile(path, text, 0600))
        return false;
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
    value.resize(Utf8Prefix(value, kMaxSkinNameLength).size());
    text = std::move(value);
    return true;
}

bool WriteSkinPref(const std::string& text)
{
    std::string_view value(text.c_str());
    return WritePrefText(kSkinValueName, value);
}

} // namespace corvane
