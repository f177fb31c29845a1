// corvane-host: lists the plug-ins of a shell module and renders one of them
// to a WAV file, with parameters, an input signal, host transport and MIDI
// notes. A test tool and a user-facing command.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "host/ParameterValue.h"
#include "host/VstHost.h"
#include "host/Wav.h"

using namespace corvane::host;

namespace {

constexpr char kUsage[] = R"(corvane-host: a small VST 2.4 host for the Corvane module.

Usage:
  corvane-host list <module.so>
      Lists the plug-ins of a shell module, one a line: index, id, name and
      "instrument" or "effect".
  corvane-host params <module.so> <id-or-name>
      Lists a plug-in's parameters: index, name, value shown and unit.
  corvane-host render <module.so> --plugin <id-or-name> --out <file.wav> [options]
      Runs one plug-in and writes its outputs to a WAV file, one channel per
      plug-in output.
  corvane-host --help

Render options:
  --plugin ID|NAME      the four-character id ("QZs0") or the name the shell
                        lists, case-insensitive, with or without "QV " ("dc")
  --out FILE            the WAV file to write
  --format float|pcm16  32-bit float samples (default) or 16-bit PCM
  --seconds S           length in seconds (default 1)
  --rate R              sample rate in Hz (default 48000)
  --block B             frames per processing block (default 512)
  --input SIGNAL        the signal on every input: silence (default), const:V,
                        or sine:HZ[:AMP] (amplitude 1 by default)
  --param NAME=VALUE    sets a parameter before the run; repeatable. NAME is the
                        parameter's name (case-insensitive; names the plug-in
                        cuts to the same 15 characters need the index) or
                        index. VALUE is
                          @N      the normalised value N (0 to 1) itself;
                          TEXT    a value name as the plug-in shows it, such as
                                  "Tempo", "On" or "Off";
                          NUMBER  a real value. The host knows only the VST
                                  interface, so it searches the normalised range
                                  for where the plug-in's display shows that
                                  number: the precision is the display's (0.001
                                  for a value shown as 0.250).
  --tempo BPM           host tempo (default 120)
  --ppq P               start position in quarter notes (default 0)
  --timesig N/D         time signature (default 4/4)
  --play                the transport is playing (default: stopped)
  --note T:N:V:D[:C]    MIDI note N (0-127) with velocity V (1-127) starting at
                        T seconds for D seconds, on channel C (1-16, default 1);
                        repeatable; placed to the sample within the block

Examples:
  corvane-host list corvane_x64.so
  corvane-host render corvane_x64.so --plugin DC --param "Output Positive L=0.5" --out dc.wav
)";

struct UsageError {
    std::string message;
};
struct RunError {
    std::string message;
};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

double ParseDouble(const std::string& text, const char* what)
{
    double value = 0;
    const char* begin = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(begin, end, value);
    if (text.empty() || ec != std::errc() || stop != end || !std::isfinite(value))
        throw UsageError{std::string(what) + ": '" + text + "' is not a number"};
    return value;
}

