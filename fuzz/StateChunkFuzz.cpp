// State chunks through effSetChunk of every plug-in class (the first byte
// picks the class), then a block and effGetChunk: what a project file from
// anywhere can make the module do.
#include <cstdint>

#include "fuzz/FuzzHost.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    ObryCorvaneBase* plugin = corvane::fuzz::Plugin(corvane::fuzz::kPluginIds[data[0] % corvane::fuzz::kPluginCount]);
    if (!plugin)
        return 0;
    AEffect* effect = plugin->getAeffect();
    // A copy: the host's buffer is the plug-in's to read, not to keep.
    std::vector<uint8_t> chunk(data + 1, data + size);
    effect->dispatcher(effect, effSetChunk, data[0] & 0x80 ? 1 : 0, static_cast<intptr_t>(chunk.size()),
                       chunk.empty() ? nullptr : chunk.data(), 0.0f);
    corvane::fuzz::ProcessBlock(plugin);
    void* saved = nullptr;
    effect->dispatcher(effect, effGetChunk, 0, 0, &saved, 0.0f);
    return 0;
}
