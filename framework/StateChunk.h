// The tagged-record codec of a plug-in's saved state:
//   'Obry' (u32), version 1 (u32), length of what follows (u32),
//   then records: tag (u32), padded size (u32), payload padded with zeros.
// All integers little-endian; tags are four-character codes.
//
// Parsing is for untrusted data (a host's saved project): every length is
// checked in 64 bits before it is used, and payload values are read with
// memcpy since foreign data need not be aligned.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class StateChunk {
public:
    struct Record {
        uint32_t size = 0;
        const uint8_t* data = nullptr; // inside the parsed buffer
    };

    // Writing.
    void AddRecord(uint32_t tag, const void* data, uint32_t size);
    void AddU32(uint32_t tag, uint32_t value);
    // Header and records in the order added.
    std::vector<uint8_t> Serialize() const;

    // Reading. The data must outlive the parsed records.
    bool Parse(const void* data, size_t size);
    const Record* Find(uint32_t tag) const;
    // The value of a record of exactly 4 bytes; false otherwise.
    bool ReadU32(uint32_t tag, uint32_t* value) const;
    static std::string ReadString(const Record& record);

    static uint32_t LoadU32(const uint8_t* p);
    static float LoadF32(const uint8_t* p);

    static constexpr uint32_t kMagic = 0x4F627279; // 'Obry'

private:
    struct Pending {
        uint32_t tag;
        std::vector<uint8_t> payload;
    };
    std::vector<Pending> records;
    std::map<uint32_t, Record> parsed;
};
