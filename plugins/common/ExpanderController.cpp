#include "plugins/common/ExpanderController.h"

#include <cmath>

ObryExpanderController::ObryExpanderController(audioMasterCallback audioMaster, bool isSynth, int32_t uniqueId,
                                               int32_t portOffsetIndex, FactoryPresetTable* presets,
                                               int32_t numParams, const ParameterInfo* parameters,
                                               ObryProgramFactory factory, const ExpanderControllerLayout& layout)
    : ObryCorvaneBase(audioMaster, kNumInputs, kNumOutputs, isSynth, uniqueId, portOffsetIndex, 1, presets,
                      numParams, parameters, factory),
      parameters(parameters), parameterCount(numParams), layout(layout)
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

bool ObryExpanderController::OffAtZeroText(AudioUnitParameterStringFromValue& request, bool showsOff)
{
    if (!showsOff)
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
    clockSettings = ExpanderMidiClock::Settings{};
    thruPair = -1;
    for (int32_t& bit : gateInputBit)
        bit = -1;
    testCounter = 0;
    sendWasOn = false;
    return ObryCorvaneBase::Initialize();
}

// ---------------------------------------------------------------------------
// audio thread: no allocation, no blocking lock

float ObryExpanderController::Param(int32_t index)
{
    if (index < 0 || index >= parameterCount)
        return 0.0f;
    const ParameterInfo& info = parameters[index];
    const float value = CurrentProgram()->GetParameter(index);
    if (value != value)
        return info.def;
    const float held = value < info.min ? info.min : (value > info.max ? info.max : value);
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
}

void ObryExpanderController::HandleMidi(const QZ::MessageQueueItem& item)
{
    RefreshSettings();
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
    clock.BeginBlock(info, Param(layout.midiOutClock) != 0.0f);
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
    ReadRateAndClockSettings();

    const bool send = Param(layout.send) != 0.0f;
    if (send && !sendWasOn) {
        const uint8_t bytes[] = {static_cast<uint8_t>(IntParam(layout.byte1)),
                                 static_cast<uint8_t>(IntParam(layout.byte1 + 1)),
                                 static_cast<uint8_t>(IntParam(layout.byte1 + 2))};
        const int32_t count = IntParam(layout.bytes);
        midiOut.Append(bytes, static_cast<size_t>(count < 1 ? 1 : (count > 3 ? 3 : count)));
    }
    sendWasOn = send;

    testSignal = IntParam(layout.testSignal);
    midiOutBit = IntParam(layout.midiOutOutput);
    thruPair = IntParam(layout.inputThru) - 1;
    for (int32_t i = 0; i < kGateInputs; ++i)
        gateInputBit[i] = IntParam(layout.inputToGate1 + i) - 1;
}

void ObryExpanderController::DeliverEvent(QZ::MessageQueueItem* item)
{
    luaMIDIHelper.ProcessMidiEvent(item);
    HandleMidi(*item);
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
    RefreshSettings();
    ReadRateAndClockSettings();
    clock.BeginClocks(midiOut, clockSettings, rate, frames);

    QZ::MessageQueueItem* pending = queueA.Read();
    int32_t position = 0;
    while (position < frames) {
        if (clock.NextClockSample() <= position)
            clock.SendClock(midiOut);
        // At most 63 items wait in the queue: this ends.
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
        gateGroups.Advance(piece);
        position += piece;
    }
    // An event at or past the block's end comes after the whole block, in
    // this block, as for every plug-in; later ones wait in the queue.
    if (pending)
        DeliverEvent(pending);
}
