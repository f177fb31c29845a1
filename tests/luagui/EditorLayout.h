// Every shell entry and its editor as the built-in scripts lay it out, built
// in-process into a real manager (the element tree needs no window): the
// tests of the layout read it, and the tests that drive the module's editor
// through X find its controls in it.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "framework/vst/VstAbi.h"
#include "gui/luagui/PluginLuaGui.h"
#include "gui/toolkit/QJmanager.h"
#include "gui/toolkit/UIElement.h"
#include "module/PluginFactory.h"
#include "plugins/base/ObryCorvaneBase.h"
#include "tests/support/PluginTestSupport.h"

namespace corvane::test {

using QZ::Group;
using QZ::NamedGroup;
using QZ::UIElement;

inline int32_t gCurrentId = 0;

inline intptr_t FactoryHost(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
{
    if (opcode == audioMasterCurrentId)
        return gCurrentId;
    return corvane::test::InProcessHost(effect, opcode, index, value, ptr, opt);
}

inline int32_t Code(const std::string& id)
{
    int32_t code = 0;
    for (int i = 0; i < 4; ++i)
        code = code << 8 | static_cast<uint8_t>(id[static_cast<size_t>(i)]);
    return code;
}

struct Entry {
    const char* id;
    int width, height;
    // Parameters deliberately without a control (the expanders' raw MIDI
    // test bytes and unused slots).
    std::set<std::string> unreached;
};

inline void PrintTo(const Entry& entry, std::ostream* out)
{
    *out << entry.id;
}

inline const std::set<std::string> kExpanderTestBytes = {"Byte 1", "Byte 2", "Byte 3", "Bytes", "Send"};

inline std::vector<Entry> Entries()
{
    std::set<std::string> brink = kExpanderTestBytes;
    for (const char* unused : {"Unused0", "Unused1", "Unused2", "Unused3", "Unused4"})
        brink.insert(unused);
    return {
        {"QZs0", 510, 220, {}},  {"QZs1", 925, 385, {}},         {"QZs2", 733, 360, {}},
        {"QZs3", 714, 315, {}},  {"QZs4", 510, 220, {}},         {"QZs5", 550, 269, {}},
        {"QZs6", 854, 360, {}},  {"QZs7", 494, 404, {}},         {"QZs8", 786, 257, {}},
        {"QZs9", 510, 220, {}},  {"QZsa", 925, 385, {}},         {"QZsb", 410, 135, {}},
        {"QZsc", 723, 450, brink}, {"QZsd", 723, 450, brink},    {"QZse", 526, 201, {}},
        {"QZsf", 526, 201, {}},  {"QZs(", 603, 314, {}},         {"QZsg", 670, 335, kExpanderTestBytes},
        {"QZsh", 670, 335, kExpanderTestBytes}, {"QZsi", 650, 125, {}}, {"QZsj", 685, 360, {}},
        {"QZsk", 955, 300, {}},  {"QZsl", 570, 380, {}},         {"QZsm", 714, 315, {}},
        {"QZsn", 400, 400, {}},
    };
}

// One entry's plug-in with its editor built into a manager.
struct Editor {
    explicit Editor(const std::string& id)
    {
        gCurrentId = Code(id);
        plugin = dynamic_cast<ObryCorvaneBase*>(createEffectInstance(FactoryHost));
        if (!plugin)
            return;
        manager = std::make_unique<QJmanager>(plugin);
        gui = std::make_unique<QZ::PluginLuaGui>(plugin, nullptr);
        gui->setupGUI(*manager);
    }
    ~Editor()
    {
        gui.reset();
        manager.reset();
        if (plugin) {
            plugin->close();
            delete plugin;
        }
    }

    Group& Root() { return *dynamic_cast<Group*>(manager->Root()); }

    std::vector<NamedGroup*> Groups()
    {
        std::vector<NamedGroup*> groups;
        for (UIElement* child : Root().Children())
            if (auto* group = dynamic_cast<NamedGroup*>(child))
                groups.push_back(group);
        return groups;
    }
    NamedGroup* GroupNamed(const std::string& name)
    {
        for (NamedGroup* group : Groups())
            if (group->Name() == name)
                return group;
        return nullptr;
    }
    // Every element below group (not groups themselves).
    static void Leaves(Group& group, std::vector<UIElement*>& out)
    {
        for (UIElement* child : group.Children()) {
            if (auto* inner = dynamic_cast<Group*>(child))
                Leaves(*inner, out);
            else
                out.push_back(child);
        }
    }
    ObryCorvaneBase* plugin = nullptr;
    std::unique_ptr<QJmanager> manager;
    std::unique_ptr<QZ::PluginLuaGui> gui;
};

} // namespace corvane::test
