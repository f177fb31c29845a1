#include "plugins/common/ExpanderController.h"

#include <cmath>

#include "plugins/common/ParameterValues.h"
#include "plugins/common/ValueNames.h"

namespace {

// The value-name lists, built once per process and shared by all instances.
#define EXPANDER_GATE_ROW(K)                                                                                         \
    "Gates " K "/1", "Gates " K "/2", "Gates " K "/3", "Gates " K "/4", "Gates " K "/5", "Gates " K "/6",            \
        "Gates " K "/7", "Gates " K "/8"
#define EXPANDER_FIRST_40_GATES                                                                                        \
    EXPANDER_GATE_ROW("1"), EXPANDER_GATE_ROW("2"), EXPANDER_GATE_ROW("3"), EXPANDER_GATE_ROW("4"),                    \
        EXPANDER_GATE_ROW("5")
#define EXPANDER_CHANNELS "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16"

const char* const kMidiOutChannelNames[] = {"Off", EXPANDER_CHANNELS, "Omni"};
const char* const kBrinkGateNames[] = {EXPANDER_FIRST_40_GATES};
const char* const kCarroGateNames[] = {EXPANDER_FIRST_40_GATES, EXPANDER_GATE_ROW("6")};
const char* const kSwingTypeNames[] = {"16", "8"};
const char* const kThruNames[] = {"Off", "1/2", "3/4", "5/6", "7/8"};
const char* const kChanneliseNames[] = {"Off", EXPANDER_CHANNELS};
const char* const kGateInputNames[] = {"Off", EXPANDER_FIRST_40_GATES};

#undef EXPANDER_GATE_ROW
#undef EXPANDER_FIRST_40_GATES
#undef EXPANDER_CHANNELS

static_assert(sizeof kBrinkGateNames / sizeof kBrinkGateNames[0] == 8 * kBrinkFrameBytes);
static_assert(sizeof kCarroGateNames / sizeof kCarroGateNames[0] == 8 * kCarroFrameBytes);
static_assert(sizeof kGateInputNames / sizeof kGateInputNames[0] == 41);

SharedValueNames gMidiOutChannelList(kMidiOutChannelNames);
SharedValueNames gBrinkGateList(kBrinkGateNames);
SharedValueNames gCarroGateList(kCarroGateNames);
SharedValueNames gSwingTypeList(kSwingTypeNames);
SharedValueNames gThruList(kThruNames);
SharedValueNames gChanneliseList(kChanneliseNames);
SharedValueNames gGateInputList(kGateInputNames);

} // namespace

ObryExpanderController::ObryExpanderController(audioMasterCallback audioMaster, bool isSynth, int32_t uniqueId,
                                               int32_t portOffsetIndex, FactoryPresetTable* presets,
                                               int32_t numParams, const ParameterInfo* parameters,
                                               ObryProgramFactory factory, const ExpanderControllerLayout& layout)
    : ObryCorvaneBase(audioMaster, kNumInputs, kNumOutputs, isSynth, uniqueId, portOffsetIndex, 1, presets,
                      numParams, parameters, factory),
      parameters(parameters), parameterCount(numParams), portOffsetIndex(portOffsetIndex), layout(layout)
{
}

bool ObryExpanderController::getInputProperties(int32_t index, VstPinProperties* properties)
{
    return ExpanderPinProperties(index, kNumInputs, properties);
}

bool ObryExpanderController::getOutputProperties(int32_t index, VstPinProperties* properties)
{
    return ExpanderPinProperties(index, kNumOutputs, properties);
}

int32_t ObryExpanderController::GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray)
{
    if (!outArray)
        return 0;
    if (scope != 0 || index >= static_cast<uint32_t>(parameterCount))
        return kAudioUnitErr_InvalidParameter;
    const auto i = static_cast<int32_t>(index);
    SharedValueNames* names = OwnValueNames(i);
    if (!names) {
        if (i == layout.midiOutMidiChannel)
            names = &gMidiOutChannelList;
        else if (i == layout.midiOutOutput)
            names = layout.frameBytes == kBrinkFrameBytes ? &gBrinkGateList : &gCarroGateList;
        else if (i == layout.midiClockSwingType)
            names = &gSwingTypeList;
        else if (i == layout.inputThru)
            names = &gThruList;
        else if (i == layout.midiOutChannelise)
            names = &gChanneliseList;
        else if (i >= layout.inputToGate1 && i < layout.inputToGate1 + kGateInputs)
            names = &gGateInputList;
    }
    if (!names)
        return kAudioUnitErr_InvalidParameter;
    *outArray = names->Acquire();
    return 0;
}