double ParseInRange(const std::string& text, const char* what, double low, double high)
{
    const double value = ParseDouble(text, what);
    if (value < low || value > high) {
        char range[96];
        snprintf(range, sizeof range, " (from %g to %g)", low, high);
        throw UsageError{std::string(what) + ": " + text + " is out of range" + range};
    }
    return value;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

std::unique_ptr<Module> LoadModule(const std::string& path)
{
    std::string error;
    auto module = Module::Load(path, &error);
    if (!module)
        throw RunError{error}; // names the file
    return module;
}

// The shell's entries; empty when the module offers no shell.
std::vector<ShellEntry> ShellEntries(Module& module, bool* isShell = nullptr)
{
    auto shell = Plugin::Create(module, 0);
    const bool shellFound = shell && shell->Category() == kPlugCategShell;
    if (isShell)
        *isShell = shellFound;
    if (!shellFound)
        return {};
    shell->Dispatch(effOpen);
    return shell->EnumerateShell();
}

int List(const std::vector<std::string>& args)
{
    if (args.size() != 1)
        throw UsageError{"list takes one argument: the module file"};
    auto module = LoadModule(args[0]);
    bool isShell = false;
    const auto entries = ShellEntries(*module, &isShell);
    if (!isShell)
        throw RunError{args[0] + " is not a shell plug-in (it gives no shell for current id 0)"};
    for (size_t i = 0; i < entries.size(); ++i)
        printf("%zu  %s  %s  %s\n", i, FourCCText(entries[i].id).c_str(), entries[i].name.c_str(),
               entries[i].instrument ? "instrument" : "effect");
    return 0;
}

int32_t ResolvePlugin(Module& module, const std::string& wanted)
{
    const auto entries = ShellEntries(module);
    for (const auto& entry : entries)
        if (FourCCText(entry.id) == wanted)
            return entry.id;
    std::vector<const ShellEntry*> matches;
    for (const auto& entry : entries) {
        const bool prefixed = entry.name.rfind("QV ", 0) == 0;
        if (EqualsIgnoringCase(entry.name, wanted) || (prefixed && EqualsIgnoringCase(entry.name.substr(3), wanted)))
            matches.push_back(&entry);
    }
    if (matches.size() == 1)
        return matches[0]->id;
    if (matches.size() > 1) {
        std::string ids;
        for (const auto* entry : matches)
            ids += " " + FourCCText(entry->id) + (entry->instrument ? " (instrument)" : " (effect)");
        throw UsageError{"'" + wanted + "' names several plug-ins; give the id:" + ids};
    }
    if (wanted.size() == 4) // an id the shell does not list: ask for it anyway
        return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned char>(wanted[0])) << 24 |
                                    static_cast<uint32_t>(static_cast<unsigned char>(wanted[1])) << 16 |
                                    static_cast<uint32_t>(static_cast<unsigned char>(wanted[2])) << 8 |
                                    static_cast<uint32_t>(static_cast<unsigned char>(wanted[3])));
    throw UsageError{"no plug-in '" + wanted + "' in " + module.Path() + " (see corvane-host list)"};
}

int Params(const std::vector<std::string>& args)
{
    if (args.size() != 2)
        throw UsageError{"params takes two arguments: the module file and the plug-in"};
    auto module = LoadModule(args[0]);
    const int32_t id = ResolvePlugin(*module, args[1]);
    auto plugin = Plugin::Create(*module, id);
    if (!plugin)
        throw RunError{args[0] + " gives no plug-in for id " + FourCCText(id)};
    plugin->Start();
    for (int32_t i = 0; i < plugin->NumParams(); ++i) {
        const std::string label = plugin->ParameterLabel(i);
        printf("%d  %s  %s%s%s\n", i, plugin->ParameterName(i).c_str(), plugin->ParameterDisplay(i).c_str(),
               label.empty() ? "" : " ", label.c_str());
    }
    return 0;
}

struct InputSignal {
    enum Kind { Silence, Constant, Sine } kind = Silence;
    double value = 0, hz = 0, amplitude = 1;

    static InputSignal Parse(const std::string& text)
    {
        InputSignal signal;
        const auto parts = Split(text, ':');
        if (parts[0] == "silence" && parts.size() == 1)
            return signal;
        if (parts[0] == "const" && parts.size() == 2) {
            signal.kind = Constant;
            signal.value = ParseDouble(parts[1], "--input const");
            return signal;
        }
        if (parts[0] == "sine" && (parts.size() == 2 || parts.size() == 3)) {
            signal.kind = Sine;
            signal.hz = ParseInRange(parts[1], "--input sine frequency", 0, 1e6);
            if (parts.size() == 3)
                signal.amplitude = ParseDouble(parts[2], "--input sine amplitude");
            return signal;
        }
        throw UsageError{"--input: '" + text + "' is not silence, const:V or sine:HZ[:AMP]"};
    }

    float At(int64_t frame, double rate) const
    {
        switch (kind) {
        case Constant:
            return static_cast<float>(value);
        case Sine: {
            // Phase from the whole-cycle remainder keeps long renders exact.
            const double cycles = std::fmod(static_cast<double>(frame) * hz / rate, 1.0);
            return static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * cycles));
        }
        default:
            return 0.0f;
        }
    }
};

struct TimedMidi {
    int64_t frame;
    MidiMessage message;
};

