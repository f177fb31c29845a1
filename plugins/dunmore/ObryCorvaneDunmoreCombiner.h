// The Dunmore Combiner ('QZsi', effect only) feeds a Dunmore CV expander
// that listens on one byte position of a Brink or Carro data stream. Four CV
// inputs, each optionally smoothed by an order-5 Chebyshev low-pass, become
// 12-bit values (plus an offset each) that travel in the Dunmore packets,
// one byte per sample frame, at the chosen position ("Target Channel") of a
// Brink or Carro frame ("Target Hardware"). The stream a controller sends
// into the "Input Thru" pair is merged in, so several combiners can be
// chained, each on its own byte position.
//
// Threads: BeginBlock and Process run on the audio thread (no allocation,
// no lock); the filter is designed by Initialize. The value-text and value
// list hooks run on the host's UI thread; the lists are built once per
// process.
#pragma once

#include <cstdint>

#include "plugins/base/ObryCorvaneBase.h"
#include "plugins/common/ExpanderDataWords.h"
#include "plugins/common/IIRFilter.h"

namespace ObryCorvaneDunmoreCombiner {

class ObryCorvane : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumParams = 17;
    static constexpr int32_t kNumInputs = 6;
    static constexpr int32_t kNumOutputs = 2;
    static constexpr int32_t kChannels = 4;
    // Where the last frame's bytes are shown in the indicator block.
    static constexpr int32_t kIndicatorFrameBytes = 40;

    enum Parameter : int32_t {
        kTargetHardware = 0, // 0 Brink, 1 Carro
        kTargetChannel = 1,  // byte position 1..6 as 0..5
        kOffset1 = 2,        // .. 5
        kOSCPortOffset = 6,
        kTestSignal = 7,
        kInputThru = 8,
        kInput1 = 9,   // .. 12
        kFilter1 = 13, // .. 16
    };

    // The shared low-pass: order 5, 1 dB Chebyshev, cutoff 0.04464286 of the
    // sample rate, unity gain at 0 Hz. Run in double precision: in single
    // precision this design settles 0.2 to 0.6 % high.
    static constexpr int32_t kFilterOrder = 5;
    static constexpr float kFilterRipple = -1.0f;
    static constexpr float kFilterCutoff = 0.04464286f;
    using FilterState = BasicIIRFilterState<double, double, kFilterOrder>;
    using FilterQuad = IIRQuadState<double, kFilterOrder>;

    explicit ObryCorvane(audioMasterCallback audioMaster);

    bool getInputProperties(int32_t index, VstPinProperties* properties) override;
    bool getOutputProperties(int32_t index, VstPinProperties* properties) override;
    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray) override;
    int32_t Initialize() override;
    bool BeginBlock(int32_t frames) override;
    void Process(float** inputs, float** outputs, int32_t frames) override;
    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane Dunmore Combiner"; }
    const char* GetGUIScriptName() override { return "gui_dunmorecombiner.lua"; }

    // The 12-bit code of an input sample (after its filter) with an offset
    // code: trunc(x x 2047 + 2048.5) + offset, held to 0..4095. NaN reads as
    // 0 (code 2048 plus the offset).
    static int32_t CodeOf(double x, int32_t offsetCode);
    // The value a test signal (1..3) sends at counter t on its channel, and
    // the counter's range (a mask) for that signal.
    static uint32_t TestValue(int32_t signal, uint32_t t);
    static uint32_t TestCounterMask(int32_t signal);

    const IIRFilterCoefficientsD& FilterCoefficients() const { return filterCoefficients; }

private:
    // A program value held to its parameter's range (its default when NaN).
    float Param(int32_t index);
    int32_t IntParam(int32_t index) { return static_cast<int32_t>(Param(index)); }

    // Writes one frame holding `byte` at the target position (none when the
    // position lies outside the target's frame), merged with `merge`.
    void WriteFrame(uint8_t byte, ExpanderWordPair merge, float* left, float* right, uint8_t* frame) const;
    void ProcessTestSignal(float** outputs, int32_t frames);
    // Samples whose values are made at once.
    static constexpr int32_t kPiece = 64;
    // values[i][k] for `frames` samples of channel k's source (none: 0),
    // through its filter when that is on: what its code is made from.
    void ChannelValues(int32_t k, const float* in, double (*values)[kChannels], int32_t frames);
    // Normal operation from the channels' sources (in[k], null for none) and
    // the merged pair (null for none), in stretches of kPiece samples.
    template <class Word>
    void EncodeStretches(const float* const* in, const int32_t* offsetCode, const float* thruLeft,
                         const float* thruRight, float** outputs, int32_t frames);

    IIRFilterCoefficientsD filterCoefficients;
    // The four channels' filters side by side, lane k for channel k. The
    // lane of a channel with its filter off is at rest: fed only silence
    // while the others run, it stays so.
    FilterQuad filters;
    bool filterOn[kChannels] = {};

    DunmorePacketWriter packets; // frame counter and latched value, kept across blocks

    // The words of a frame holding one byte at the target position, for
    // every byte. Made again when the target hardware or position changes.
    struct ByteWords {
        uint32_t left[256], right[256];
    };
    const ByteWords& WordsOfByte();
    ByteWords byteWords = {};
    int32_t byteWordsHardware = -1;
    int32_t byteWordsPosition = -1;
    uint32_t testCounter = 0;

    // Per block (BeginBlock).
    int32_t targetHardware = 0;
    int32_t targetPosition = 0; // byte index 0..5 in the frame
    int32_t thruPair = -1;      // -1 none; pair p = inputs 2p, 2p+1
    int32_t source[kChannels] = {}; // input 0..5, or -1
    // Per piece (Process), read again only after a change: a parameter set
    // between two pieces (a learned controller) counts from the next one.
    int32_t testSignal = 0;
    int32_t offsetCodes[kChannels] = {};
    uint32_t pieceSettingsSeen = 0; // ParameterChanges() when they were read
};

} // namespace ObryCorvaneDunmoreCombiner
