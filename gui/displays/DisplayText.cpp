#include "gui/displays/DisplayText.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace QZ::displaytext {

namespace {

const char* const kNoteNames[12] = {"C ", "C#", "D ", "D#", "E ", "F ", "F#", "G ", "G#", "A ", "A#", "B "};

// printf into a string; the widest text here is a float with "%6.1f"
// (at most 47 characters), so the buffer never cuts one short.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    char text[160];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

float Rounded(float value, float steps)
{
    const float rounded = std::floor(value * steps + 0.5f) / steps;
    return std::isfinite(rounded) ? rounded : 0.0f;
}

} // namespace

const char* NoteName(int32_t note)
{
    return note < 0 ? nullptr : kNoteNames[note % 12];
}

int32_t NoteOctave(int32_t note)
{
    return note / 12 - 1;
}

std::string FollowerNoteText(float frequency)
{
    if (!(frequency > 0.0f) || !std::isfinite(frequency))
        return "";
    const double m = 12.0 * std::log2(static_cast<double>(frequency) / 440.0) + 69.0;
    // Below note 0 (about 8.2 Hz) there is no name to show.
    if (!(m + 0.5 >= 0.0))
        return "";
    const auto n = static_cast<int32_t>(m + 0.5);
    return Format("%s%d%+.0f", NoteName(n), NoteOctave(n), (m - n) * 100.0);
}

FollowerShown FollowerRounded(float frequency, float pitchLevel, float outputLevel)
{
    return FollowerShown{Rounded(frequency, 10.0f), Rounded(pitchLevel, 1000.0f), Rounded(outputLevel, 1000.0f)};
}

FollowerLines FollowerText(float frequency, float pitchLevel, float outputLevel)
{
    const FollowerShown shown = FollowerRounded(frequency, pitchLevel, outputLevel);
    return FollowerLines{Format("%6.1fHz  %s", shown.frequency, FollowerNoteText(shown.frequency).c_str()),
                         Format("%6.3fV  %6.3f", shown.pitchLevel, shown.outputLevel)};
}

std::string QuantizerText(int32_t note)
{
    if (note < 0)
        return "";
    return Format("%s%d  %d", NoteName(note), NoteOctave(note), note);
}

bool KeyOf(int32_t note, KeyMark& mark)
{
    const char* name = NoteName(note);
    if (!name)
        return false;
    mark.key = name[0] - 'C';
    if (mark.key < 0)
        mark.key += 7; // A and B follow G
    mark.sharp = name[1] == '#';
    return true;
}

bool KeyboardMark(int32_t note, float x0, float bottom, float width, Box& mark, bool& sharp)
{
    KeyMark key;
    if (!KeyOf(note, key))
        return false;
    const float keyWidth = width / 7.0f;
    const float left = x0 + static_cast<float>(key.key) * keyWidth + (key.sharp ? keyWidth * 0.5f : 0.0f);
    mark = Box{left, bottom + (key.sharp ? 10.0f : 0.0f), 0, left + keyWidth - 1.0f,
               bottom + (key.sharp ? 20.0f : 10.0f), 0};
    sharp = key.sharp;
    return true;
}

int32_t InfoEntryCount(int32_t requested)
{
    return requested < 1 ? 0 : (requested > 6 ? 6 : requested);
}

std::string InfoEntryText(uint8_t byte)
{
    return Format("%3d", static_cast<int>(static_cast<int8_t>(byte)));
}

std::string ControlChangeLine(const std::string& instanceName, uint32_t perType, uint32_t processWide,
                              uint8_t channel, uint8_t controller, uint8_t value)
{
    const std::string message = Format("Ch%d CC%d %d", channel + 1, controller, value);
    if (instanceName.empty())
        return message;
    return instanceName + Format(" %u (%u) : ", perType, processWide) + message;
}

} // namespace QZ::displaytext
