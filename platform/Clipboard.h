// The text clipboard, as the editor window of a plug-in instance offers it.
// An editor registers its window's clipboard while the window is open; a
// plug-in that copies text asks for the clipboard of its own editor and
// copies nothing when no window is open.
//
// Threads: the registration functions may be called from any thread (a small
// lock guards the list). Clipboard::SetText: any thread but the audio thread
// (an implementation that must act on the UI thread keeps the text and acts
// there).
#pragma once

#include <memory>
#include <string>

namespace corvane::platform {

class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Makes `text` the clipboard's text. False when that cannot be done.
    virtual bool SetText(const std::string& text) = 0;
};

// `owner` is the plug-in instance whose editor window is open. A second
// registration for the same owner replaces the first.
void RegisterClipboard(const void* owner, std::shared_ptr<Clipboard> clipboard);
void UnregisterClipboard(const void* owner);
// The registered clipboard of `owner`, or null when its editor has none open.
std::shared_ptr<Clipboard> ClipboardFor(const void* owner);

} // namespace corvane::platform
