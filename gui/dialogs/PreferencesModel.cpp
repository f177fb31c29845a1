#include "gui/dialogs/PreferencesModel.h"

#include <cctype>

#include "framework/CFType.h"
#include "framework/OSCBasePort.h"
#include "framework/ObryProperties.h"
#include "gui/toolkit/Manager.h"
#include "platform/NumberText.h"
#include "platform/Preferences.h"
#include "platform/Spawn.h"
#include "platform/UserFolders.h"

namespace QZ {

namespace {

constexpr int kVersionMajor = 2;
constexpr int kVersionMinor = 1;
constexpr int kVersionDot = 0;

constexpr const char* kPrefPort = "OSC Base Port";
constexpr const char* kPrefEyeCandy = "Enable eye candy";
constexpr const char* kPrefConstantRedraw = "Enable constant redraw";
constexpr const char* kPrefFloatingTooltip = "Enable floating tooltip";
constexpr const char* kPrefArrangement = "VC output arrangement";
constexpr int32_t kMaxPort = 65535;

} // namespace

PreferencesModel::PreferencesModel(ObryAuBase* plugin) : plugin(plugin)
{
    productText = Product();
    versionText = std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
                  std::to_string(kVersionDot);
    portText = std::to_string(ObryOSC::BasePort());
    const int32_t chosen = corvane::ReadPrefInt(kPrefArrangement, kDefaultArrangement);
    arrangement = chosen >= 0 && chosen < static_cast<int32_t>(kArrangements.size()) ? chosen : -1;

    // "Default" first, then the skins found; the preference selects one of
    // them by name, and a skin that is gone leaves "Default" selected.
    std::string preferred;
    corvane::ReadSkinPref(preferred);
    skins.push_back(kDefaultSkin);
    for (const std::string& skin : corvane::EnumerateSkins(productText)) {
        if (!preferred.empty() && skin == preferred)
            selectedSkin = static_cast<int>(skins.size());
        skins.push_back(skin);
    }
}

std::string PreferencesModel::Product() const
{
    const char* product = ObryPropertyText(plugin, kObryProperty_ProductName);
    return *product ? product : "Corvane";
}

bool PreferencesModel::EyeCandy() const
{
    return Manager::EyeCandyEnabled();
}

bool PreferencesModel::ConstantRedraw() const
{
    return Manager::ConstantRedrawEnabled();
}

bool PreferencesModel::FloatingTooltip() const
{
    return Manager::FloatingTooltipEnabled();
}

void PreferencesModel::SetPortText(const std::string& text)
{
    portText.clear();
    for (char c : text)
        if (std::isdigit(static_cast<unsigned char>(c)) && portText.size() < kMaxPortTextLength)
            portText += c;
}

void PreferencesModel::ToggleEyeCandy()
{
    const bool enabled = !Manager::EyeCandyEnabled();
    Manager::SetEyeCandyEnabled(enabled);
    corvane::WritePrefInt(kPrefEyeCandy, enabled ? 1 : 0);
}

void PreferencesModel::ToggleConstantRedraw()
{
    const bool enabled = !Manager::ConstantRedrawEnabled();
    Manager::SetConstantRedrawEnabled(enabled);
    corvane::WritePrefInt(kPrefConstantRedraw, enabled ? 1 : 0);
}

void PreferencesModel::ToggleFloatingTooltip()
{
    const bool enabled = !Manager::FloatingTooltipEnabled();
    Manager::SetFloatingTooltipEnabled(enabled);
    corvane::WritePrefInt(kPrefFloatingTooltip, enabled ? 1 : 0);
}

void PreferencesModel::ChooseSkin(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= skins.size())
        return;
    selectedSkin = index;
    const std::string name = index == 0 ? std::string() : skins[static_cast<size_t>(index)];
    corvane::WriteSkinPref(name);
    if (plugin) {
        // Offered as a reference the plug-in may keep; ours goes afterwards.
        CFString* offered = new CFString(name.c_str());
        offered->Retain();
        plugin->SetProperty(kObryProperty_SkinName, 0, 0, &offered, sizeof offered);
        offered->Release();
    }
}

void PreferencesModel::ChooseArrangement(int index)
{
    if (index < 0 || index >= static_cast<int>(kArrangements.size()))
        return;
    arrangement = index;
    corvane::WritePrefInt(kPrefArrangement, index);
}

bool PreferencesModel::OpenSkinFolder()
{
    corvane::CreateUserFolders(productText);
    return corvane::platform::OpenFolder(corvane::GetSkinsFolder(productText));
}

bool PreferencesModel::VisitMakerSite()
{
    return corvane::platform::OpenUrl(kMakerAddress);
}

void PreferencesModel::Ok()
{
    int32_t port = 0;
    if (!corvane::platform::ParseInt(portText, port) || port < 1 || port > kMaxPort)
        return;
    corvane::WritePrefInt(kPrefPort, port);
    ObryOSC::SetBasePort(port);
    if (plugin) {
        const uint8_t reapply = 1;
        plugin->SetProperty(kObryProperty_ReapplyPortOffset, 0, 0, &reapply, sizeof reapply);
    }
}

} // namespace QZ
