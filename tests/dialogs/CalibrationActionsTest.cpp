// The calibration buttons' work on real plug-ins in-process: save and load
// through files between plug-in kinds, loads that must change nothing, a
// save that fails half-way, the Quantizer's load, the transfer between
// instances, and the buttons' dialogs with scripted answers.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "framework/CalibrationProperties.h"
#include "gui/dialogs/CalibrationActions.h"
#include "gui/dialogs/CalibrationFile.h"
#include "gui/dialogs/DialogSession.h"
#include "gui/toolkit/Manager.h"
#include "plugins/follower/ObryCorvaneFollower.h"
#include "plugins/quantizer/ObryCorvaneQuantizer.h"
#include "plugins/soundplane/ObryCorvaneSoundplane.h"
#include "plugins/voicecontroller/ObryCorvaneVoiceController.h"
#include "platform/Dialogs.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

using corvane::platform::DialogIcon;
using corvane::platform::DialogKind;
using corvane::platform::ScopedScriptedDialogs;
using corvane::test::MakeInProcess;
using corvane::test::FolderEntries;
using corvane::test::ReadText;
using corvane::test::TempDir;
namespace E = QZ::CalibrationFileError;

namespace {

constexpr uint32_t kLength = 129;
const std::string kHead = "Corvane Calibration Data\nversion: 1\n";

// A plug-in's table as its properties show it.
struct Table {
    std::vector<float> values;
    std::vector<uint8_t> valid;
    bool operator==(const Table&) const = default;
};

Table Read(ObryAuBase& plugin)
{
    CalibrationEntry* entries = nullptr;
    uint8_t* valid = nullptr;
    plugin.GetProperty(kObryProperty_CalibrationValues, 0, 0, &entries);
    plugin.GetProperty(kObryProperty_CalibrationValid, 0, 0, &valid);
    Table table;
    for (uint32_t i = 0; i < kLength; ++i) {
        table.values.push_back(entries[i].value);
        table.valid.push_back(valid[i]);
    }
    return table;
}

// Fills a plug-in's table with a recognisable pattern: entry i valid when
// i % every == 0, its value i / 200 - 0.3 (a few bits more than eight
// decimals hold).
void Fill(ObryAuBase& plugin, int every)
{
    CalibrationEntry* entries = nullptr;
    uint8_t* valid = nullptr;
    plugin.GetProperty(kObryProperty_CalibrationValues, 0, 0, &entries);
    plugin.GetProperty(kObryProperty_CalibrationValid, 0, 0, &valid);
    for (uint32_t i = 0; i < kLength; ++i) {
        entries[i].value = static_cast<float>(i) / 200.0f - 0.3f + 1e-9f;
        valid[i] = i % every == 0 ? 1 : 0;
    }
}

std::string Name(ObryAuBase& plugin)
{
    char name[4096] = {};
    plugin.GetProperty(kObryProperty_CalibrationName, 0, 0, name);
    return name;
}

void SetName(ObryAuBase& plugin, const std::string& name)
{
    plugin.SetPropertyAndNotify(kObryProperty_CalibrationName, name.c_str(), static_cast<uint32_t>(name.size() + 1));
}

// Counts the calls of a property's listeners.
void CountCall(void* counter, ObryAuBase*, uint32_t, uint32_t, uint32_t)
{
    ++*static_cast<int*>(counter);
}

class CalibrationActionsTest : public ::testing::Test {
protected:
    corvane::test::ScopedUserFolders folders;
    TempDir files;
};

TEST_F(CalibrationActionsTest, SavedFileLoadsIntoEveryKindThatHoldsATable)
{
    auto voice = MakeInProcess<ObryCorvaneVoiceController::ObryCorvane>(false);
    auto follower = MakeInProcess<ObryCorvaneFollower::ObryCorvane>();
    auto soundplane = MakeInProcess<ObryCorvaneSoundplane::ObryCorvane>();
    Fill(*voice, 2);
    const std::string path = files.Path() + "/cal.txt";
    ASSERT_TRUE(QZ::SaveCalibrationToFile(*voice, path).ok);
    EXPECT_EQ(ReadText(path).rfind(kHead, 0), 0u);

    for (ObryAuBase* target : {static_cast<ObryAuBase*>(follower.get()), static_cast<ObryAuBase*>(soundplane.get())}) {
        int heard = 0;
        target->AddPropertyListener(kObryProperty_CalibrationName, CountCall, &heard);
        const QZ::CalibrationFileResult result = QZ::LoadCalibrationFromFile(*target, path);
        ASSERT_TRUE(result.ok) << result.message;
        const Table source = Read(*voice), loaded = Read(*target);
        EXPECT_EQ(loaded.valid, source.valid);
        for (uint32_t i = 0; i < kLength; i += 2)
            EXPECT_EQ(loaded.values[i], source.values[i]) << "entry " << i << " read back exactly";
        EXPECT_EQ(Name(*target), path);
        EXPECT_EQ(heard, 1) << "the name's listeners are told";
        target->RemovePropertyListener(kObryProperty_CalibrationName, CountCall);
    }
}

TEST_F(CalibrationActionsTest, FailedLoadsChangeNothing)
{
    auto voice = MakeInProcess<ObryCorvaneVoiceController::ObryCorvane>(false);
    Fill(*voice, 3);
    SetName(*voice, "<Brink Calibration>");
    const Table before = Read(*voice);
    const std::string fifo = files.Path() + "/fifo.txt";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    files.WriteFile("large.txt", kHead + std::string(QZ::kMaxCalibrationFileSize, ' '));

    const struct {
        const char* name;
        std::string file; // written under the name unless empty
        std::string error;
        DialogIcon icon;
    } cases[] = {
        {"version2.txt", "Corvane Calibration Data\nversion: 2\n60 0.5\n", E::kInvalidVersion, DialogIcon::Plain},
        {"blank.txt", kHead + "60 0.5\n\n", std::string(E::kParseLine) + "\"\n\"", DialogIcon::Plain},
        {"nan.txt", kHead + "60 0.5\n61 nan\n", E::kValueRange, DialogIcon::Plain},
        {"range.txt", kHead + "3 1.5\n", E::kValueRange, DialogIcon::Plain},
        {"index.txt", kHead + "-1 0.5\n", E::kIndexRange, DialogIcon::Plain},
        {"index129.txt", kHead + "129 0.5\n", E::kIndexRange, DialogIcon::Plain},
        {"png.txt", std::string("\x89PNG\r\n\x1a\n\0\0", 10), E::kNotText, DialogIcon::Plain},
        {"large.txt", "", E::kTooLarge, DialogIcon::Plain},
        {"missing.txt", "", "Could not load file", DialogIcon::Error},
        {"fifo.txt", "", "Could not load file", DialogIcon::Error}, // refused, not waited on
        {"", "", "Could not load file", DialogIcon::Error},        // the folder itself
    };
    for (const auto& c : cases) {
        if (!c.file.empty())
            files.WriteFile(c.name, c.file);
        const QZ::CalibrationFileResult result = QZ::LoadCalibrationFromFile(*voice, files.Path() + "/" + c.name);
        EXPECT_FALSE(result.ok) << c.name;
        EXPECT_EQ(result.message, c.error) << c.name;
        EXPECT_EQ(result.icon, c.icon) << c.name;
        EXPECT_TRUE(Read(*voice) == before) << c.name;
        EXPECT_EQ(Name(*voice), "<Brink Calibration>") << c.name;
    }
}

TEST_F(CalibrationActionsTest, LoadMarksOnlyTheGivenEntriesValid)
{
    auto soundplane = MakeInProcess<ObryCorvaneSoundplane::ObryCorvane>();
    Fill(*soundplane, 1); // everything valid before
    files.WriteFile("two.txt", kHead + "72 0.5\r\n60 0.25\r\n");
    ASSERT_TRUE(QZ::LoadCalibrationFromFile(*soundplane, files.Path() + "/two.txt").ok);
    const Table table = Read(*soundplane);
    for (uint32_t i = 0; i < kLength; ++i)
        EXPECT_EQ(table.valid[i], i == 60 || i == 72 ? 1 : 0) << i;
    EXPECT_FLOAT_EQ(table.values[66], 0.375f);
    EXPECT_EQ(table.values[84], 0.5f);
    EXPECT_EQ(table.values[48], 0.25f);
}

TEST_F(CalibrationActionsTest, FailedSaveKeepsTheFileThatWasThere)
{
    auto voice = MakeInProcess<ObryCorvaneVoiceController::ObryCorvane>(false);
    const std::string path = files.Path() + "/cal.txt";
    const std::string good = kHead + "60 0.25000000\n";
    files.WriteFile("cal.txt", good);
    Fill(*voice, 1); // 129 lines: far more than the limit below lets through

    // The file system refuses to take more than 200 bytes from this process.
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 200;
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const QZ::CalibrationFileResult result = QZ::SaveCalibrationToFile(*voice, path);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Could not save file");
    EXPECT_EQ(result.icon, DialogIcon::Error);
    EXPECT_EQ(ReadText(path), good);
    EXPECT_EQ(FolderEntries(files.Path()), std::vector<std::string>{"cal.txt"}) << "no half-written file left";

    EXPECT_FALSE(QZ::SaveCalibrationToFile(*voice, files.Path() + "/no/such/folder/cal.txt").ok);
}

TEST_F(CalibrationActionsTest, QuantizerLoad)
{
    auto quantizer = MakeInProcess<ObryCorvaneQuantizer::ObryCorvane>();
    files.WriteFile("q.txt", kHead + "129 0.5\n3 -0.25\n7 0.25\n9 0.25\n11 0.25\n");
    std::string tooMany = kHead;
    for (int i = 0; i < 130; ++i)
        tooMany += std::to_string(i % 100) + " " + std::to_string(i / 200.0) + "\n";
    files.WriteFile("many.txt", tooMany);

    const std::string path = files.Path() + "/q.txt";
    ASSERT_TRUE(QZ::LoadQuantizerCalibrationFromFile(*quantizer, path).ok);
    const QuantizerCalibration loaded = quantizer->HostCalibration();
    ASSERT_EQ(loaded.count, 3u);
    EXPECT_EQ(std::vector<float>(loaded.levels, loaded.levels + 3), (std::vector<float>{-0.25f, 0.25f, 0.5f}));
    EXPECT_EQ(std::vector<int32_t>(loaded.notes, loaded.notes + 3), (std::vector<int32_t>{3, 11, 129}));
    EXPECT_EQ(quantizer->CalibrationName(), path);

    const QZ::CalibrationFileResult result =
        QZ::LoadQuantizerCalibrationFromFile(*quantizer, files.Path() + "/many.txt");
    EXPECT_EQ(result.message, E::kTooManySteps);
    EXPECT_EQ(quantizer->HostCalibration().count, 3u);
    EXPECT_EQ(quantizer->CalibrationName(), path);
}

TEST_F(CalibrationActionsTest, TransferCopiesFromTheFirstNamedInstance)
{
    auto target = MakeInProcess<ObryCorvaneSoundplane::ObryCorvane>();
    auto unnamed = MakeInProcess<ObryCorvaneVoiceController::ObryCorvane>(false);
    Fill(*unnamed, 5);
    const Table empty = Read(*target);
    EXPECT_FALSE(QZ::TransferCalibrationFrom(*target)) << "no instance has a named calibration";
    EXPECT_TRUE(Read(*target) == empty);

    auto named = MakeInProcess<ObryCorvaneVoiceController::ObryCorvane>(false);
    Fill(*named, 4);
    SetName(*named, "/home/user/cal.txt");
    int heard = 0;
    target->AddPropertyListener(kObryProperty_CalibrationName, CountCall, &heard);
    ASSERT_TRUE(QZ::TransferCalibrationFrom(*target));
    EXPECT_TRUE(Read(*target) == Read(*named));
    EXPECT_EQ(Name(*target), "<Voice Controller Calibration>");
    EXPECT_EQ(heard, 1);
    target->RemovePropertyListener(kObryProperty_CalibrationName, CountCall);

    named.reset(); // closed: no longer a source
    Fill(*target, 1);
    const Table mine = Read(*target);
    EXPECT_FALSE(QZ::TransferCalibrationFrom(*target));
    EXPECT_TRUE(Read(*target) == mine);
}

TEST_F(CalibrationActionsTest, ButtonsAskForAFileAndShowFailures)
{
    auto voice = MakeInProcess<ObryCorvaneVoiceController::ObryCorvane>(false);
    QZ::Manager manager(voice.get());
    EXPECT_FALSE(QZ::LoadCalibrationFile(manager)) << "no open editor";
    QZ::DialogSession session(&manager, 0);
    files.WriteFile("bad.txt", kHead + "3 1.5\n");
    files.WriteFile("good.txt", kHead + "60 0.5\n");
    const std::string saved = files.Path() + "/saved";
    ScopedScriptedDialogs script({{false, "", -1},
                                  {true, files.Path() + "/bad.txt", -1},
                                  {true, "", -1}, // the error message's OK
                                  {true, files.Path() + "/good.txt", -1},
                                  {true, saved, -1}});
    auto press = [&](bool (*action)(QZ::Manager&)) {
        ASSERT_TRUE(action(manager));
        while (session.Busy())
            session.Poll();
    };
    press(QZ::LoadCalibrationFile); // cancelled
    press(QZ::LoadCalibrationFile); // bad
    press(QZ::LoadCalibrationFile); // good
    press(QZ::SaveCalibrationFile);

    const auto requests = script.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].kind, DialogKind::OpenFile);
    EXPECT_EQ(requests[0].title, "Please choose a calibration file");
    ASSERT_EQ(requests[0].filters.size(), 2u);
    EXPECT_EQ(requests[0].filters[0].name, "Text Files (*.txt)");
    EXPECT_EQ(requests[0].filters[0].pattern, "*.txt");
    EXPECT_EQ(requests[2].kind, DialogKind::Message);
    EXPECT_EQ(requests[2].title, "Error");
    EXPECT_EQ(requests[2].text, E::kValueRange);
    EXPECT_EQ(requests[4].kind, DialogKind::SaveFile);
    EXPECT_EQ(Name(*voice), files.Path() + "/good.txt");
    EXPECT_EQ(ReadText(saved + ".txt"), kHead + "60 0.50000000\n") << "the default extension is added";
}

} // namespace
