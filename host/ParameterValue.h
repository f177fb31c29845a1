// Turning a user's parameter value into the normalised value a VST host
// sends. The host knows only the VST interface, so a real value is found
// through the plug-in's own display texts:
//   "@0.25"   the normalised value itself (0..1);
//   "Tempo"   a value name or any other display text, matched
//             case-insensitively (for example "Off", "On");
//   "-1.5"    a number, found by searching the normalised range for where
//             the displayed number equals it (the display's precision limits
//             the precision: a "%.3f" display gives 0.001 steps).
// The search calls setParameter on the plug-in many times and leaves the
// found value set (or the old value, on failure). Host thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvane::host {

class Plugin;

// Index of the parameter named `name` (case-insensitive; a name longer than
// the plug-in shows matches on the shown part) or given by its number. -1
// with a reason when there is none or when several parameters show that name
// (plug-ins cut names to 15 characters, so "Output Positive L" and "Output
// Positive R" may both show as "Output Positive").
int32_t FindParameterByText(Plugin& plugin, const std::string& name, std::string* error = nullptr);

// Null with a reason in *error when the text names no value the parameter
// can take.
std::optional<float> FindNormalizedValue(Plugin& plugin, int32_t index, const std::string& text,
                                         std::string* error = nullptr);

} // namespace corvane::host