void AddNote(const std::string& text, double rate, std::vector<TimedMidi>& events)
{
    const auto parts = Split(text, ':');
    if (parts.size() != 4 && parts.size() != 5)
        throw UsageError{"--note: '" + text + "' is not time:note:velocity:duration[:channel]"};
    const double start = ParseInRange(parts[0], "--note time", 0, 1e6);
    const auto note = static_cast<uint8_t>(ParseInRange(parts[1], "--note note", 0, 127));
    const auto velocity = static_cast<uint8_t>(ParseInRange(parts[2], "--note velocity", 1, 127));
    const double duration = ParseInRange(parts[3], "--note duration", 0, 1e6);
    const int channel = parts.size() == 5 ? static_cast<int>(ParseInRange(parts[4], "--note channel", 1, 16)) : 1;
    const auto status = static_cast<uint8_t>(channel - 1);
    const auto on = static_cast<int64_t>(std::llround(start * rate));
    const auto off = static_cast<int64_t>(std::llround((start + duration) * rate));
    events.push_back({on, MidiMessage{0, {static_cast<uint8_t>(0x90 | status), note, velocity}}});
    events.push_back({off, MidiMessage{0, {static_cast<uint8_t>(0x80 | status), note, 0}}});
}

struct RenderOptions {
    std::string module, plugin, out;
    WavFormat format = WavFormat::Float32;
    double seconds = 1, rate = 48000, tempo = 120, ppq = 0;
    int32_t block = 512, timeSigNumerator = 4, timeSigDenominator = 4;
    bool play = false;
    InputSignal input;
    std::vector<std::string> params, notes;
};

RenderOptions ParseRender(const std::vector<std::string>& args)
{
    RenderOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw UsageError{arg + " needs a value"};
            return args[++i];
        };
        if (arg == "--plugin")
            options.plugin = value();
        else if (arg == "--out")
            options.out = value();
        else if (arg == "--format") {
            const std::string& format = value();
            if (format != "float" && format != "pcm16")
                throw UsageError{"--format: '" + format + "' is not float or pcm16"};
            options.format = format == "float" ? WavFormat::Float32 : WavFormat::Pcm16;
        } else if (arg == "--seconds")
            options.seconds = ParseInRange(value(), "--seconds", 0, 3600);
        else if (arg == "--rate")
            options.rate = std::round(ParseInRange(value(), "--rate", 1000, 768000));
        else if (arg == "--block")
            options.block = static_cast<int32_t>(ParseInRange(value(), "--block", 1, 65536));
        else if (arg == "--input")
            options.input = InputSignal::Parse(value());
        else if (arg == "--param")
            options.params.push_back(value());
        else if (arg == "--tempo")
            options.tempo = ParseInRange(value(), "--tempo", 1, 999);
        else if (arg == "--ppq")
            options.ppq = ParseInRange(value(), "--ppq", -1e9, 1e9);
        else if (arg == "--timesig") {
            const auto parts = Split(value(), '/');
            if (parts.size() != 2)
                throw UsageError{"--timesig: give N/D, such as 3/4"};
            options.timeSigNumerator = static_cast<int32_t>(ParseInRange(parts[0], "--timesig numerator", 1, 64));
            options.timeSigDenominator =
                static_cast<int32_t>(ParseInRange(parts[1], "--timesig denominator", 1, 64));
        } else if (arg == "--play")
            options.play = true;
        else if (arg == "--note")
            options.notes.push_back(value());
        else if (arg.rfind("--", 0) == 0)
            throw UsageError{"unknown option " + arg};
        else if (options.module.empty())
            options.module = arg;
        else
            throw UsageError{"unexpected argument '" + arg + "'"};
    }
    if (options.module.empty())
        throw UsageError{"render needs the module file"};
    if (options.plugin.empty())
        throw UsageError{"render needs --plugin"};
    if (options.out.empty())
        throw UsageError{"render needs --out"};
    return options;
}