bool ObryExpanderController::ShowsOffAtZero(int32_t index) const
{
    if (index == portOffsetIndex || index == layout.testSignal || OwnShowsOffAtZero(index))
        return true;
    const ExpanderGateLayout& gates = layout.gates;
    if (index >= gates.firstChannel && index < gates.firstChannel + 2 * gates.groupCount)
        return (index - gates.firstChannel) % 2 == 0;
    return index >= gates.firstTrigger && index < layout.midiOutChannelise;
}

uint32_t ObryExpanderController::GetParameterFlags(int32_t index)
{
    return ShowsOffAtZero(index) ? kAudioUnitParameterFlag_ValuesHaveStrings : 0;
}

bool ObryExpanderController::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    if (!ShowsOffAtZero(static_cast<int32_t>(request.inParamID)))
        return false;
    const float value = request.inValue ? *request.inValue : GetParameterReal(static_cast<int32_t>(request.inParamID));
    if (value == 0.0f)
        request.outString = CFStringMakeConstant("Off");
    return true;
}

int32_t ObryExpanderController::GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                                                uint8_t* writable)
{
    if (id != kObryProperty_AllSoundOff)
        return ObryCorvaneBase::GetPropertyInfo(id, scope, element, size, writable);
    if (size)
        *size = 1;
    if (writable)
        *writable = 1;
    return 0;
}

// host or editor thread: only queues the command
int32_t ObryExpanderController::SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data,
                                            uint32_t size)
{
    if (id == kObryProperty_AllSoundOff && scope == 0) {
        // One pending request does the work of any number: a panic button
        // pressed while no audio runs must not fill the queue (and standard
        // error with its overflow texts). The audio thread clears the flag
        // before it starts, so a request made during the work queues anew.
        if (!allSoundOffPending.exchange(true, std::memory_order_acq_rel) &&
            !CommandQueue().Write(kObryProperty_AllSoundOff))
            allSoundOffPending.store(false, std::memory_order_release);
        return 0;
    }
    if (id == kObryProperty_ReapplyPortOffset)
        return ObryCorvaneBase::SetProperty(id, scope, element, data, size);
    return kAudioUnitErr_InvalidProperty;
}

int32_t ObryExpanderController::Initialize()
{
    gateGroups.Reset();
    midiOut.Reserve(); // the whole ring now: the audio thread never grows it
    clock.Reset();
    midiOutChannel = 0;
    channelise = 0;
    rate = 0.0;
    rateClass = 0;
    testSignal = 0;
    midiOutBit = 0;
    clockOn = false;
    send = false;
    for (int32_t& level : outputLevel)
        level = 0;
    clockSettings = ExpanderMidiClock::Settings{};
    thruPair = -1;
    for (int32_t& bit : gateInputBit)
        bit = -1;
    for (int32_t k = 0; k < kMaxExpanderFrameBytes; ++k) {
        levelInput[k] = -1;
        levelScale[k] = 0.0f;
        levelOffset[k] = 0.0f;
    }
    testCounter = 0;
    sendWasOn = false;
    pieceBytesStale = true;
    routesStale = true;
    ForgetSettings();
    return ObryCorvaneBase::Initialize();
}

// ---------------------------------------------------------------------------
// audio thread: no allocation, no blocking lock

float ObryExpanderController::Param(int32_t index)
{
    if (index < 0 || index >= parameterCount)
        return 0.0f;
    const ParameterInfo& info = parameters[index];
    const float held = HeldToRange(info, CurrentProgram()->GetParameter(index));
    // Note numbers come through the host's 0..1 scale a float step off the
    // whole note (60 arrives as 60.0000038): a range would then leave out
    // its own bottom note. They are whole notes.
    return info.unit == kAudioUnitParameterUnit_MIDINoteNumber ? std::floor(held + 0.5f) : held;
}

void ObryExpanderController::RefreshSettings()
{
    gateGroups.Refresh(layout.gates, rate, [this](int32_t index) { return Param(index); });
    midiOutChannel = IntParam(layout.midiOutMidiChannel);
    channelise = IntParam(layout.midiOutChannelise);

    clockOn = Param(layout.midiOutClock) != 0.0f;
    send = Param(layout.send) != 0.0f;
    testSignal = IntParam(layout.testSignal);
    midiOutBit = IntParam(layout.midiOutOutput);
    thruPair = IntParam(layout.inputThru) - 1;
    for (int32_t i = 0; i < kGateInputs; ++i)
        gateInputBit[i] = IntParam(layout.inputToGate1 + i) - 1;
    for (int32_t k = 0; k < layout.frameBytes && k < kMaxExpanderFrameBytes; ++k)
        outputLevel[k] = IntParam(layout.output1 + k);
}

