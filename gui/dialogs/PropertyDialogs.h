// The two dialogs that set a plug-in's string property: the Enter Property
// dialog of a property text field (one line of text, OK and Cancel) and the
// MIDI Browser of the MIDI browse button (the computer's MIDI output ports).
// On OK the text is set through ObryAuBase::SetPropertyAndNotify with its
// NUL, so the property's listeners (the field that shows it) hear of it.
//
// Threads: the host's UI thread. Each returns false when it shows nothing:
// the editor has no open window, or another of its dialogs is open.
#pragma once

#include <cstdint>
#include <string>

namespace QZ {

class Manager;

// Longest text the Enter Property dialog hands on, in bytes without the
// NUL; a longer entry is cut at the last whole character that fits.
constexpr size_t kMaxPropertyTextLength = 255;

// Dialog "Enter Property": prompt above a line starting with currentText.
// OK: the entered text (up to its first line break, cut to
// kMaxPropertyTextLength) is set as property propertyId. Cancel: nothing.
bool ShowEnterPropertyDialog(Manager& manager, uint32_t propertyId, const std::string& prompt,
                             const std::string& currentText);

// Dialog "MIDI Browser": "Select a MIDI target:" above the names of the
// MIDI output ports in the system's order. OK with a port chosen sets
// property propertyId to its name; OK without one (an empty list) and
// Cancel do nothing.
bool ShowMIDIBrowser(Manager& manager, uint32_t propertyId);

} // namespace QZ
