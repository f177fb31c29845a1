// Every entry's editor opened in a host window under X and drawn by its
// render thread: written as a PNG into the build folder for a person to
// look at, and checked for a script error and for the panel's grey at the
// corners (nothing draws over the window's edge).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "framework/vst/VstAbi.h"
#include "gui/editor/ObryCorvaneView.h"
#include "gui/luagui/PluginLuaGui.h"
#include "gui/toolkit/Manager.h"
#include "module/PluginFactory.h"
#include "plugins/base/ObryCorvaneBase.h"
#include "tests/gui/HostWindow.h"
#include "tests/gui/Screenshot.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using corvane::test::HostWindow;
using corvane::test::Image;

int32_t gCurrentId = 0;

intptr_t FactoryHost(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
{
    if (opcode == audioMasterCurrentId)
        return gCurrentId;
    return corvane::test::InProcessHost(effect, opcode, index, value, ptr, opt);
}

class EditorScreenshots : public ::testing::TestWithParam<const char*> {
protected:
    corvane::test::ScopedUserFolders folders;
};

TEST_P(EditorScreenshots, DrawWithoutScriptErrors)
{
    REQUIRE_DISPLAY();
    const std::string id = GetParam();
    gCurrentId = 0;
    for (char c : id)
        gCurrentId = gCurrentId << 8 | static_cast<uint8_t>(c);
    auto* plugin = dynamic_cast<ObryCorvaneBase*>(createEffectInstance(FactoryHost));
    ASSERT_TRUE(plugin);
    auto* view = dynamic_cast<ObryCorvaneView*>(plugin->getEditor());
    ASSERT_TRUE(view);
    ERect* rect = nullptr;
    ASSERT_TRUE(view->getRect(&rect));
    const int width = rect->right, height = rect->bottom;
    {
        HostWindow host(width, height, 0x00FF00);
        ASSERT_TRUE(view->open(host.Handle()));
        ASSERT_TRUE(view->LuaGui());
        EXPECT_TRUE(view->LuaGui()->Errors().empty()) << view->LuaGui()->LastError();
        const Window child = host.Child();
        ASSERT_NE(child, 0u);
        ASSERT_TRUE(corvane::test::WaitFor([&] {
            view->idle();
            return view->GetManager()->FramesDrawn() >= 3;
        }));
        Image image;
        ASSERT_TRUE(corvane::test::Capture(host.Connection(), child, image));
        std::string file = id;
        for (char& c : file)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        EXPECT_TRUE(corvane::test::WritePng(image, corvane::test::ScreenshotDir() + "/editor_" + file + ".png"));
        EXPECT_EQ(image.width, width);
        EXPECT_EQ(image.height, height);
        for (auto [x, y] : {std::pair{0, 0}, {width - 1, 0}, {0, height - 1}, {width - 1, height - 1}}) {
            const uint8_t* p = image.At(x, y);
            EXPECT_NEAR(p[0], 102, 3) << x << "," << y;
            EXPECT_NEAR(p[1], 102, 3) << x << "," << y;
        }
        view->close();
    }
    plugin->close();
    delete plugin;
}

INSTANTIATE_TEST_SUITE_P(Entries, EditorScreenshots,
                         ::testing::Values("QZs0", "QZs1", "QZs2", "QZs3", "QZs4", "QZs5", "QZs6", "QZs7", "QZs8",
                                           "QZs9", "QZsa", "QZsb", "QZsc", "QZsd", "QZse", "QZsf", "QZs(", "QZsg",
                                           "QZsh", "QZsi", "QZsj", "QZsk", "QZsl", "QZsm", "QZsn"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

} // namespace
