// The Voice Controller's mono voice: notes with priority and fallback, the
// sustain pedal, pitch bend, all notes off and all sound off, and the start
// and release of the three envelopes.
//
// audio thread: no allocation, no lock
#include "plugins/voicecontroller/ObryCorvaneVoiceController.h"

namespace ObryCorvaneVoiceController {

void ObryCorvane::HandleMIDIMessage(const QZ::MessageQueueItem& item)
{
    if (item.type != QZ::MessageQueueItem::kShortMIDI)
        return;
    // The channel is not looked at: every channel plays the voice.
    const int32_t status = item.data[0] & 0xF0;
    const int32_t data1 = item.data[2] & 0x7F;
    const int32_t data2 = item.data[3] & 0x7F;
    switch (status) {
    case 0x90:
        if (data2 > 0) {
            NoteOn(data1, static_cast<float>(data2) / 127.0f);
            break;
        }
        [[fallthrough]];
    case 0x80: NoteOff(data1, static_cast<float>(data2) / 127.0f); break;
    case 0xB0:
        if (data1 == 64) {
            const bool down = data2 >= 64;
            if (down != pedalDown) {
                pedalDown = down;
                if (!down && gateOn && notes.HeldCount() == 0) {
                    releaseVelocity = 1.0f;
                    gateOn = false;
                    ReleaseEnvelopes();
                }
            }
        } else if (data1 == 120) {
            ResetVoice();
        } else if (data1 == 123) {
            AllNotesOff();
        }
        break;
    case 0xE0:
        pitchBend = static_cast<float>((data2 << 7 | data1) - 8192) * P(kPitchWheelRange) * (1.0f / 8192.0f);
        break;
    default: break;
    }
}

void ObryCorvane::NoteOn(int32_t note, float velocity)
{
    note = MonoNoteStack::ClampNote(note);
    if (glideMode == kGlideFingered || glideMode == kGlideCTFingered)
        glideOn = notes.HeldCount() != 0; // glide only from a key still held
    if (glideOn && (glideMode == kGlideCTAuto || glideMode == kGlideCTFingered)) {
        glideRemaining = glideLength;
        glideStart = glidedPitch;
    }
    const int32_t sounding = notes.Press(note, IntP(kNotePriority));
    noteOnVelocity = velocity;
    currentNote = static_cast<float>(sounding);
    StartEnvelopes(velocity);
}

void ObryCorvane::NoteOff(int32_t note, float velocity)
{
    notes.Release(note);
    const int32_t fallback = notes.Fallback(IntP(kNotePriority));
    if (fallback < 0) {
        // The last key: the gate closes unless the pedal holds it. A note-off
        // for a voice already released (a second note-off, a stray one)
        // leaves the release running as it is.
        if (!pedalDown && gateOn) {
            releaseVelocity = velocity;
            gateOn = false;
            ReleaseEnvelopes();
        }
        return;
    }
    if (fallback != static_cast<int32_t>(currentNote))
        NoteOn(fallback, noteOnVelocity); // held already: the count stays
}

// Controller 123: the held keys go lowest first, each through the priority
// rule, so the pitch keeps the note picked last. With the pedal down the
// gate stays open and the pedal's release ends the voice, as it does after
// ordinary note-offs; closing the gate here would leave the envelopes in
// sustain with nothing left to release them.
void ObryCorvane::AllNotesOff()
{
    const int32_t priority = IntP(kNotePriority);
    for (int32_t note = 0; note < MonoNoteStack::kNotes && notes.HeldCount() > 0; ++note) {
        if (!notes.Release(note))
            continue;
        if (notes.HeldCount() > 0) {
            const int32_t fallback = notes.Fallback(priority);
            if (fallback != static_cast<int32_t>(currentNote))
                NoteOn(fallback, noteOnVelocity);
        } else if (!pedalDown && gateOn) {
            releaseVelocity = 1.0f;
            gateOn = false;
            ReleaseEnvelopes();
        }
    }
}

// Controller 120 and the panic (64094).
void ObryCorvane::ResetVoice()
{
    gateOn = false;
    pedalDown = false;
    for (Envelope& envelope : envelopes)
        envelope.Silence();
    notes.Clear();
    currentNote = 60.0f;
}

void ObryCorvane::StartEnvelopes(float velocity)
{
    // "Retrig Off": a key played while the gate is open is legato.
    if (gateOn && IntP(kRetriggerMode) == 1)
        return;
    triggerRemaining = triggerLength;
    gateOn = true;
    randomState = randomState * 49979693u + 15485867u;
    randomValue = static_cast<float>(static_cast<int32_t>(randomState & 0xFFFFF) - 0x80000) * (1.0f / 524288.0f);
    const double rate = Rate();
    for (int32_t e = 0; e < kEnvelopes; ++e)
        envelopes[e].Start(SettingsOf(e), velocity, rate);
}

void ObryCorvane::ReleaseEnvelopes()
{
    const double rate = Rate();
    for (int32_t e = 0; e < kEnvelopes; ++e)
        envelopes[e].Release(SettingsOf(e), rate);
}

} // namespace ObryCorvaneVoiceController
