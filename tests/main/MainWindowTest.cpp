#include "WindowRig.h"
#include "widgets/UpDown.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

struct Placed {
    const char* name;
    QRect laidOut;
    QRect grown; // in a client area 200 wider and 100 higher
    QString caption;
};

const std::vector<Placed> Controls = {
    {"BTN_Timer", {160, 25, 446, 25}, {160, 25, 646, 25}, "Start timer"},
    {"Log", {8, 56, 598, 342}, {8, 56, 798, 442}, ""},
    {"Debug", {667, 2, 71, 17}, {867, 2, 71, 17}, "Debug"},
    {"DetailLog", {590, 2, 71, 17}, {790, 2, 71, 17}, "Detail Log"},
    {"PG", {8, 560, 730, 25}, {8, 660, 930, 25}, ""},
    {"Button1", {8, 25, 129, 25}, {8, 25, 129, 25}, "Single pass"},
    {"BTN_ClearLog", {8, 404, 598, 21}, {8, 504, 798, 21}, "Reset log display"},
    {"tarpit", {612, 56, 125, 471}, {812, 56, 125, 571}, ""},
    {"btn_honeypot", {612, 25, 125, 25}, {812, 25, 125, 25}, "Start Honeypot"},
    {"TarpitPort", {681, 533, 39, 21}, {881, 633, 39, 21}, "3389"},
    {"TarpitPortNumber", {720, 533, 17, 21}, {920, 633, 17, 21}, ""},
    {"Button2", {612, 533, 63, 21}, {812, 633, 63, 21}, "Kick"},
    {"Clearlog", {8, 431, 598, 96}, {8, 531, 798, 96}, ""},
    {"Button3", {8, 533, 598, 21}, {8, 633, 798, 21}, "Reset log display"},
};

QString captionOf(QWidget* control) {
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    if (auto* field = qobject_cast<QLineEdit*>(control))
        return field->text();
    return "";
}

// Resizes the window so that its client area (below the menu) gets the size.
void resizeClient(Tmain_f& window, QSize client) {
    const QSize extra = window.size() - window.centralWidget()->size();
    window.resize(client + extra);
    pumpEvents();
}

TEST(MainWindow, ControlsCaptionsAndAnchoring) {
    WindowRig rig;
    TestWindow& window = rig.start();
    EXPECT_EQ(window.windowTitle(), "RDP-Ostrel");
    EXPECT_EQ(window.centralWidget()->size(), QSize(747, 593)) << "the laid-out client area";

    for (const Placed& control : Controls) {
        auto* widget = window.centralWidget()->findChild<QWidget*>(control.name);
        ASSERT_NE(widget, nullptr) << control.name;
        EXPECT_EQ(widget->geometry(), control.laidOut) << control.name;
        EXPECT_EQ(captionOf(widget), control.caption) << control.name;
    }
    resizeClient(window, QSize(947, 693));
    for (const Placed& control : Controls)
        EXPECT_EQ(window.centralWidget()->findChild<QWidget*>(control.name)->geometry(), control.grown) << control.name;
}

TEST(MainWindow, MinimumClientSize) {
    WindowRig rig;
    TestWindow& window = rig.start();
    const QSize tries[] = {{300, 300}, {600, 100}, {100, 700}};
    for (const QSize& size : tries) {
        resizeClient(window, size);
        EXPECT_GE(window.centralWidget()->width(), Tmain_f::MinimumClientWidth) << size.width() << "x" << size.height();
        EXPECT_GE(window.centralWidget()->height(), Tmain_f::MinimumClientHeight)
            << size.width() << "x" << size.height();
    }
    resizeClient(window, QSize(565, 580));
    EXPECT_EQ(window.centralWidget()->size(), QSize(565, 580));
}

