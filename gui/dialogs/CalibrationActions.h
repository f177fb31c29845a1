// The calibration buttons of the plug-in editors: save the plug-in's pitch
// calibration as a text file (CalibrationFile.h), load one into the
// plug-in's table (Voice Controller, Follower, Soundplane) or into a
// Quantizer, and copy the calibration of another instance.
//
// The plug-in is reached only through its properties: the table's entries
// and valid flags through the addresses of 64016 and 64017 and its length
// through 64018, the Quantizer's record through 64120, the name through
// 64121. Entries are read and written in place, one whole word at a time,
// while the audio thread may be reading them.
//
// Threads: the host's UI thread (an editor's button, or the answer of its
// file dialog applied in effEditIdle).
#pragma once

#include <string>

#include "platform/Dialogs.h"

class ObryAuBase;

namespace QZ {

class Manager;

// What a file operation came to: on failure the message the user is shown,
// in a message box titled "Error" with this icon.
struct CalibrationFileResult {
    bool ok = true;
    std::string message;
    corvane::platform::DialogIcon icon = corvane::platform::DialogIcon::Plain;
};

// The button actions ("VCSave", "VCLoad", "QuantizerLoad", "Transfer"), for
// the editor whose manager is given. The first three open a file chooser
// ("Text Files (*.txt)" and "All Files (*.*)") and return false when it
// cannot open (no open editor, or another dialog of the editor is open);
// the work is done when the chooser's answer arrives, and a failure is
// shown in a message box. Cancel does nothing.
bool SaveCalibrationFile(Manager& manager);
bool LoadCalibrationFile(Manager& manager);
bool LoadQuantizerCalibrationFile(Manager& manager);
// Copies at once (no dialog); see TransferCalibrationFrom.
bool TransferCalibration(Manager& manager);

// The work behind the actions, given the chosen path.
//
// Writes the valid entries of the plug-in's table to path. The file is
// replaced whole or not at all: a failed save leaves any file that was
// there as it was ("Could not save file").
CalibrationFileResult SaveCalibrationToFile(ObryAuBase& plugin, const std::string& path);
// Reads path into the plug-in's table: exactly the entries the file gives
// become valid, the others are interpolated or filled by octaves (see
// FillCalibration), and the calibration name becomes path, its listeners
// told. A file that cannot be read ("Could not load file") or breaks a rule
// of the format changes nothing.
CalibrationFileResult LoadCalibrationFromFile(ObryAuBase& plugin, const std::string& path);
// Reads path into a Quantizer: its distinct values become the steps
// (property 64120), then the name becomes path. A failure changes nothing.
CalibrationFileResult LoadQuantizerCalibrationFromFile(ObryAuBase& plugin, const std::string& path);
// Copies every value and valid flag from the first registered instance
// whose calibration has been named (property 64020 nonzero; it may be
// target itself) and names target's calibration "<Voice Controller
// Calibration>". The source's table is copied while the instance registry
// is locked, so the source cannot go away half-way. False, with nothing
// changed, when there is no source or the tables' lengths differ.
bool TransferCalibrationFrom(ObryAuBase& target);

} // namespace QZ
