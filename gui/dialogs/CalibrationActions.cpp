#include "gui/dialogs/CalibrationActions.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/CalibrationProperties.h"
#include "framework/InstanceRegistry.h"
#include "framework/ObryAuBase.h"
#include "gui/dialogs/CalibrationFile.h"
#include "gui/dialogs/DialogSession.h"
#include "gui/toolkit/Manager.h"
#include "platform/Debug.h"
#include "platform/FileText.h"

using corvane::platform::DialogAnswer;
using corvane::platform::DialogIcon;
using corvane::platform::DialogKind;
using corvane::platform::DialogRequest;

namespace QZ {

namespace {

constexpr const char* kCouldNotSave = "Could not save file";
constexpr const char* kCouldNotLoad = "Could not load file";
constexpr const char* kLoadTitle = "Please choose a calibration file";
constexpr const char* kSaveTitle = "Save calibration file";
constexpr const char* kTransferName = "<Voice Controller Calibration>";
// The longest table a plug-in may hand out; every plug-in's is 129 long.
constexpr uint32_t kMaxTableLength = 4096;

// A plug-in's table through the addresses its properties hand out. Every
// access is one relaxed atomic word: the audio thread reads the table
// while we write it.
class TableAccess {
public:
    // False when the plug-in has no table (or an implausible one).
    bool Attach(ObryAuBase& plugin)
    {
        entries = nullptr;
        valid = nullptr;
        length = 0;
        return plugin.GetProperty(kObryProperty_CalibrationValues, 0, 0, &entries) == 0 &&
               plugin.GetProperty(kObryProperty_CalibrationValid, 0, 0, &valid) == 0 &&
               plugin.GetProperty(kObryProperty_CalibrationLength, 0, 0, &length) == 0 && entries && valid &&
               length > 0 && length <= kMaxTableLength;
    }
    uint32_t Length() const { return length; }

