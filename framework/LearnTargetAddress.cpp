#include "framework/LearnTargetAddress.h"

#include "framework/InstanceRegistry.h"
#include "framework/ObryAuBase.h"
#include "framework/ObryProperties.h"

LearnTargetAddressTexts BuildLearnTargetAddressTexts()
{
    LearnTargetAddressTexts texts;
    texts.byName = "/obry/";
    texts.byNumber = "/obry/";

    InstanceRegistry::Lock lock;
    int32_t index = -1;
    ObryAuBase* target = InstanceRegistry::LockAndFindLearnTarget(&index, lock);
    if (!target)
        return texts;
    texts.hasTarget = true;
    // Numbers are given on the spot when the instance has none yet.
    const std::string perType = std::to_string(InstanceRegistry::InstanceNumber(target));
    const std::string processWide = std::to_string(InstanceRegistry::GlobalNumber(target));

    texts.nameLine = std::string(ObryPropertyText(target, kObryProperty_PluginName)) + " " + perType + " (" + processWide + ")";
    texts.byName += std::string(ObryPropertyText(target, kObryProperty_ShortName)) + "/" + perType + "/";
    texts.byIndex = texts.byName;
    texts.byNumber += processWide + "/";

    const ParameterInfo* info = target->GetParameterInfo(index);
    if (info) {
        const std::string name = info->name ? info->name : "";
        texts.nameLine += " : " + name;
        const std::string mapping = InstanceRegistry::DescribeMapping(target, index);
        if (!mapping.empty())
            texts.nameLine += " <- " + mapping;
        for (char c : name)
            if (c != ' ')
                texts.byName += c;
        texts.byIndex += std::to_string(index);
        texts.byNumber += std::to_string(index);
    }
    return texts;
}
