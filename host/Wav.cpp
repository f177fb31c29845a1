#include "host/Wav.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace corvane::host {

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// RIFF sizes are 32-bit; leave room for the header.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 64;

void PutU16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutTag(std::vector<uint8_t>& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t GetU32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

int16_t ToPcm16(float sample)
{
    if (std::isnan(sample))
        return 0;
    const float clipped = std::fmin(std::fmax(sample, -1.0f), 1.0f);
    return static_cast<int16_t>(std::lround(clipped * 32767.0f));
}

} // namespace

WavWriter::~WavWriter() { Close(); }

bool WavWriter::Fail(std::string* error, const std::string& what)
{
    if (error)
        *error = path + ": " + what;
    if (file) {
        fclose(file);
        file = nullptr;
    }
    return false;
}

bool WavWriter::Open(const std::string& filePath, int channelCount, int sampleRate, WavFormat wavFormat,
                     std::string* error)
{
    Close();
    path = filePath;
    if (channelCount < 1 || channelCount > 64 || sampleRate < 1)
        return Fail(error, "unsupported channel count or sample rate");
    file = fopen(path.c_str(), "wb");
    if (!file)
        return Fail(error, strerror(errno));
    channels = channelCount;
    format = wavFormat;
    dataBytes = 0;

    const uint16_t bytesPerSample = format == WavFormat::Float32 ? 4 : 2;
    const uint16_t blockAlign = static_cast<uint16_t>(bytesPerSample * channels);
    std::vector<uint8_t> header;
    PutTag(header, "RIFF");
    riffSizeOffset = static_cast<long>(header.size());
    PutU32(header, 0);
    PutTag(header, "WAVE");
    PutTag(header, "fmt ");
    PutU32(header, format == WavFormat::Float32 ? 18 : 16);
    PutU16(header, format == WavFormat::Float32 ? kFormatFloat : kFormatPcm);
    PutU16(header, static_cast<uint16_t>(channels));
    PutU32(header, static_cast<uint32_t>(sampleRate));
    PutU32(header, static_cast<uint32_t>(sampleRate) * blockAlign);
    PutU16(header, blockAlign);
    PutU16(header, static_cast<uint16_t>(bytesPerSample * 8));
    factOffset = -1;
    if (format == WavFormat::Float32) {
        PutU16(header, 0); // cbSize
        // Non-PCM formats carry the frame count in a fact chunk.
        PutTag(header, "fact");
        PutU32(header, 4);
        factOffset = static_cast<long>(header.size());
        PutU32(header, 0);
    }
    PutTag(header, "data");
    dataSizeOffset = static_cast<long>(header.size());
    PutU32(header, 0);
    if (fwrite(header.data(), 1, header.size(), file) != header.size())
        return Fail(error, strerror(errno));
    return true;
}

bool WavWriter::Write(const std::vector<std::vector<float>>& data, size_t frames, size_t offset, std::string* error)
{
    if (!file)
        return Fail(error, "not open");
    if (data.size() < static_cast<size_t>(channels))
        return Fail(error, "fewer channels than the file has");
    for (const auto& channel : data)
        if (channel.size() < offset + frames)
            return Fail(error, "channel shorter than the frames to write");
    const size_t bytesPerSample = format == WavFormat::Float32 ? 4 : 2;
    const uint64_t bytes = static_cast<uint64_t>(frames) * channels * bytesPerSample;
    if (dataBytes + bytes > kMaxDataBytes)
        return Fail(error, "too long for a WAV file (4 GiB)");

    std::vector<uint8_t> interleaved;
    interleaved.reserve(bytes);
    for (size_t i = offset; i < offset + frames; ++i)
        for (int c = 0; c < channels; ++c) {
            if (format == WavFormat::Float32) {
                uint32_t bits;
                std::memcpy(&bits, &data[c][i], 4);
                PutU32(interleaved, bits);
            } else {
                PutU16(interleaved, static_cast<uint16_t>(ToPcm16(data[c][i])));
            }
        }
    if (fwrite(interleaved.data(), 1, interleaved.size(), file) != interleaved.size())
        return Fail(error, strerror(errno));
    dataBytes += bytes;
    return true;
}

