// Helpers of the CV To MIDI tests: the program chunk's layout written out by
// hand (independent of the plug-in's own struct), the state chunk around it,
// and a capture of standard output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace corvane::test::cvtomidi {

constexpr size_t kProgramChunkSize = 416;
constexpr size_t kNameOffset = 12;
constexpr size_t kDeviceOffset = 44;
constexpr size_t kParamsOffset = 300;
constexpr int kParamCount = 29;

struct ProgramFields {
    std::string name;
    std::string device; // written as given, up to 256 bytes (no NUL when 256 long)
    std::vector<float> values;
};

// A 416-byte program chunk in little-endian order ('obry', 'brel', version).
std::vector<uint8_t> MakeProgramChunk(const ProgramFields& fields);
// The same chunk as a machine of the other byte order would write it.
std::vector<uint8_t> SwapProgramChunk(std::vector<uint8_t> chunk);
ProgramFields ReadProgramChunk(const std::vector<uint8_t>& chunk);

// A state chunk: 'Obry', version 1, length, then 'puid', 'vers' and a 'chnk'
// record holding `program` (padded to a multiple of 4).
std::vector<uint8_t> WrapInState(const std::vector<uint8_t>& program, uint32_t uniqueId);
// The payload of record `tag` of a state chunk; empty when it has none.
std::vector<uint8_t> RecordOf(const std::vector<uint8_t>& state, uint32_t tag);

constexpr uint32_t kTagChnk = 0x63686E6B; // 'chnk'

// Captures what is written to standard output (file descriptor 1) while alive.
class StdoutCapture : public FdCapture {
public:
    StdoutCapture() : FdCapture(1) {}
};

} // namespace corvane::test::cvtomidi
