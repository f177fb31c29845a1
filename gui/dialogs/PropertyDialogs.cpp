#include "gui/dialogs/PropertyDialogs.h"

#include <string_view>
#include <vector>

#include "framework/ObryAuBase.h"
#include "gui/dialogs/DialogSession.h"
#include "gui/toolkit/Manager.h"
#include "platform/MidiOutput.h"
#include "platform/Utf8.h"

using corvane::platform::DialogAnswer;
using corvane::platform::DialogKind;
using corvane::platform::DialogRequest;

namespace QZ {

namespace {

void SetText(ObryAuBase& plugin, uint32_t propertyId, const std::string& text)
{
    plugin.SetPropertyAndNotify(propertyId, text.c_str(), static_cast<uint32_t>(text.size() + 1));
}

} // namespace

bool ShowEnterPropertyDialog(Manager& manager, uint32_t propertyId, const std::string& prompt,
                             const std::string& currentText)
{
    DialogRequest request;
    request.kind = DialogKind::Entry;
    request.title = "Enter Property";
    request.text = prompt;
    request.initialText = currentText;
    return DialogSession::StartForEditor(
        manager, std::move(request), [propertyId](DialogSession&, ObryAuBase& plugin, const DialogAnswer& answer) {
        if (!answer.accepted)
            return;
        // One line, and no more than the property takes.
        std::string_view text(answer.text.c_str()); // up to a NUL
        text = text.substr(0, text.find_first_of("\r\n"));
        SetText(plugin, propertyId, std::string(corvane::Utf8Prefix(text, kMaxPropertyTextLength)));
    });
}

bool ShowMIDIBrowser(Manager& manager, uint32_t propertyId)
{
    DialogRequest request;
    request.kind = DialogKind::List;
    request.title = "MIDI Browser";
    request.text = "Select a MIDI target:";
    request.rows = corvane::platform::ListMidiOutputDevices();
    // The names as listed: the answer is a row of this list, even when the
    // ports change while the dialog is open.
    std::vector<std::string> names = request.rows;
    return DialogSession::StartForEditor(
        manager, std::move(request),
        [propertyId, names = std::move(names)](DialogSession&, ObryAuBase& plugin, const DialogAnswer& answer) {
            if (!answer.accepted || answer.row < 0 || static_cast<size_t>(answer.row) >= names.size())
                return;
            SetText(plugin, propertyId, names[static_cast<size_t>(answer.row)]);
        });
}

} // namespace QZ
