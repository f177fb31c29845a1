#include "platform/Resources.h"

namespace corvane::platform {

const EmbeddedResource* FindResource(std::string_view name)
{
    for (const EmbeddedResource* r = kEmbeddedResources; r->name; ++r)
        if (name == r->name)
            return r;
    return nullptr;
}

const EmbeddedResource* FindResource(uint32_t type, uint32_t id)
{
    if (type == 0)
        return nullptr;
    for (const EmbeddedResource* r = kEmbeddedResources; r->name; ++r)
        if (r->type == type && r->id == id)
            return r;
    return nullptr;
}

} // namespace corvane::platform
