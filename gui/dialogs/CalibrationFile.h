// Calibration text files: a pitch calibration written so that a person can
// read, edit and share it.
//
//   Corvane Calibration Data
//   version: 1
//   60 0.00000000
//   72 0.08333334
//
// After the header line and the version line, one line per entry: its index
// (the MIDI note) and its value (the output level that plays that note),
// with eight decimals. The writer writes the valid entries in index order
// with LF line ends; a reader takes the lines in any order (a later line for
// an index replaces an earlier one), and accepts CR LF line ends and blanks
// at the ends of lines.
//
// Everything here works on texts and plain arrays: no plug-in, no file, no
// thread of its own. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/CalibrationProperties.h"

namespace QZ {

constexpr const char* kCalibrationFileHeader = "Corvane Calibration Data";
constexpr int32_t kCalibrationFileVersion = 1;
// Lines are read into a buffer of this size, terminator included.
constexpr size_t kCalibrationLineBufferSize = 256;
// A calibration file is a few kilobytes; far larger is not one.
constexpr size_t kMaxCalibrationFileSize = 1 << 20;

// The texts of the reading errors, shown to the user as they are.
namespace CalibrationFileError {
constexpr const char* kReadLine = "Failed to read line from file";
constexpr const char* kHeader = "Failed to read file header";
constexpr const char* kGetVersion = "Failed to get version number";
constexpr const char* kInvalidVersion = "Invalid version number";
constexpr const char* kParseLine = "Failed to parse line: "; // then the line between double quotes
constexpr const char* kIndexRange = "Index out of range";
constexpr const char* kValueRange = "Value out of range";
constexpr const char* kNoValues = "No values loaded from file";
constexpr const char* kTooManySteps = "Too many steps";
constexpr const char* kNotText = "Failed to read file: it is not a text file";
constexpr const char* kLineTooLong = "Failed to read file: a line is longer than 255 characters";
constexpr const char* kTooLarge = "Failed to read file: it is too large to be a calibration file";
} // namespace CalibrationFileError

struct CalibrationLine {
    int32_t index;
    float value;
};

// The file for a table of `count` entries: the header, the version and one
// line per entry whose valid flag is set. A value is written with eight
// decimals, or with as many more as it needs to read back as exactly the
// same value.
std::string FormatCalibrationFile(const float* values, const uint8_t* valid, size_t count);

// Reads the data lines of a file whose indices must lie in 0..maxIndex.
// False with the error text (see CalibrationFileError) when the file breaks
// a rule; lines is then empty. A value must be a finite number of
// magnitude at most 1.
bool ParseCalibrationFile(std::string_view text, int32_t maxIndex, std::vector<CalibrationLine>& lines,
                          std::string& error);

// A table of `count` entries filled from the lines: the entries a line gave
// take its value (the last line for an index wins) and are marked read; the
// entries between the lowest and the highest read one are interpolated
// linearly between their read neighbours; below and above, each entry
// takes the value of the nearest filled entry a whole number of octaves (12
// entries) away, looking downward first from the top, then upward; entries
// left over are 0.
struct FilledCalibration {
    std::vector<float> values;
    std::vector<uint8_t> read; // 1 where a line gave the entry
};
FilledCalibration FillCalibration(const std::vector<CalibrationLine>& lines, int32_t count);

// The Quantizer's record from the lines: its distinct values in ascending
// order, each with the index of the last line that gave it. False with
// "No values loaded from file" or "Too many steps" (more than 129).
bool BuildQuantizerCalibration(const std::vector<CalibrationLine>& lines, QuantizerCalibration& record,
                               std::string& error);

} // namespace QZ
