// An in-process plug-in for the OSC server tests that feed packets straight
// to the server's handler, and a hand-written OSC packet builder (separate
// from the library the server parses with).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <ip/IpEndpointName.h>

#include "plugins/base/ObryCorvaneBase.h"
#include "framework/vst/VstAbi.h"

namespace corvane::test {

inline const ParameterInfo kOscTestParameters[] = {
    {"OSC Port Offset", kAudioUnitParameterUnit_Indexed, 0, 100, 0},
    {"Level", kAudioUnitParameterUnit_Generic, -5, 5, 0},
    {"Gain", kAudioUnitParameterUnit_Generic, 0, 10, 1},
    {"Shape", kAudioUnitParameterUnit_Generic, 0, 1, 0},
};
constexpr int32_t kOscTestParameterCount = 4;

struct NoteCall {
    bool on;
    int channel, note, velocity;
    bool operator==(const NoteCall&) const = default;
};

class OscTestPlugin : public ObryCorvaneBase {
public:
    // portIndex -1: no "OSC Port Offset" parameter, so nothing a packet sets
    // can open a server.
    explicit OscTestPlugin(int32_t portIndex = 0)
        : ObryCorvaneBase(nullptr, 0, 1, false, vst::FourCC("OscT"), portIndex, 1, nullptr,
                          kOscTestParameterCount, kOscTestParameters,
                          ObryProgramBasic<kOscTestParameterCount>::Create)
    {
        Initialize();
    }
    ~OscTestPlugin() override { Cleanup(); }

    void NoteOn(int channel, int note, int velocity) override { notes.push_back({true, channel, note, velocity}); }
    void NoteOff(int channel, int note, int velocity) override { notes.push_back({false, channel, note, velocity}); }
    const char* GetPluginName() override { return "Corvane OscTest"; }
    const char* GetGUIScriptName() override { return "gui.lua"; }

    // One audio block: delivers the notes queued by the OSC server.
    void Block(int32_t frames = 32)
    {
        std::vector<float> out(static_cast<size_t>(frames));
        float* outputs[] = {out.data()};
        processReplacing(nullptr, outputs, frames);
    }

    std::vector<NoteCall> notes; // audio thread (the test's Block)
};

// Builds one OSC message by hand: big-endian, 4-byte padding.
class HandPacket {
public:
    explicit HandPacket(const std::string& address) { PutString(bytes, address); }

    HandPacket& Int(int32_t v)
    {
        tags += 'i';
        PutWord(args, static_cast<uint32_t>(v));
        return *this;
    }
    HandPacket& Float(float v)
    {
        tags += 'f';
        uint32_t word;
        memcpy(&word, &v, 4);
        PutWord(args, word);
        return *this;
    }
    HandPacket& String(const std::string& v)
    {
        tags += 's';
        PutString(args, v);
        return *this;
    }
    HandPacket& Blob(const std::vector<uint8_t>& v)
    {
        tags += 'b';
        PutWord(args, static_cast<uint32_t>(v.size()));
        args.insert(args.end(), v.begin(), v.end());
        while (args.size() % 4)
            args.push_back(0);
        return *this;
    }
    HandPacket& Tag(char tag) // T, F, N: no data
    {
        tags += tag;
        return *this;
    }

    std::vector<uint8_t> Bytes() const
    {
        std::vector<uint8_t> packet = bytes;
        PutString(packet, tags);
        packet.insert(packet.end(), args.begin(), args.end());
        return packet;
    }

    // A bundle with the immediate time tag around the given elements.
    static std::vector<uint8_t> Bundle(const std::vector<std::vector<uint8_t>>& elements)
    {
        std::vector<uint8_t> packet;
        PutString(packet, "#bundle");
        PutWord(packet, 0);
        PutWord(packet, 1);
        for (const std::vector<uint8_t>& element : elements) {
            PutWord(packet, static_cast<uint32_t>(element.size()));
            packet.insert(packet.end(), element.begin(), element.end());
        }
        return packet;
    }

    static void PutWord(std::vector<uint8_t>& to, uint32_t word)
    {
        for (int shift = 24; shift >= 0; shift -= 8)
            to.push_back(static_cast<uint8_t>(word >> shift));
    }
    static void PutString(std::vector<uint8_t>& to, const std::string& text)
    {
        to.insert(to.end(), text.begin(), text.end());
        do
            to.push_back(0);
        while (to.size() % 4);
    }

private:
    std::vector<uint8_t> bytes;
    std::string tags = ",";
    std::vector<uint8_t> args;
};

inline void Feed(ObryCorvaneBase& plugin, const std::vector<uint8_t>& packet,
                 const IpEndpointName& from = IpEndpointName(127, 0, 0, 1, 9))
{
    plugin.OSC().ProcessPacket(reinterpret_cast<const char*>(packet.data()), static_cast<int>(packet.size()), from);
}

} // namespace corvane::test
