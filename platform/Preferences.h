// User preferences, kept in the text file
//   ${XDG_CONFIG_HOME:-$HOME/.config}/Ormbury/com.ormbury.Corvane2.conf
// as lines "Name=Value". Value names in use: "OSC Base Port" (default 7000),
// "Enable eye candy" (1), "Enable constant redraw" (1), "Enable floating
// tooltip" (0), "VC output arrangement" (1), "Skin" (text, no default).
//
// Every read opens the file afresh, so a change made by the preference
// dialog of another instance or process is seen on the next read; reading
// never creates a file or folder. A missing, unreadable or malformed value
// gives the default: integers are decimal, with optional surrounding blanks,
// and must fit in 32 bits. A write replaces the file as a whole through a
// temporary file in the same folder and a rename, so readers see either the
// old file or the new one; the other lines of the file are kept as they
// were. Writers of several threads or processes are serialised by a lock on
// the folder. Failures are not reported: reads give defaults, writes are not
// done (and return false).
//
// Any thread except the audio thread (file I/O, allocation).
#pragma once

#include <cstdint>
#include <string>

namespace corvane {

constexpr size_t kMaxSkinNameLength = 255;

// Full path of the preferences file; empty when there is no config folder.
std::string GetPreferencesPath();

int32_t ReadPrefInt(const char* name, int32_t defaultValue);
bool WritePrefInt(const char* name, int32_t value);

// On success text becomes the stored "Skin" value cut to its first 255
// bytes (not splitting a UTF-8 sequence) and the result is true; otherwise
// text is left unchanged.
bool ReadSkinPref(std::string& text);
// Stores text up to its first NUL. A text holding a line break cannot be
// stored in this format and is refused.
bool WriteSkinPref(const std::string& text);

} // namespace corvane