// The trigger lengths in samples depend on the rate: it is read first. A
// change made on another thread during a block is taken at the next piece
// or MIDI message.
void ObryExpanderController::DeriveSettings()
{
    ReadRateAndClockSettings();
    RefreshSettings();
    pieceBytesStale = true;
    routesStale = true;
}

void ObryExpanderController::HandleMidi(const QZ::MessageQueueItem& item)
{
    UpdateSettings();
    pieceBytesStale = true; // voices and gates follow the MIDI
    ForwardToSerialLine(midiOut, item, midiOutChannel, channelise);
    if (item.type != QZ::MessageQueueItem::kShortMIDI)
        return;
    const int32_t status = item.data[0] & 0xF0;
    const int32_t channel = item.data[1] & 0x0F;
    const int32_t data1 = item.data[2] & 0x7F;
    const int32_t data2 = item.data[3] & 0x7F;
    HandleChannelMessage(status, channel, data1, data2);
    if (status == 0x90 && data2 > 0)
        gateGroups.NoteOn(channel, data1, data2);
    else if (status == 0x80 || status == 0x90)
        gateGroups.NoteOff(channel, data1);
    else if (status == 0xB0 && (data1 == 120 || data1 == 123))
        gateGroups.CloseGates(channel);
}

// All sound off: controller 120 on every channel, through the MIDI handling
// so that it also reaches the serial output where its channel filter passes.
void ObryExpanderController::HandleQueuedMessage(QZ::MessageQueueItem* item)
{
    if (!item || item->type != QZ::MessageQueueItem::kValue || item->Value() != kObryProperty_AllSoundOff)
        return;
    allSoundOffPending.store(false, std::memory_order_release);
    QZ::MessageQueueItem message; // no allocation: its SysEx bytes stay empty
    message.type = QZ::MessageQueueItem::kShortMIDI;
    for (uint8_t channel = 0; channel < 16; ++channel) {
        message.data[0] = 0xB0;
        message.data[1] = channel;
        message.data[2] = 120;
        message.data[3] = 0;
        HandleMidi(message);
    }
}

bool ObryExpanderController::BeginBlock(int32_t frames)
{
    if (!ObryCorvaneBase::BeginBlock(frames))
        return false;
    const VstTimeInfo* info =
        getTimeInfo(kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstCyclePosValid | kVstTimeSigValid);
    UpdateSettings();
    clock.BeginBlock(info, clockOn);
    framesIntoBlock = 0;
    return true;
}

void ObryExpanderController::ReadRateAndClockSettings()
{
    const float hostRate = getSampleRate();
    rate = std::isfinite(hostRate) && hostRate > 0.0f ? hostRate : 0.0;
    rateClass = SerialRateClass(rate);
    clockSettings = ExpanderMidiClock::MakeSettings(Param(layout.midiOutClock), Param(layout.midiClockOffset),
                                                    Param(layout.midiClockSwing), Param(layout.midiClockSwingType));
}

void ObryExpanderController::BeginSubBlock(int32_t)
{
    UpdateSettings();
    if (send && !sendWasOn) {
        const uint8_t bytes[] = {static_cast<uint8_t>(IntParam(layout.byte1)),
                                 static_cast<uint8_t>(IntParam(layout.byte1 + 1)),
                                 static_cast<uint8_t>(IntParam(layout.byte1 + 2))};
        const int32_t count = IntParam(layout.bytes);
        midiOut.Append(bytes, static_cast<size_t>(count < 1 ? 1 : (count > 3 ? 3 : count)));
    }
    sendWasOn = send;
}

void ObryExpanderController::DeliverEvent(QZ::MessageQueueItem* item)
{
    luaMIDIHelper.ProcessMidiEvent(item);
    HandleMidi(*item);
}

void ObryExpanderController::EncodePiece(float** inputs, float** outputs, int32_t first, int32_t frames)
{
    if (layout.frameBytes == kBrinkFrameBytes)
        EncodeFrames<kBrinkFrameBytes>(inputs, outputs, first, frames);
    else
        EncodeFrames<kCarroFrameBytes>(inputs, outputs, first, frames);
}

bool ObryExpanderController::PreparePiece(float** inputs, float** outputs, int32_t frames)
{
    if (pieceBytesStale) {
        MakePieceBytes(pieceSources.bytes);
        pieceBytesStale = false;
    }
    if (routesStale)
        RouteInputs();
    // Unrouted bytes and the stream without a pair keep their null pointers.
    ExpanderFrameSources& s = pieceSources;
    for (int32_t n = 0; n < levelCount; ++n)
        s.level[levelByte[n]] = inputs[levelRoute[n]];
    for (int32_t g = 0; g < s.gateCount; ++g)
        s.gate[g] = inputs[gateRoute[g]];
    if (thruRoute >= 0) {
        s.thruLeft = inputs[thruRoute];
        s.thruRight = inputs[thruRoute + 1];
    }

    // Only the inputs the frames read count.
    bool overlap = false;
    for (uint32_t read = readInputs; read != 0; read &= read - 1) {
        const float* input = inputs[__builtin_ctz(read)];
        if (input)
            overlap = overlap || PartlyOverlap(outputs[0], input, frames) || PartlyOverlap(outputs[1], input, frames);
    }
    return overlap;
}

