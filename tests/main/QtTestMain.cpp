// Runs the window tests under a QApplication on the offscreen platform, with one screen
// of 1920 × 1080 at 96 pixels per inch, whatever the machine's display.
#include "support/TestDatabase.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QTemporaryFile>
#include <clocale>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

QtMessageHandler standardHandler = nullptr;

// The offscreen platform says what it cannot do, once per window; that is no news to a test.
void quietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith("This plugin does not support"))
        return;
    if (standardHandler)
        standardHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The client library reads the socket of "localhost" once, when it is first used: the test
    // server's socket must be named before any test makes a connection, also one that fails.
    ostrel::test::TestServer::get();

    // The platform's arguments are separated by colons, so the file's name may hold none (on
    // Windows every full path has one after its drive letter): the file lies in the working
    // folder and goes by its relative name.
    QTemporaryFile screens("ostrel-offscreen-XXXXXX.json");
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen") {
        screens.open();
        screens.write(R"({"synchronousWindowSystemEvents": false, "windowFrameMargins": false,
            "screens": [{"name": "Test", "x": 0, "y": 0, "width": 1920, "height": 1080,
                         "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        screens.flush();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" +
                QDir::current().relativeFilePath(screens.fileName()).toLocal8Bit());
    }
    standardHandler = qInstallMessageHandler(quietOffscreen);
    QApplication application(argc, argv);
    // Log lines in the C locale's date and time, which the tests take off again.
    std::setlocale(LC_ALL, "C");
    return RUN_ALL_TESTS();
}
