#include "platform/UserFolders.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

constexpr std::string_view kMakerFolder = "Ormbury";
constexpr std::string_view kBundleEnding = ".bundle";
constexpr std::string_view kScriptEnding = ".lua";

// Drops trailing separators but keeps a lone "/".
std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string JoinPath(const std::string& folder, std::string_view name)
{
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path.append(name);
    return path;
}

bool IsAbsolute(const char* value)
{
    return value && value[0] == '/';
}

std::string BaseFolder(const char* variable, std::string_view homeRelative)
{
    const char* value = getenv(variable);
    if (IsAbsolute(value))
        return WithoutTrailingSlash(value);
    const char* home = getenv("HOME");
    if (IsAbsolute(home))
        return JoinPath(WithoutTrailingSlash(home), homeRelative);
    return std::string();
}

bool IsFolderName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

char FoldCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EndsWithNoCase(std::string_view text, std::string_view ending)
{
    if (text.size() < ending.size())
        return false;
    std::string_view tail = text.substr(text.size() - ending.size());
    for (size_t i = 0; i < ending.size(); ++i)
        if (FoldCase(tail[i]) != FoldCase(ending[i]))
            return false;
    return true;
}

// Case-insensitive order with the exact bytes as tie-break, so that the
// result does not depend on the order readdir returned.
bool NameLess(std::string_view a, std::string_view b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char ca = FoldCase(a[i]), cb = FoldCase(b[i]);
        if (ca != cb)
            return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb);
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

std::vector<std::string> ListFolder(const std::string& folder)
{
    std::vector<std::string> names;
    if (folder.empty())
        return names;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return NameLess(a, b); });
    return names;
}

bool CanRead(const std::string& path)
{
    return access(path.c_str(), R_OK) == 0;
}

// A regular file that opens for reading. O_NONBLOCK keeps a FIFO that slipped
// in between the check and the open from blocking.
bool IsReadableFile(const std::string& path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

void MakeFolder(const std::string& path, mode_t mode)
{
    if (mkdir(path.c_str(), mode) != 0 && errno != EEXIST)
        return;
}

// mkdir -p for the data folder itself, which XDG lets us create when missing.
void MakeFolderWithParents(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        MakeFolder(path.substr(0, slash), 0700);
    MakeFolder(path, 0700);
}

} // namespace

std::string GetUserConfigFolder()
{
    return BaseFolder("XDG_CONFIG_HOME", ".config");
}

std::string GetUserDataFolder()
{
    return BaseFolder("XDG_DATA_HOME", ".local/share");
}

std::string GetProductFolder(std::string_view product)
{
    std::string data = GetUserDataFolder();
    if (data.empty() || !IsFolderName(product))
        return std::string();
    return JoinPath(JoinPath(data, kMakerFolder), product);
}

std::string GetSkinsFolder(std::string_view product)
{
    std::string folder = GetProductFolder(product);
    return folder.empty() ? folder : JoinPath(folder, "Skins");
}

std::string GetScriptsFolder(std::string_view product)
{
    std::string folder = GetProductFolder(product);
    return folder.empty() ? folder : JoinPath(folder, "Scripts");
}

void CreateUserFolders(std::string_view product)
{
    std::string data = GetUserDataFolder();
    std::string productFolder = GetProductFolder(product);
    if (data.empty() || productFolder.empty())
        return;
    MakeFolderWithParents(data);
    MakeFolder(JoinPath(data, kMakerFolder), 0755);
    MakeFolder(productFolder, 0755);
    MakeFolder(JoinPath(productFolder, "Skins"), 0755);
}

std::string GetSkinBundlePath(std::string_view name, std::string_view product)
{
    std::string skins = GetSkinsFolder(product);
    if (skins.empty() || !IsFolderName(name))
        return std::string();
    std::string path = JoinPath(skins, name);
    if (CanRead(path))
        return path;
    path.append(kBundleEnding);
    if (CanRead(path))
        return path;
    return std::string();
}

std::vector<std::string> EnumerateSkins(std::string_view product)
{
    std::vector<std::string> skins;
    for (std::string& name : ListFolder(GetSkinsFolder(product))) {
        if (name.size() > kBundleEnding.size() &&
            std::string_view(name).substr(name.size() - kBundleEnding.size()) == kBundleEnding) {
            name.resize(name.size() - kBundleEnding.size());
            skins.push_back(std::move(name));
        }
    }
    std::sort(skins.begin(), skins.end(), [](const std::string& a, const std::string& b) { return NameLess(a, b); });
    return skins;
}

std::vector<std::string> EnumerateUserScripts(std::string_view pluginName)
{
    std::vector<std::string> scripts;
    std::string folder = GetScriptsFolder(pluginName);
    for (const std::string& name : ListFolder(folder)) {
        if (!EndsWithNoCase(name, kScriptEnding))
            continue;
        std::string path = JoinPath(folder, name);
        if (IsReadableFile(path))
            scripts.push_back(std::move(path));
    }
    return scripts;
}

} // namespace corvane