TEST(MainWindow, MenuAndTabOrder) {
    WindowRig rig;
    TestWindow& window = rig.create();
    const QList<QAction*> menus = window.menuBar()->actions();
    ASSERT_EQ(menus.size(), 1);
    EXPECT_EQ(menus[0]->text(), "Program");
    QStringList items;
    for (const QAction* item : menus[0]->menu()->actions())
        items << item->text();
    EXPECT_EQ(items, (QStringList{"Configuration", "Exit"}));

    const QStringList order = {"BTN_Timer", "Log",          "Debug",      "DetailLog", "Button1",  "BTN_ClearLog",
                               "tarpit",    "btn_honeypot", "TarpitPort", "Button2",   "Clearlog", "Button3"};
    QWidget* at = window.BTN_Timer;
    for (int i = 1; i < order.size(); ++i) {
        QWidget* next = at->nextInFocusChain();
        while (next && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        ASSERT_NE(next, nullptr);
        EXPECT_EQ(next->objectName(), order[i]) << "after " << order[i - 1].toStdString();
        at = next;
    }
}

TEST(MainWindow, StartsWithEverythingOff) {
    WindowRig rig;
    TestWindow& window = rig.create();
    EXPECT_FALSE(window.Debug->isChecked());
    EXPECT_FALSE(window.DetailLog->isChecked());
    EXPECT_FALSE(window.op().debug());
    EXPECT_FALSE(window.Timer->isActive());
    EXPECT_FALSE(window.pit().active());
    EXPECT_EQ(window.PG->minimum(), 0);
    EXPECT_EQ(window.PG->maximum(), 100);
    EXPECT_EQ(window.TarpitPortNumber->position(), 3389);

    window.Debug->setChecked(true);
    window.DetailLog->setChecked(true);
    EXPECT_TRUE(window.op().debug());
    EXPECT_TRUE(window.op().detailLog());
}

struct ResetCase {
    const char* name;
    QPushButton* Tmain_f::*button;
    QPlainTextEdit* Tmain_f::*reset;
    QPlainTextEdit* Tmain_f::*untouched;
};

TEST(MainWindow, ResetButtonsClearTheirPaneOnly) {
    const ResetCase cases[] = {
        {"under Log", &Tmain_f::BTN_ClearLog, &Tmain_f::Log, &Tmain_f::Clearlog},
        {"under Clearlog", &Tmain_f::Button3, &Tmain_f::Clearlog, &Tmain_f::Log},
    };
    for (const ResetCase& c : cases) {
        SCOPED_TRACE(c.name);
        WindowRig rig;
        TestWindow& window = rig.start();
        window.op().log(Pane::Clearlog, " - Firewallentry 203.0.113.4 deleted.");
        const QString kept = (window.*c.untouched)->toPlainText();
        ASSERT_FALSE(kept.isEmpty());

        (window.*c.button)->click();

        const QStringList lines = paneLines((window.*c.reset)->toPlainText(), false);
        ASSERT_EQ(lines.size(), 1);
        EXPECT_TRUE(lines[0].endsWith(" - Log display reset."));
        EXPECT_NE(lines[0], " - Log display reset.") << "with its date and time";
        EXPECT_EQ((window.*c.untouched)->toPlainText(), kept);
    }
}

TEST(MainWindow, PanesKeepEveryLine) {
    WindowRig rig;
    TestWindow& window = rig.create();
    for (int i = 0; i < 5000; ++i)
        window.op().logPlain(Pane::Log, "line " + std::to_string(i));
    EXPECT_EQ(window.Log->document()->blockCount(), 5000);
    EXPECT_EQ(window.Log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST(MainWindow, ExitEndsTheEventLoop) {
    WindowRig rig;
    TestWindow& window = rig.start();
    window.Konfiguration1Click();
    ASSERT_TRUE(window.config_f().isVisible());

    QTimer::singleShot(0, &window, [&] { window.Beenden1->trigger(); });
    QTimer deadline; // a loop that never ends fails the test instead of hanging it
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    deadline.start(10000);
    EXPECT_EQ(QApplication::exec(), 0) << "the shown dialog does not keep the program alive";
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.config_f().isVisible());
    EXPECT_NE(rig.readConfig().find("[Layout]"), std::string::npos) << "the placement is saved";
}

} // namespace
} // namespace ostrel::test
