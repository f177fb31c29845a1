// WAV files for rendered plug-in output: 32-bit IEEE float (format 3, with a
// fact chunk, as sox and other strict readers expect) or 16-bit PCM (format
// 1, which Python's wave module reads). Little-endian, one interleaved data
// chunk. Not thread-safe; one writer per file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace corvane::host {

enum class WavFormat { Float32, Pcm16 };

// Writes a WAV file block by block; the sizes in the header are filled in by
// Close (or the destructor), so a long render needs no memory for the whole.
class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    bool Open(const std::string& path, int channels, int sampleRate, WavFormat format, std::string* error = nullptr);
    // Appends `frames` frames; channels[c] holds at least offset + frames
    // samples. Pcm16 clips to -1..1 and writes NaN as 0.
    bool Write(const std::vector<std::vector<float>>& channels, size_t frames, size_t offset = 0,
               std::string* error = nullptr);
    bool Close(std::string* error = nullptr);

private:
    bool Fail(std::string* error, const std::string& what);

    FILE* file = nullptr;
    std::string path;
    int channels = 0;
    WavFormat format = WavFormat::Float32;
    uint64_t dataBytes = 0;
    long riffSizeOffset = 0, factOffset = -1, dataSizeOffset = 0;
};

// Whole-file helpers.
bool WriteWav(const std::string& path, const std::vector<std::vector<float>>& channels, int sampleRate,
              WavFormat format, std::string* error = nullptr);

struct WavData {
    int sampleRate = 0;
    WavFormat format = WavFormat::Float32;
    std::vector<std::vector<float>> channels; // Pcm16 samples scaled to -1..1 by 1/32768
};

// Reads what WavWriter writes (also WAVE_FORMAT_EXTENSIBLE and fmt chunks of
// 16, 18 or 40 bytes). Null with a reason for anything else.
std::optional<WavData> ReadWav(const std::string& path, std::string* error = nullptr);

} // namespace corvane::host
