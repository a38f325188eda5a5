#include "common/ErrorReport.h"

#include "ModalCloser.h"
#include "WindowRig.h"
#include "common/Errors.h"
#include "config/qt/Tconfig_f.h"
#include "main/VisualStyle.h"

#include <QApplication>
#include <QLineEdit>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

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
    EXPECT_EQ(closer.seen[0].text, "'' ist kein gültiger Integerwert.");
    EXPECT_EQ(closer.seen[0].icon, QMessageBox::Critical);
    EXPECT_EQ(closer.seen[0].buttons, 1);
    EXPECT_TRUE(window.isVisible()) << "the program goes on";
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
