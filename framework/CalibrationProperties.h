// The properties through which an editor reads and writes a plug-in's pitch
// calibration, and the record the Quantizer takes its calibration in. The
// plug-ins that hold a table answer them; the editor's calibration files
// and the transfer between instances use nothing else.
//
// Any thread may ask for the addresses; what may be written through them and
// when is the owning plug-in's contract (plugins/common/Calibration.h).
#pragma once

#include <cstdint>

#include "framework/ObryProperties.h"

// Plug-in properties of the plug-ins that hold a table (global scope),
// besides the entries' and flags' addresses and the length (64016..64018,
// framework/ObryProperties.h).
enum CalibrationProperty : uint32_t {
    kObryProperty_CalibrationSource = 64020, // u64 seconds since 1970 of the last name set (0 none)
    kObryProperty_LoadBrinkCalibration = 64090,
    kObryProperty_LoadDunmoreCalibration = 64091,
    kObryProperty_CalibrateVoltsPerOctave = 64092,
    kObryProperty_CalibrateHzPerVolt = 64093,
    kObryProperty_CalibrationTable = 64120, // the Quantizer's QuantizerCalibration (1036 bytes, write)
    kObryProperty_CalibrationName = 64121,  // the name with its NUL; writable
};

// One entry of a table as property 64016 hands the entries out (8 bytes each,
// contiguous): the MIDI note and the output value that plays it.
struct CalibrationEntry {
    float note;
    float value;
};
static_assert(sizeof(CalibrationEntry) == 8);

// The form in which the Quantizer holds, receives (property 64120) and saves
// its calibration, in native byte order: entry i plays MIDI note notes[i] at
// output level levels[i].
struct QuantizerCalibration {
    static constexpr uint32_t kCapacity = 129;
    uint32_t count;             // entries in use (at most kCapacity)
    float levels[kCapacity];    // ascending
    int32_t notes[kCapacity];
};
static_assert(sizeof(QuantizerCalibration) == 1036);
