// Voice Controller per frame: the plug-in built in-process and run through
// processReplacing on 512-frame blocks. Case 0: the default program holding
// a note (envelopes in sustain, one term per output); case 1: every matrix
// term in use on all six outputs, exponential portamento, vibrato and
// smoothing on every output; case 2: as 1 with 63 MIDI events per block
// (the most the event queue holds), each cutting the block and retriggering
// the envelopes; case 3: as 2 in Brink mode (data words on outputs 1 and 2).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench/BenchSupport.h"
#include "plugins/voicecontroller/ObryCorvaneVoiceController.h"

namespace {

using namespace corvane::bench;
using ObryCorvaneVoiceController::ObryCorvane;

void BM_VoiceController(benchmark::State& state)
{
    StartTransport();
    Owned<ObryCorvane> vc(new ObryCorvane(PlayingHost, false));
    vc->setSampleRate(static_cast<float>(kSampleRate));
    vc->setBlockSize(kFrames);
    vc->resume();
    vc->SetProperty(kObryProperty_LoadDunmoreCalibration, 0, 0, nullptr, 0);

    const int64_t mode = state.range(0);
    if (mode >= 1) {
        for (int32_t j = 0; j < ObryCorvane::kNumOutputs; ++j) {
            for (int32_t t = 0; t < ObryCorvane::kTerms; ++t)
                vc->SetParameterValue(ObryCorvane::kOutput1 + ObryCorvane::kTerms * j + t,
                                      0.1f + 0.1f * static_cast<float>((j + t) % 7), false);
            vc->SetParameterValue(ObryCorvane::kOutput1Smoothing + j, j % 2 ? 20.0f : -20.0f, false);
        }
        vc->SetParameterValue(ObryCorvane::kPortamentoMode, 1, false);
        vc->SetParameterValue(ObryCorvane::kPortamentoTime, 0.05f, false);
        vc->SetParameterValue(ObryCorvane::kPitchLFODepth, 30, false);
        vc->SetParameterValue(ObryCorvane::kRandomTuning, 5, false);
        for (int32_t e = 0; e < ObryCorvane::kEnvelopes; ++e)
            vc->SetParameterValue(ObryCorvane::kEnv1 + 14 * e + 5, 0.3f, false); // curved A1
    }
    if (mode >= 3)
        vc->SetParameterValue(ObryCorvane::kBrinkMode, 1, false);

    // Alternating note-ons and note-offs over two octaves.
    BlockEvents notes([](int32_t i, char* bytes) {
        bytes[0] = static_cast<char>(i % 2 ? 0x80 : 0x90);
        bytes[1] = static_cast<char>(48 + (i * 5) % 24);
        bytes[2] = 100;
    });

    // A note held for the whole run.
    VstMidiEvent held{};
    held.type = kVstMidiType;
    held.byteSize = sizeof(VstMidiEvent);
    held.midiData[0] = static_cast<char>(0x90);
    held.midiData[1] = 60;
    held.midiData[2] = 90;
    intptr_t heldList[3] = {1, 0, reinterpret_cast<intptr_t>(&held)};
    vc->processEvents(reinterpret_cast<VstEvents*>(heldList));

    std::vector<float> in(kFrames);
    for (int32_t i = 0; i < kFrames; ++i)
        in[static_cast<size_t>(i)] = std::sin(0.01f * static_cast<float>(i));
    std::vector<std::vector<float>> out(ObryCorvane::kNumOutputs, std::vector<float>(kFrames));
    float* inputs[1] = {in.data()};
    float* outputs[ObryCorvane::kNumOutputs];
    for (int32_t c = 0; c < ObryCorvane::kNumOutputs; ++c)
        outputs[c] = out[static_cast<size_t>(c)].data();
    for (int b = 0; b < 40; ++b) // the table, the held note, envelopes into sustain
        vc->processReplacing(inputs, outputs, kFrames);

    RunBlocks(state, *vc, inputs, outputs, ObryCorvane::kNumOutputs, mode >= 2 ? notes.Events() : nullptr);
}
BENCHMARK(BM_VoiceController)->ArgName("note0_full1_midi2_brink3")->Arg(0)->Arg(1)->Arg(2)->Arg(3);

} // namespace