void ObryExpanderController::RouteInputs()
{
    static_assert(kGateInputs <= ExpanderFrameSources::kMaxGates && kGateInputs <= kNumInputs);
    ExpanderFrameSources& s = pieceSources;
    readInputs = 0;
    levelCount = 0;
    for (int32_t k = 0; k < kMaxExpanderFrameBytes; ++k) {
        const bool routed = k < layout.frameBytes && levelInput[k] >= 0 && levelInput[k] < kNumInputs;
        s.level[k] = nullptr;
        s.levelScale[k] = routed ? levelScale[k] : 0.0f;
        s.levelOffset[k] = routed ? levelOffset[k] : 0.0f;
        if (routed) {
            levelByte[levelCount] = k;
            levelRoute[levelCount++] = levelInput[k];
            readInputs |= 1u << levelInput[k];
        }
    }
    s.gateCount = 0;
    for (int32_t i = 0; i < kGateInputs; ++i)
        if (gateInputBit[i] >= 0) {
            gateRoute[s.gateCount] = i;
            s.gateBit[s.gateCount++] = gateInputBit[i];
            readInputs |= 1u << i;
        }
    s.serialBit = midiOutBit;
    thruRoute = thruPair >= 0 && 2 * thruPair + 1 < kNumInputs ? 2 * thruPair : -1;
    s.thruLeft = nullptr;
    s.thruRight = nullptr;
    if (thruRoute >= 0)
        readInputs |= 3u << thruRoute;
    routesStale = false;
}

void ObryExpanderController::EncodeTestFrames(float** outputs, int32_t first, int32_t frames)
{
    float* left = outputs[0] + first;
    float* right = outputs[1] + first;
    uint8_t frame[kMaxExpanderFrameBytes] = {};
    const bool brink = layout.frameBytes == kBrinkFrameBytes;
    for (int32_t i = 0; i < frames; ++i) {
        ExpanderTestFrame(testSignal, &testCounter, frame, layout.frameBytes);
        if (brink)
            WriteBrinkFrame(frame, {0, 0}, &left[i], &right[i]);
        else
            WriteCarroFrame(frame, {0, 0}, &left[i], &right[i]);
    }
}

// The block is cut only where something happens: a clock, a MIDI event, the
// end of a gate's trigger.
void ObryExpanderController::ProcessBlockWithEvents(float** inputs, float** outputs, int32_t frames)
{
    if (frames <= 0)
        return;
    UpdateSettings();
    // A long block comes in pieces (see ObryCorvaneBase::processReplacing);
    // the clocks of a later piece are timed from the block's position.
    clock.BeginClocks(midiOut, clockSettings, rate, frames, framesIntoBlock);
    framesIntoBlock += frames;

    QZ::MessageQueueItem* pending = queueA.Read();
    int32_t position = 0;
    while (position < frames) {
        if (clock.NextClockSample() <= position)
            clock.SendClock(midiOut);
        // The queue holds a bounded number of items: this ends.
        while (pending && static_cast<int64_t>(pending->deltaFrame) <= position) {
            DeliverEvent(pending);
            pending = queueA.Read();
        }

        int64_t end = frames;
        auto limit = [&](int64_t at) {
            if (at <= position)
                at = position + 1; // a piece is at least one sample
            if (at < end)
                end = at;
        };
        if (clock.NextClockSample() != INT32_MAX)
            limit(clock.NextClockSample());
        if (pending)
            limit(pending->deltaFrame);
        const int32_t triggerEnd = gateGroups.SamplesToTriggerEnd();
        if (triggerEnd != INT32_MAX)
            limit(static_cast<int64_t>(position) + triggerEnd);
        const auto piece = static_cast<int32_t>(end - position);

        BeginSubBlock(piece);
        if (testSignal >= 1)
            EncodeTestFrames(outputs, position, piece);
        else
            EncodePiece(inputs, outputs, position, piece);
        if (gateGroups.Advance(piece))
            pieceBytesStale = true;
        position += piece;
    }
    // Events at or past the block's end come after the whole block, in this
    // block, all of them: one left waiting would delay every later event by a
    // block, and the delays would add up.
    while (pending) {
        DeliverEvent(pending);
        pending = queueA.Read();
    }
}
