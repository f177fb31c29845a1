// The user's folders for preferences, skins and Lua scripts, after the XDG
// base-directory rules:
//   config folder   ${XDG_CONFIG_HOME:-$HOME/.config}
//   data folder     ${XDG_DATA_HOME:-$HOME/.local/share}
//   product folder  <data>/Ormbury/<product>
//   skins folder    <product folder>/Skins, one <name>.bundle folder per skin
//   scripts folder  <product folder>/Scripts; the Lua MIDI scripts are looked
//                   up with the plug-in's name as the product, so each
//                   plug-in class has its own
// A variable that is unset, empty or not an absolute path counts as unset.
// When neither the variable nor HOME gives a folder the result is the empty
// text and no folder work is done at all: the folder functions return empty
// texts, CreateUserFolders does nothing and the listings are empty. A product
// or skin name that is empty, "." or "..", or that holds a '/', names no
// folder either, so a name read from a preference cannot reach outside the
// skins folder.
//
// Any thread except the audio thread (these read the environment, allocate
// and touch the file system). Failures are not reported: they give empty
// texts and lists.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

std::string GetUserConfigFolder();
std::string GetUserDataFolder();
std::string GetProductFolder(std::string_view product);
std::string GetSkinsFolder(std::string_view product);
std::string GetScriptsFolder(std::string_view product);

// Creates, one after the other, the data folder (with any missing parents),
// <data>/Ormbury, the product folder and its Skins folder. Existing folders
// are kept; failures are ignored.
void CreateUserFolders(std::string_view product);

// <skins folder>/<name> when that can be read, else <skins folder>/<name>.bundle
// when that can be read, else the empty text.
std::string GetSkinBundlePath(std::string_view name, std::string_view product);

// Names of the skins folder's entries that are longer than 7 characters and
// end in ".bundle", without that ending, sorted case-insensitively.
std::vector<std::string> EnumerateSkins(std::string_view product);

// Full paths of the readable regular files matching "*.lua" (ending matched
// case-insensitively) in GetScriptsFolder(pluginName), sorted
// case-insensitively by file name.
std::vector<std::string> EnumerateUserScripts(std::string_view pluginName);

} // namespace corvane