    std::vector<float> Values() const
    {
        std::vector<float> values(length);
        for (uint32_t i = 0; i < length; ++i)
            values[i] = std::atomic_ref<float>(entries[i].value).load(std::memory_order_relaxed);
        return values;
    }
    std::vector<uint8_t> Flags() const
    {
        std::vector<uint8_t> flags(length);
        for (uint32_t i = 0; i < length; ++i)
            flags[i] = std::atomic_ref<uint8_t>(valid[i]).load(std::memory_order_relaxed) != 0 ? 1 : 0;
        return flags;
    }
    // The flags first: a reader that sees a new flag with an old value
    // sees no more than it would have a moment earlier.
    void Write(const std::vector<float>& values, const std::vector<uint8_t>& flags)
    {
        for (uint32_t i = 0; i < length && i < flags.size(); ++i)
            std::atomic_ref<uint8_t>(valid[i]).store(flags[i], std::memory_order_relaxed);
        for (uint32_t i = 0; i < length && i < values.size(); ++i)
            std::atomic_ref<float>(entries[i].value).store(values[i], std::memory_order_relaxed);
    }

private:
    CalibrationEntry* entries = nullptr;
    uint8_t* valid = nullptr;
    uint32_t length = 0;
};

CalibrationFileResult Failure(std::string message, DialogIcon icon = DialogIcon::Plain)
{
    return CalibrationFileResult{false, std::move(message), icon};
}

// The file's text, or a failure: the file cannot be opened, or is far too
// large to be a calibration file.
CalibrationFileResult ReadFile(const std::string& path, std::string& text)
{
    switch (corvane::ReadWholeFile(path, kMaxCalibrationFileSize, text)) {
    case corvane::FileRead::Ok: return CalibrationFileResult{};
    case corvane::FileRead::TooLarge: return Failure(CalibrationFileError::kTooLarge);
    case corvane::FileRead::Missing:
    case corvane::FileRead::Failed: break;
    }
    return Failure(kCouldNotLoad, DialogIcon::Error);
}

void SetName(ObryAuBase& plugin, const std::string& name)
{
    plugin.SetPropertyAndNotify(kObryProperty_CalibrationName, name.c_str(), static_cast<uint32_t>(name.size() + 1));
}

DialogRequest FileRequest(DialogKind kind, const char* title)
{
    DialogRequest request;
    request.kind = kind;
    request.title = title;
    request.filters = {{"Text Files (*.txt)", "*.txt"}, {"All Files (*.*)", "*.*"}};
    if (kind == DialogKind::SaveFile)
        request.defaultExtension = "txt";
    // The user's own folder rather than the host's working folder (often
    // "/") or a list of recent files.
    const char* home = getenv("HOME");
    if (home && home[0] == '/')
        request.folder = home;
    return request;
}

using FileWork = CalibrationFileResult (*)(ObryAuBase&, const std::string&);

// Opens the chooser; the chosen path goes to `work`, whose failure is shown.
bool RunWithChosenFile(Manager& manager, DialogKind kind, const char* title, FileWork work)
{
    return DialogSession::StartForEditor(
        manager, FileRequest(kind, title),
        [work](DialogSession& session, ObryAuBase& plugin, const DialogAnswer& answer) {
            if (!answer.accepted || answer.text.empty())
                return;
            const CalibrationFileResult result = work(plugin, answer.text);
            if (!result.ok)
                session.ShowError(result.message, result.icon);
        });
}

} // namespace

CalibrationFileResult SaveCalibrationToFile(ObryAuBase& plugin, const std::string& path)
{
    TableAccess table;
    if (!table.Attach(plugin))
        return Failure(kCouldNotSave, DialogIcon::Error);
    const std::vector<float> values = table.Values();
    const std::vector<uint8_t> flags = table.Flags();
    const std::string text = FormatCalibrationFile(values.data(), flags.data(), values.size());
    int error = 0;
    if (!corvane::ReplaceFile(path, text, 0666, &error)) {
        corvane::DebugPrintf("cannot save %s: %s\n", path.c_str(), strerror(error));
        return Failure(kCouldNotSave, DialogIcon::Error);
    }
    return CalibrationFileResult{};
}

CalibrationFileResult LoadCalibrationFromFile(ObryAuBase& plugin, const std::string& path)
{
    TableAccess table;
    if (!table.Attach(plugin))
        return Failure(kCouldNotLoad, DialogIcon::Error);
    std::string text;
    if (CalibrationFileResult read = ReadFile(path, text); !read.ok)
        return read;
    std::vector<CalibrationLine> lines;
    std::string error;
    const auto length = static_cast<int32_t>(table.Length());
    if (!ParseCalibrationFile(text, length - 1, lines, error))
        return Failure(error);
    const FilledCalibration filled = FillCalibration(lines, length);
    table.Write(filled.values, filled.read);
    SetName(plugin, path);
    return CalibrationFileResult{};
}

CalibrationFileResult LoadQuantizerCalibrationFromFile(ObryAuBase& plugin, const std::string& path)
{
    std::string text;
    if (CalibrationFileResult read = ReadFile(path, text); !read.ok)
        return read;
    std::vector<CalibrationLine> lines;
    std::string error;
    QuantizerCalibration record{};
    // The Quantizer keeps each value's index as the note it plays; one past
    // the table's last entry is accepted.
    if (!ParseCalibrationFile(text, static_cast<int32_t>(QuantizerCalibration::kCapacity), lines, error) ||
        !BuildQuantizerCalibration(lines, record, error))
        return Failure(error);
    if (plugin.SetPropertyAndNotify(kObryProperty_CalibrationTable, &record, sizeof record) != 0)
        return Failure(kCouldNotLoad, DialogIcon::Error);
    SetName(plugin, path);
    return CalibrationFileResult{};
}

bool TransferCalibrationFrom(ObryAuBase& target)
{
    std::vector<float> values;
    std::vector<uint8_t> flags;
    uint32_t sourceLength = 0;
    const ObryAuBase* source = InstanceRegistry::FindUsable([&](ObryAuBase* instance) {
        uint64_t named = 0;
        if (instance->GetProperty(kObryProperty_CalibrationSource, 0, 0, &named) != 0 || named == 0)
            return false;
        // Under the registry's lock: the source cannot be closed meanwhile.
        TableAccess table;
        if (table.Attach(*instance)) {
            values = table.Values();
            flags = table.Flags();
            sourceLength = table.Length();
        }
        return true;
    });
    TableAccess table;
    if (!source || !table.Attach(target) || sourceLength != table.Length())
        return false;
    table.Write(values, flags);
    SetName(target, kTransferName);
    return true;
}

bool SaveCalibrationFile(Manager& manager)
{
    return RunWithChosenFile(manager, DialogKind::SaveFile, kSaveTitle, SaveCalibrationToFile);
}

bool LoadCalibrationFile(Manager& manager)
{
    return RunWithChosenFile(manager, DialogKind::OpenFile, kLoadTitle, LoadCalibrationFromFile);
}

bool LoadQuantizerCalibrationFile(Manager& manager)
{
    return RunWithChosenFile(manager, DialogKind::OpenFile, kLoadTitle, LoadQuantizerCalibrationFromFile);
}

bool TransferCalibration(Manager& manager)
{
    ObryAuBase* plugin = manager.Plugin();
    return plugin && TransferCalibrationFrom(*plugin);
}

} // namespace QZ
