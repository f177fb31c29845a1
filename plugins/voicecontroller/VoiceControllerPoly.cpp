// Several Voice Controllers as one polyphonic instrument. The master takes
// the notes, gives each to a voice and writes the per-voice messages into
// its slot's ring (PolyphonySlots.h); at the frame of each batch it writes
// the batch's marker sample into output 1, which the user routes to the
// input of every voice. A voice that finds a marker in its input reads that
// batch out of the master's slot and plays the messages addressed to it, so
// all voices act at the same sample whatever order the host runs them in.
//
// audio thread: no allocation, no lock
#include <algorithm>

#include "plugins/voicecontroller/ObryCorvaneVoiceController.h"

namespace ObryCorvaneVoiceController {

namespace {

constexpr float kPassLimit = 2.0f; // below every marker value

} // namespace

void ObryCorvane::FrameCursor::Advance(int32_t frames)
{
    input += frames;
    for (float*& out : outputs)
        out += frames;
    left -= frames;
}

void ObryCorvane::PublishVoiceState()
{
    int32_t role = 0;
    if (processingMode == kMaster)
        role = -1;
    else if (polyMode == 2)
        role = std::clamp(voiceNumber, 1, kMaxVoices);
    int32_t score = 0;
    for (const Envelope& envelope : envelopes) {
        const int32_t stage = envelope.CurrentStage();
        score += (stage >= envelope.SustainStage() ? 10 : 0) + (stage > 0 ? 1 : 0);
    }
    polySlot->role.store(role, std::memory_order_release);
    polySlot->score.store(score, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// master

// Output 1 passes the input held below the marker values, output 2 is 0;
// the own mono voice renders outputs 3-6.
void ObryCorvane::RenderMasterPiece(FrameCursor& cursor, int32_t frames)
{
    for (int32_t i = 0; i < frames; ++i) {
        const float x = cursor.input[i];
        cursor.outputs[0][i] = x > kPassLimit ? kPassLimit : x;
    }
    std::fill(cursor.outputs[1], cursor.outputs[1] + frames, 0.0f);
    RenderVoice(cursor.outputs, frames);
}

void ObryCorvane::WriteMarkerFrame(int32_t batch, FrameCursor& cursor)
{
    cursor.outputs[0][0] = MarkerSample(batch);
    for (int32_t c = 1; c < kNumOutputs; ++c)
        cursor.outputs[c][0] = 0.0f;
    cursor.Advance(1);
}

void ObryCorvane::CloseBatch(FrameCursor& cursor)
{
    if (polySlot->PendingCount() == 0)
        return;
    const int32_t batch = batchIndex;
    polySlot->PublishBatch(batch);
    batchIndex = (batch + 1) % kBatches;
    if (cursor.left > 0)
        WriteMarkerFrame(batch, cursor);
    else if (owedCount < kBatches)
        owedMarkers[owedCount++] = batch;
}

void ObryCorvane::QueueToVoice(int32_t voice, uint8_t type, const uint8_t data[4], FrameCursor& cursor)
{
    PolyMessage message;
    message.target = static_cast<uint32_t>(std::clamp(voice, 0, kMaxVoices));
    message.type = type;
    std::copy(data, data + 4, message.data);
    // A full batch goes out at once and the rest follows one frame later:
    // a batch never holds more than its ring can keep.
    if (!polySlot->Append(message)) {
        CloseBatch(cursor);
        polySlot->Append(message);
    }
}

void ObryCorvane::QueueNoteOff(int32_t voice, int32_t note, FrameCursor& cursor)
{
    const uint8_t data[4] = {0x80, 0, static_cast<uint8_t>(note & 0x7F), 127};
    QueueToVoice(voice, QZ::MessageQueueItem::kShortMIDI, data, cursor);
}

void ObryCorvane::ReleaseMasterVoice(float velocity)
{
    if (!gateOn)
        return;
    releaseVelocity = velocity;
    gateOn = false;
    ReleaseEnvelopes();
}

QZ::MessageQueueItem* ObryCorvane::HandleMasterEvents(QZ::MessageQueueItem* due, FrameCursor& cursor)
{
    const uint32_t frame = due->deltaFrame;
    polySlot->BeginBatch();
    HandleMasterItem(*due, cursor);
    QZ::MessageQueueItem* next = nullptr;
    while ((next = queueA.Read()) != nullptr && next->deltaFrame == frame)
        HandleMasterItem(*next, cursor);
    CloseBatch(cursor);
    return next;
}

void ObryCorvane::HandleMasterItem(const QZ::MessageQueueItem& item, FrameCursor& cursor)
{
    if (item.type != QZ::MessageQueueItem::kShortMIDI)
        return;
    const int32_t status = item.data[0] & 0xF0;
    const int32_t note = item.data[2] & 0x7F;
    const int32_t value = item.data[3] & 0x7F;
    const int32_t voices = std::clamp(polyphony, 1, kMaxVoices);
    switch (status) {
    case 0x90:
        if (value > 0) {
            if (heldVoice[note] != 0) {
                const int32_t old = heldVoice[note];
                QueueNoteOff(old, note, cursor);
                if (voiceToNote[old] == note)
                    voiceToNote[old] = -1;
            } else {
                ++polyHeldCount;
            }
            // The polyphony may have shrunk since the preferred voice was set.
            if (preferredVoice < 1 || preferredVoice > voices)
                preferredVoice = 1;
            const int32_t voice = std::clamp(PolyphonySlots::ChooseVoice(preferredVoice, voices), 1, kMaxVoices);
            preferredVoice = voice + 1 > voices ? 1 : voice + 1;
            if (voiceToNote[voice] >= 0)
                QueueNoteOff(voice, voiceToNote[voice], cursor);
            heldVoice[note] = static_cast<int8_t>(voice);
            voiceToNote[voice] = note;
            QueueToVoice(voice, QZ::MessageQueueItem::kShortMIDI, item.data, cursor);
            currentNote = static_cast<float>(note);
            noteOnVelocity = static_cast<float>(value) / 127.0f;
            StartEnvelopes(noteOnVelocity);
            break;
        }
        [[fallthrough]]; // velocity 0 is a note-off, as in the mono voice
    case 0x80: {
        const int32_t voice = heldVoice[note];
        if (voice == 0)
            break;
        heldVoice[note] = 0;
        --polyHeldCount;
        if (masterPedalDown)
            break;
        // The voice may have been given another note since.
        if (voiceToNote[voice] == note)
            voiceToNote[voice] = -1;
        uint8_t off[4] = {0x80, item.data[1], static_cast<uint8_t>(note), static_cast<uint8_t>(value)};
        QueueToVoice(voice, QZ::MessageQueueItem::kShortMIDI, off, cursor);
        if (polyHeldCount <= 0) {
            polyHeldCount = 0;
            ReleaseMasterVoice(static_cast<float>(value) / 127.0f);
        }
        break;
    }
    case 0xB0:
        if (note == 64) {
            const bool down = value >= 64;
            if (down == masterPedalDown)
                break;
            masterPedalDown = down;
            if (down)
                break;
            for (int32_t v = 1; v <= kMaxVoices; ++v) {
                const int32_t n = voiceToNote[v];
                if (n >= 0 && heldVoice[n] == 0) {
                    voiceToNote[v] = -1;
                    QueueNoteOff(v, n, cursor);
                }
            }
            if (polyHeldCount == 0)
                ReleaseMasterVoice(1.0f);
        } else if (note == 120) {
            HandleMIDIMessage(item);
            preferredVoice = 1;
            std::fill(std::begin(voiceToNote), std::end(voiceToNote), -1);
            std::fill(std::begin(heldVoice), std::end(heldVoice), static_cast<int8_t>(0));
            polyHeldCount = 0;
            masterPedalDown = false;
            QueueToVoice(0, QZ::MessageQueueItem::kShortMIDI, item.data, cursor);
        } else if (note == 123) {
            for (int32_t v = 1; v <= kMaxVoices; ++v)
                if (voiceToNote[v] >= 0) {
                    QueueNoteOff(v, voiceToNote[v], cursor);
                    voiceToNote[v] = -1;
                }
            std::fill(std::begin(heldVoice), std::end(heldVoice), static_cast<int8_t>(0));
            polyHeldCount = 0;
            ReleaseMasterVoice(1.0f);
        }
        break;
    case 0xE0: QueueToVoice(0, QZ::MessageQueueItem::kShortMIDI, item.data, cursor); break;
    default: break;
    }
}

// ---------------------------------------------------------------------------
// voice

// The piece is rendered in runs between markers; the batch a marker names
// acts from the marker's own frame. The input is read ahead of the
// rendering, so a host that hands the same buffer as output 1 is fine.
void ObryCorvane::RenderVoicePiece(const float* input, float* const* outputs, int32_t frames)
{
    int32_t start = 0;
    for (int32_t i = 0; i < frames; ++i) {
        const int32_t batch = BatchOfMarker(input[i]);
        if (batch < 0)
            continue;
        if (i > start) {
            float* out[kNumOutputs];
            for (int32_t c = 0; c < kNumOutputs; ++c)
                out[c] = outputs[c] + start;
            RenderVoice(out, i - start);
        }
        start = i;
        DeliverBatch(batch);
        // The messages change the gate, pitch and velocity at once; the LFO
        // does not move (no frames).
        BeginSubBlock(0);
    }
    if (start < frames) {
        float* out[kNumOutputs];
        for (int32_t c = 0; c < kNumOutputs; ++c)
            out[c] = outputs[c] + start;
        RenderVoice(out, frames - start);
    }
}

void ObryCorvane::DeliverBatch(int32_t batch)
{
    const PolyphonySlot* master = PolyphonySlots::FindMaster();
    if (!master || master == polySlot)
        return;
    const uint32_t generation = master->generation.load(std::memory_order_acquire);
    if (master != readMaster || generation != readGeneration) {
        readMaster = master;
        readGeneration = generation;
        lastBatchSerial = 0;
    }
    const auto own = static_cast<uint32_t>(voiceNumber);
    master->ReadBatch(batch, &lastBatchSerial, [this, own](const PolyMessage& m) {
        if (m.target != 0 && m.target != own)
            return;
        deliveryItem.type = m.type;
        std::copy(m.data, m.data + 4, deliveryItem.data);
        deliveryItem.deltaFrame = 0;
        HandleMIDIMessage(deliveryItem);
    });
    PublishVoiceState();
}

} // namespace ObryCorvaneVoiceController
