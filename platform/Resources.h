// The module's built-in resources (Lua scripts, images), compiled into the
// module at build time. Looked up by file name or by the (type, id) pair the
// code has always used for them. Any thread; no allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvane::platform {

struct EmbeddedResource {
    const char* name;           // path below resources/, for example "midi.lua"
    uint32_t type;              // resource type (256 for Lua scripts), 0 when unnumbered
    uint32_t id;                // resource id within the type
    const unsigned char* bytes; // followed by one NUL byte not counted in size
    size_t size;
};

// Terminated by a record with a null name.
extern const EmbeddedResource kEmbeddedResources[];

// Null when there is no such resource.
const EmbeddedResource* FindResource(std::string_view name);
const EmbeddedResource* FindResource(uint32_t type, uint32_t id);

} // namespace corvane::platform