bool WavWriter::Close(std::string* error)
{
    if (!file)
        return true;
    const size_t bytesPerFrame = static_cast<size_t>(channels) * (format == WavFormat::Float32 ? 4 : 2);
    auto patch = [&](long offset, uint64_t value) {
        std::vector<uint8_t> bytes;
        PutU32(bytes, static_cast<uint32_t>(value));
        return fseek(file, offset, SEEK_SET) == 0 && fwrite(bytes.data(), 1, 4, file) == 4;
    };
    bool ok = patch(riffSizeOffset, dataSizeOffset + 4 - 8 + dataBytes) && patch(dataSizeOffset, dataBytes);
    if (factOffset >= 0)
        ok = ok && patch(factOffset, dataBytes / bytesPerFrame);
    ok = fclose(file) == 0 && ok;
    file = nullptr;
    if (!ok && error)
        *error = path + ": " + strerror(errno);
    return ok;
}

bool WriteWav(const std::string& path, const std::vector<std::vector<float>>& channels, int sampleRate,
              WavFormat format, std::string* error)
{
    WavWriter writer;
    const size_t frames = channels.empty() ? 0 : channels[0].size();
    return writer.Open(path, static_cast<int>(channels.size()), sampleRate, format, error) &&
           writer.Write(channels, frames, 0, error) && writer.Close(error);
}

std::optional<WavData> ReadWav(const std::string& path, std::string* error)
{
    auto fail = [&](const std::string& what) -> std::optional<WavData> {
        if (error)
            *error = path + ": " + what;
        return std::nullopt;
    };
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fail("cannot open");
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) || std::memcmp(bytes.data() + 8, "WAVE", 4))
        return fail("not a RIFF WAVE file");

    uint16_t tag = 0, channels = 0, bits = 0;
    uint32_t rate = 0;
    const uint8_t* data = nullptr;
    size_t dataSize = 0;
    for (size_t pos = 12; pos + 8 <= bytes.size();) {
        const uint8_t* chunk = bytes.data() + pos;
        const size_t size = GetU32(chunk + 4);
        const size_t available = bytes.size() - pos - 8;
        if (!std::memcmp(chunk, "fmt ", 4)) {
            if (size < 16 || size > available)
                return fail("bad fmt chunk");
            tag = GetU16(chunk + 8);
            channels = GetU16(chunk + 10);
            rate = GetU32(chunk + 12);
            bits = GetU16(chunk + 22);
            if (tag == kFormatExtensible) {
                if (size < 40)
                    return fail("bad extensible fmt chunk");
                tag = GetU16(chunk + 32); // first two bytes of the subformat GUID
            }
        } else if (!std::memcmp(chunk, "data", 4)) {
            data = chunk + 8;
            dataSize = std::min(size, available); // a truncated file keeps what it has
        }
        if (size > available)
            break;
        pos += 8 + size + (size & 1);
    }
    if (!tag)
        return fail("no fmt chunk");
    if (!data)
        return fail("no data chunk");
    if (channels == 0 || rate == 0 || rate > 0x7FFFFFFF)
        return fail("bad channel count or sample rate");

    WavData wav;
    wav.sampleRate = static_cast<int>(rate);
    size_t bytesPerSample;
    if (tag == kFormatFloat && bits == 32) {
        wav.format = WavFormat::Float32;
        bytesPerSample = 4;
    } else if (tag == kFormatPcm && bits == 16) {
        wav.format = WavFormat::Pcm16;
        bytesPerSample = 2;
    } else {
        return fail("only 32-bit float and 16-bit PCM are read");
    }
    const size_t frames = dataSize / (bytesPerSample * channels);
    wav.channels.assign(channels, std::vector<float>(frames));
    const uint8_t* p = data;
    for (size_t i = 0; i < frames; ++i)
        for (size_t c = 0; c < channels; ++c, p += bytesPerSample) {
            if (wav.format == WavFormat::Float32) {
                const uint32_t sampleBits = GetU32(p);
                std::memcpy(&wav.channels[c][i], &sampleBits, 4);
            } else {
                wav.channels[c][i] = static_cast<int16_t>(GetU16(p)) / 32768.0f;
            }
        }
    return wav;
}

} // namespace corvane::host
