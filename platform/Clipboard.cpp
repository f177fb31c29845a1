#include "platform/Clipboard.h"

#include <map>
#include <mutex>

namespace corvane::platform {

namespace {

struct Registered {
    std::mutex lock;
    std::map<const void*, std::shared_ptr<Clipboard>> clipboards;
};

// Built on first use, freed at unload (editors are closed before then).
Registered& Clipboards()
{
    static Registered registered;
    return registered;
}

} // namespace

void RegisterClipboard(const void* owner, std::shared_ptr<Clipboard> clipboard)
{
    if (!owner)
        return;
    Registered& r = Clipboards();
    std::lock_guard<std::mutex> guard(r.lock);
    if (clipboard)
        r.clipboards[owner] = std::move(clipboard);
    else
        r.clipboards.erase(owner);
}

void UnregisterClipboard(const void* owner)
{
    Registered& r = Clipboards();
    std::lock_guard<std::mutex> guard(r.lock);
    r.clipboards.erase(owner);
}

std::shared_ptr<Clipboard> ClipboardFor(const void* owner)
{
    Registered& r = Clipboards();
    std::lock_guard<std::mutex> guard(r.lock);
    auto found = r.clipboards.find(owner);
    return found == r.clipboards.end() ? nullptr : found->second;
}

} // namespace corvane::platform
