#include "common/ErrorReport.h"

#include "ModalCloser.h"
#include "WindowRig.h"
#include "common/Errors.h"
#include "config/qt/Tconfig_f.h"
#include "main/VisualStyle.h"
#include "support/TestDatabase.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

using ErrorReportStarted = StartedWindowTest;

TEST(ErrorReport, FullStopRule) {
    const std::pair<std::string, std::string> cases[] = {
        {"abc", "abc."}, {"abc.", "abc."}, {"abc!", "abc!"},      {"(x)", "(x)"},        {"", ""},     {"a/", "a/."},
        {"a-", "a-"},    {"7", "7."},      {"gültig", "gültig."}, {"ends ü", "ends ü."}, {"a,", "a,"},
    };
    for (const auto& [message, shown] : cases)
        EXPECT_EQ(withClosingFullStop(message), shown) << message;
}

TEST(ErrorReport, ShowsTheInnermostError) {
    std::exception_ptr error;
    try {
        try {
            throw EConvertError("'x' ist kein gültiger Integerwert");
        } catch (...) {
            std::throw_with_nested(std::runtime_error("loading failed"));
        }
    } catch (...) {
        error = std::current_exception();
    }
    EXPECT_EQ(errorReportText(error), "'x' ist kein gültiger Integerwert.");
    EXPECT_EQ(errorReportText(std::make_exception_ptr(42)), "Unknown error.");
}

TEST(ErrorReport, TheBoxHasTitleErrorIconAndOneOk) {
    WindowRig rig;
    TestWindow& window = rig.start();
    window.realModals = true;
    ModalCloser closer;
    window.config_f().ConfServerPort->setText("");
    window.config_f().Button1Click();

    ASSERT_EQ(closer.seen.size(), 1u);
    EXPECT_EQ(closer.seen[0].className, "QMessageBox");
    EXPECT_EQ(closer.seen[0].title, "RDP-Ostrel");
    EXPECT_EQ(closer.seen[0].text.toStdString(), "\"Port\" (ConfServerPort): '' ist kein gültiger Integerwert "
                                                 "(SQLPort takes a whole number from 0 to 65535)");
    EXPECT_EQ(closer.seen[0].icon, QMessageBox::Critical);
    EXPECT_EQ(closer.seen[0].buttons, 1);
    EXPECT_TRUE(window.isVisible()) << "the program goes on";
}

// Holds the first error box open, as an operator away from the screen would, until the window's
// timer has ticked `ticksWanted` times more (or, should it never tick, until `patience` is up),
// then clicks OK; closes every later box at once. Counts how many boxes were open at one time.
class HeldErrorBox : public QObject {
public:
    HeldErrorBox(const int& ticks, int ticksWanted, std::chrono::milliseconds patience = std::chrono::seconds(5))
        : m_ticks(ticks), m_ticksWanted(ticksWanted), m_patience(patience) {
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout, this, [this] { look(); });
        m_poll.start();
    }

    bool closed = false;
    int ticksWhileOpen = -1;
    QString text;
    int mostOpenAtOnce = 0;
    int boxes = 0;

private:
    void look() {
        int open = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(widget) && widget->isVisible())
                ++open;
        mostOpenAtOnce = std::max(mostOpenAtOnce, open);
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (box != m_current) {
            m_current = box;
            ++boxes;
            m_openedAtTick = m_ticks;
            m_openedAt = std::chrono::steady_clock::now();
            if (closed) {
                box->button(QMessageBox::Ok)->click();
                return;
            }
            text = box->text();
        }
        if (closed)
            return;
        const bool ticked = m_ticks - m_openedAtTick >= m_ticksWanted;
        if (ticked || std::chrono::steady_clock::now() - m_openedAt > m_patience) {
            ticksWhileOpen = m_ticks - m_openedAtTick;
            closed = true;
            box->button(QMessageBox::Ok)->click();
        }
    }

    const int& m_ticks;
    int m_ticksWanted;
    std::chrono::milliseconds m_patience;
    QTimer m_poll;
    QMessageBox* m_current = nullptr;
    int m_openedAtTick = 0;
    std::chrono::steady_clock::time_point m_openedAt;
};

// A release that fails inside a timer tick reaches the operator once the tick is over: the
// timer goes on ticking (and guarding) while the box waits for OK, and a pass that keeps
// failing the same way adds no second box on top.
TEST_F(ErrorReportStarted, TicksGoOnWhileAnErrorOfATickIsShown) {
    TestWindow& window = start();
    ASSERT_FALSE(window.ConfigError());
    window.realModals = true;
    // The release reads the active blocks: without their table every pass fails there.
    tables().exec("DROP TABLE " + tables().firewall());

    int ticks = 0;
    QObject::connect(window.Timer, &QTimer::timeout, [&ticks] { ++ticks; });
    HeldErrorBox operatorAway(ticks, 12);
    window.BTN_TimerClick();
    ASSERT_TRUE(window.Timer->isActive());
    window.Timer->setInterval(20); // the real timer, only faster
    window.guard().setTickCounter(4);

    ASSERT_TRUE(waitUntil([&] { return operatorAway.closed; }, std::chrono::seconds(30)));
    EXPECT_GE(operatorAway.ticksWhileOpen, 12) << "the timer stood still while the box was open";
    EXPECT_TRUE(operatorAway.text.contains(QString::fromStdString(tables().firewall())))
        << operatorAway.text.toStdString();
    EXPECT_TRUE(window.Timer->isActive());

    window.Timer->stop();
    EXPECT_TRUE(waitUntil([] { return QApplication::activeModalWidget() == nullptr; }));
    pumpEvents();
    EXPECT_EQ(operatorAway.mostOpenAtOnce, 1);
    EXPECT_LE(operatorAway.boxes, 2) << "one box for the passes that failed while it was open, one for those after";
}

TEST(VisualStyle, LightIsCarriedAndAMissingStyleIsToldByName) {
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    ASSERT_NE(application, nullptr);
    EXPECT_FALSE(applyVisualStyle(*application, "Dark"));
    EXPECT_TRUE(missingStyleMessage("Dark").contains("\"Dark\""));
    EXPECT_TRUE(applyVisualStyle(*application, "Light"));
    EXPECT_FALSE(application->styleSheet().isEmpty());
    application->setStyleSheet({});
}

} // namespace
} // namespace ostrel::test
