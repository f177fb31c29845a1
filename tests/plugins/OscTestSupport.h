// Helpers of the CV To OSC and Learner tests: the 840-byte program chunk
// written and read by hand (independent of the plug-in's own struct), state
// chunks built and taken apart by hand, and MIDI sent to a plug-in built
// in-process.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class ObryCorvaneBase;
class OSCSenderBase;

namespace corvane::test::osc {

constexpr size_t kProgramChunkSize = 840;
constexpr size_t kNameOffset = 12;
constexpr size_t kDestinationOffset = 44;
constexpr size_t kAddressLOffset = 300;
constexpr size_t kAddressROffset = 556;
constexpr size_t kParamsOffset = 812;
constexpr int kParamCount = 7;

struct ProgramFields {
    std::string name;
    std::string destination; // each text written as given, up to 256 bytes
    std::string addressL;
    std::string addressR;
    std::vector<float> values;
};

std::vector<uint8_t> MakeProgramChunk(const ProgramFields& fields);
// The same chunk as a machine of the other byte order would write it.
std::vector<uint8_t> SwapProgramChunk(std::vector<uint8_t> chunk);
ProgramFields ReadProgramChunk(const std::vector<uint8_t>& chunk);

constexpr uint32_t kTagChnk = 0x63686E6B; // 'chnk'
constexpr uint32_t kTagIpep = 0x69706570; // 'ipep'
constexpr uint32_t kTagMmap = 0x6D6D6170; // 'mmap'
constexpr uint32_t kTagLuid = 0x6C756964; // 'luid'
constexpr uint32_t kTagGuid = 0x67756964; // 'guid'
constexpr uint32_t kTagPuid = 0x70756964; // 'puid'
constexpr uint32_t kTagVers = 0x76657273; // 'vers'
constexpr uint32_t kTagParm = 0x7061726D; // 'parm'

// A state chunk: 'Obry', version 1, length, then the records in order.
std::vector<uint8_t> MakeState(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& records);
// The records of a state chunk in order; empty when it is not one.
std::vector<std::pair<uint32_t, std::vector<uint8_t>>> RecordsOf(const std::vector<uint8_t>& state);
std::vector<uint32_t> TagsOf(const std::vector<uint8_t>& state);
// The payload of the last record `tag`; empty when there is none.
std::vector<uint8_t> RecordOf(const std::vector<uint8_t>& state, uint32_t tag);
std::vector<uint8_t> Bytes(const std::string& text, bool withNul);
uint32_t U32At(const std::vector<uint8_t>& bytes, size_t offset);

// The plug-in's state as the host would save it.
std::vector<uint8_t> ChunkOf(ObryCorvaneBase& plugin);
int32_t Restore(ObryCorvaneBase& plugin, std::vector<uint8_t> state);

// One control change delivered to `plugin` the way the host does it
// (processEvents, then a block), and what the block handed over served
// (unless `waitForHandOver` is false).
void SendControlChange(ObryCorvaneBase& plugin, int channel, int controller, int value, bool waitForHandOver = true);

// Holds an OSC sender's thread before each packet until released. The
// sender's hook keeps the gate alive as long as the thread may use it.
class SendGate {
public:
    static std::shared_ptr<SendGate> Hold(OSCSenderBase& sender);
    // Waits (up to 10 s) until the thread has arrived `count` times.
    bool WaitForArrival(int count);
    void Release();

private:
    void Arrive();
    std::mutex lock;
    std::condition_variable changed;
    int arrived = 0;
    bool open = false;
};

} // namespace corvane::test::osc
