#include "fuzz/FuzzHost.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <map>
#include <netdb.h>
#include <unistd.h>
#include <vector>

#include "framework/vst/VstAbi.h"
#include "module/PluginFactory.h"

// The fuzzed URLs must not reach the name server: every lookup fails at once.
extern "C" int getaddrinfo(const char*, const char*, const struct addrinfo*, struct addrinfo**)
{
    return EAI_NONAME;
}
extern "C" int getaddrinfo_a(int, struct gaicb**, int, struct sigevent*)
{
    return EAI_AGAIN;
}

namespace corvane::fuzz {

const int32_t kPluginIds[] = {
    vst::FourCC("QZs0"), vst::FourCC("QZs1"), vst::FourCC("QZs2"), vst::FourCC("QZs3"), vst::FourCC("QZs4"),
    vst::FourCC("QZs5"), vst::FourCC("QZs6"), vst::FourCC("QZs7"), vst::FourCC("QZs8"), vst::FourCC("QZs9"),
    vst::FourCC("QZsa"), vst::FourCC("QZsb"), vst::FourCC("QZsc"), vst::FourCC("QZsd"), vst::FourCC("QZse"),
    vst::FourCC("QZsf"), vst::FourCC("QZs("), vst::FourCC("QZsg"), vst::FourCC("QZsh"), vst::FourCC("QZsi"),
    vst::FourCC("QZsj"), vst::FourCC("QZsk"), vst::FourCC("QZsl"), vst::FourCC("QZsm"), vst::FourCC("QZsn"),
};
const size_t kPluginCount = sizeof kPluginIds / sizeof kPluginIds[0];

namespace {

int32_t gCurrentId = 0;

intptr_t FuzzHostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    switch (opcode) {
    case audioMasterVersion: return 2400;
    case audioMasterCurrentId: return gCurrentId;
    default: return 0;
    }
}

} // namespace

void QuietProcess()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0)
        dup2(null, STDOUT_FILENO);
    char folder[] = "/tmp/corvane-fuzz-XXXXXX";
    if (!mkdtemp(folder))
        return;
    setenv("XDG_CONFIG_HOME", folder, 1);
    setenv("XDG_DATA_HOME", folder, 1);
    // The DC plug-in's script binds addresses, so that datagrams reach the
    // bound parameters and functions too.
    const std::string scripts = std::string(folder) + "/Ormbury/Corvane DC/Scripts";
    std::filesystem::create_directories(scripts);
    std::ofstream(scripts + "/fuzz.lua") << "registerOSCPathForParameter('/fuzz/param', {0, 1})\n"
                                            "registerOSCPathForParameterNormalized('/fuzz/norm', 1)\n"
                                            "registerOSCPathForFunction('/fuzz/fn', function(...) return ... end)\n"
                                            "function fuzzEcho(...) return ... end\n";
}

ObryCorvaneBase* Plugin(int32_t id)
{
    static std::map<int32_t, ObryCorvaneBase*> opened;
    const auto found = opened.find(id);
    if (found != opened.end())
        return found->second;
    QuietProcess();
    gCurrentId = id;
    AudioEffect* made = createEffectInstance(FuzzHostCallback);
    gCurrentId = 0;
    if (!made)
        return nullptr;
    AEffect* effect = made->getAeffect();
    effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f);
    effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    effect->dispatcher(effect, effSetBlockSize, 0, 64, nullptr, 0.0f);
    effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
    auto* plugin = static_cast<ObryCorvaneBase*>(made);
    opened[id] = plugin;
    return plugin;
}

void ProcessBlock(ObryCorvaneBase* plugin)
{
    constexpr int kChannels = ObryCorvaneBase::kMaxChannels;
    static std::vector<float> buffers[kChannels];
    static float* pointers[kChannels];
    for (int c = 0; c < kChannels; ++c) {
        buffers[c].assign(64, 0.0f);
        pointers[c] = buffers[c].data();
    }
    AEffect* effect = plugin->getAeffect();
    effect->processReplacing(effect, pointers, pointers, 64);
}

double Reader::Double()
{
    uint64_t bits = static_cast<uint64_t>(U32()) << 32 | U32();
    double value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

const uint8_t* Reader::Bytes(size_t most, size_t* taken)
{
    const size_t count = most < Left() ? most : Left();
    const uint8_t* at = data + position;
    position += count;
    *taken = count;
    return at;
}

} // namespace corvane::fuzz
