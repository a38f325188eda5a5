#include "WindowRig.h"
#include "config/IniFile.h"
#include "config/qt/WindowPlacement.h"

#include <QApplication>
#include <QScreen>
#include <fstream>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

void appendLayout(const WindowRig& rig, const std::vector<std::string>& lines) {
    std::ofstream out(rig.configFile(), std::ios::binary | std::ios::app);
    out << "[Layout]\r\n";
    for (const std::string& line : lines)
        out << line << "\r\n";
}

TEST(Placement, SavedOnCloseAndRestoredAtTheNextStart) {
    WindowRig rig;
    TestWindow& first = rig.start();
    first.setGeometry(100, 120, 800, 650);
    pumpEvents();
    rig.finish();

    const std::string file = rig.readConfig();
    const std::string suffix = WindowPlacement::desktopSuffix();
    EXPECT_EQ(suffix, "(1920x1080)");
    const auto layout = file.find("[Layout]\r\n");
    ASSERT_NE(layout, std::string::npos);
    EXPECT_LT(file.find("[RDPOstrel]"), layout) << "the settings come first";
    EXPECT_EQ(file.substr(layout), "[Layout]\r\nFormVersion=1\r\nShowCmd=1\r\nFlags=0\r\nPixelsPerInch=96\r\n"
                                   "MinMaxPos(1920x1080)=-1,-1,-1,-1\r\nMinMaxPos=-1,-1,-1,-1\r\n"
                                   "NormPos(1920x1080)=100,120,900,770\r\nNormPos=100,120,900,770\r\n\r\n");

    TestWindow& second = rig.start();
    EXPECT_EQ(second.geometry(), QRect(100, 120, 800, 650));
}

struct RestoreCase {
    const char* name;
    std::vector<std::string> layout;
    bool rectangleApplied;
    bool maximized;
};

TEST(Placement, RestoreRules) {
    const std::vector<RestoreCase> cases = {
        {"version 1", {"FormVersion=1", "NormPos=50,60,850,760"}, true, false},
        {"version 2 is ignored", {"FormVersion=2", "ShowCmd=3", "NormPos=50,60,850,760"}, false, false},
        {"no version is ignored", {"NormPos=50,60,850,760"}, false, false},
        {"off every monitor", {"FormVersion=1", "ShowCmd=3", "NormPos=3000,3000,3800,3700"}, false, true},
        {"bottom right off the monitor", {"FormVersion=1", "NormPos=1500,500,2300,1200"}, false, false},
        {"other pixels per inch", {"FormVersion=1", "PixelsPerInch=120", "NormPos=50,60,850,760"}, false, false},
        {"left not less than right", {"FormVersion=1", "NormPos=850,60,850,760"}, false, false},
        {"the desktop's own key first",
         {"FormVersion=1", "NormPos(1920x1080)=50,60,850,760", "NormPos=400,400,1200,1100"},
         true,
         false},
        {"another desktop's key is not read",
         {"FormVersion=1", "NormPos(1024x768)=400,400,1200,1100", "NormPos=50,60,850,760"},
         true,
         false},
        {"maximised", {"FormVersion=1", "ShowCmd=3", "NormPos=50,60,850,760"}, true, true},
    };
    for (const RestoreCase& c : cases) {
        SCOPED_TRACE(c.name);
        WindowRig rig;
        rig.writeConfig({"SQLServer=db.invalid", "SQLPort=3307", "SQLDatabase=d", "SQLUsername=u", "SQLPasswort=p"});
        appendLayout(rig, c.layout);
        TestWindow& window = rig.start();
        EXPECT_EQ(window.normalGeometry() == QRect(50, 60, 800, 700), c.rectangleApplied);
        EXPECT_EQ(window.isMaximized(), c.maximized);
        EXPECT_TRUE(window.shown.empty());
        rig.finish();
        EXPECT_NE(rig.readConfig().find("FormVersion=1\r\n"), std::string::npos) << "the save writes version 1";
    }
}

TEST(Placement, MinimisedStateIsRestoredAfterTheWindowIsShown) {
    WindowRig rig;
    rig.writeConfig({"SQLServer=db.invalid", "SQLPort=3307", "SQLDatabase=d", "SQLUsername=u", "SQLPasswort=p"});
    appendLayout(rig, {"FormVersion=1", "ShowCmd=2", "NormPos=50,60,850,760"});
    TestWindow& window = rig.start();
    EXPECT_TRUE(waitUntil([&] { return window.isMinimized(); }));
    EXPECT_EQ(window.normalGeometry(), QRect(50, 60, 800, 700));
    rig.finish();
    EXPECT_NE(rig.readConfig().find("ShowCmd=2\r\n"), std::string::npos);
}

TEST(Placement, AValueThatIsNoNumberIsReportedAndTheWindowShownAnyway) {
    WindowRig rig;
    rig.writeConfig({"SQLServer=db.invalid", "SQLPort=3307", "SQLDatabase=d", "SQLUsername=u", "SQLPasswort=p"});
    appendLayout(rig, {"FormVersion=eins"});
    TestWindow& window = rig.start();
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(window.kinds(), std::vector<std::string>{"error"});
    EXPECT_EQ(window.shown[0].text, "'eins' ist kein gültiger Integerwert.");
    EXPECT_TRUE(logMessages(window).contains(" - Config loaded.")) << "the start-up still runs";
}

TEST(Placement, SavedWhenTheWindowGoesWithoutBeingClosed) {
    WindowRig rig;
    TestWindow& window = rig.start();
    window.setGeometry(30, 40, 760, 640);
    pumpEvents();
    rig.destroy();
    EXPECT_NE(rig.readConfig().find("NormPos=30,40,790,680\r\n"), std::string::npos);
}

} // namespace
} // namespace ostrel::test