int Render(const std::vector<std::string>& args)
{
    const RenderOptions options = ParseRender(args);
    std::vector<TimedMidi> events;
    for (const auto& note : options.notes)
        AddNote(note, options.rate, events);
    // In time order; at the same frame a note-off goes before a note-on, so a
    // repeated note sounds again.
    std::stable_sort(events.begin(), events.end(), [](const TimedMidi& a, const TimedMidi& b) {
        return a.frame != b.frame ? a.frame < b.frame : (a.message.bytes[0] & 0xF0) < (b.message.bytes[0] & 0xF0);
    });

    auto module = LoadModule(options.module);
    const int32_t id = ResolvePlugin(*module, options.plugin);
    auto plugin = Plugin::Create(*module, id);
    if (!plugin)
        throw RunError{options.module + " gives no plug-in for id " + FourCCText(id)};
    const int32_t outputs = plugin->NumOutputs();
    if (outputs < 1 || outputs > 64)
        throw RunError{"plug-in " + FourCCText(id) + " has " + std::to_string(outputs) + " outputs"};
    plugin->Start(options.rate, options.block);

    for (const auto& spec : options.params) {
        const size_t equals = spec.find('=');
        if (equals == std::string::npos)
            throw UsageError{"--param: '" + spec + "' is not NAME=VALUE"};
        std::string error;
        const int32_t index = FindParameterByText(*plugin, spec.substr(0, equals), &error);
        if (index < 0)
            throw UsageError{"--param: " + error};
        const auto normalized = FindNormalizedValue(*plugin, index, spec.substr(equals + 1), &error);
        if (!normalized)
            throw UsageError{"--param: " + error};
        printf("%s = %s (normalised %.6f)\n", plugin->ParameterName(index).c_str(),
               plugin->ParameterDisplay(index).c_str(), *normalized);
    }

    Transport& time = plugin->Time();
    time.tempo = options.tempo;
    time.ppqPos = options.ppq;
    time.timeSigNumerator = options.timeSigNumerator;
    time.timeSigDenominator = options.timeSigDenominator;
    const double barLength = options.timeSigNumerator * 4.0 / options.timeSigDenominator;
    time.barStartPos = std::floor(options.ppq / barLength) * barLength;
    time.playing = options.play;
    time.changed = true;

    WavWriter writer;
    std::string error;
    if (!writer.Open(options.out, outputs, static_cast<int>(options.rate), options.format, &error))
        throw RunError{error};

    const auto totalFrames = static_cast<int64_t>(std::llround(options.seconds * options.rate));
    const int32_t inputs = std::max(plugin->NumInputs(), 0);
    std::vector<std::vector<float>> inputBlock(inputs), outputBlock;
    size_t nextEvent = 0;
    for (int64_t position = 0; position < totalFrames;) {
        const auto frames = static_cast<int32_t>(std::min<int64_t>(options.block, totalFrames - position));
        std::vector<MidiMessage> midi;
        for (; nextEvent < events.size() && events[nextEvent].frame < position + frames; ++nextEvent) {
            MidiMessage message = events[nextEvent].message;
            message.deltaFrames = static_cast<int32_t>(events[nextEvent].frame - position);
            midi.push_back(message);
        }
        if (!midi.empty())
            plugin->SendMidi(midi);
        for (auto& channel : inputBlock) {
            channel.resize(frames);
            for (int32_t i = 0; i < frames; ++i)
                channel[i] = options.input.At(position + i, options.rate);
        }
        plugin->ProcessBlock(inputBlock, outputBlock, frames);
        if (!writer.Write(outputBlock, frames, 0, &error))
            throw RunError{error};
        position += frames;
    }
    if (!writer.Close(&error))
        throw RunError{error};
    plugin->Close();
    printf("wrote %s: %d channels, %.0f Hz, %lld frames\n", options.out.c_str(), outputs, options.rate,
           static_cast<long long>(totalFrames));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.empty())
            throw UsageError{"no command"};
        if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
            fputs(kUsage, stdout);
            return 0;
        }
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (args[0] == "list")
            return List(rest);
        if (args[0] == "params")
            return Params(rest);
        if (args[0] == "render")
            return Render(rest);
        throw UsageError{"unknown command '" + args[0] + "'"};
    } catch (const UsageError& e) {
        fprintf(stderr, "corvane-host: %s\n(corvane-host --help shows the usage)\n", e.message.c_str());
        return 2;
    } catch (const RunError& e) {
        fprintf(stderr, "corvane-host: %s\n", e.message.c_str());
        return 1;
    } catch (const std::exception& e) {
        fprintf(stderr, "corvane-host: %s\n", e.what());
        return 1;
    }
}
