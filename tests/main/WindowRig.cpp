#include "WindowRig.h"
#include "support/ChannelAppend.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QThread>
#include <fstream>
#include <iterator>

namespace ostrel::test {

std::vector<std::string> TestWindow::kinds() const {
    std::vector<std::string> result;
    for (const Shown& entry : shown)
        result.push_back(entry.kind);
    return result;
}

void TestWindow::showMessage(const QString& text) {
    shown.push_back({"message", text});
    if (realModals)
        Tmain_f::showMessage(text);
}

void TestWindow::showErrorReport(const QString& text) {
    shown.push_back({"error", text});
    if (realModals)
        Tmain_f::showErrorReport(text);
}

void TestWindow::showConfigModal() {
    shown.push_back({"modal dialog", {}});
    if (realModals)
        Tmain_f::showConfigModal();
}

WindowRig::WindowRig() = default;

WindowRig::~WindowRig() {
    finish();
}

void WindowRig::writeConfig(const std::vector<std::string>& lines) const {
    std::ofstream out(configFile(), std::ios::binary | std::ios::trunc);
    out << "[RDPOstrel]\r\n";
    for (const std::string& line : lines)
        out << line << "\r\n";
}

std::string WindowRig::readConfig() const {
    std::ifstream in(configFile(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TestWindow& WindowRig::create() {
    if (!m_window) {
        Tmain_f::Setup setup{configFile(), eventFolder(),
                             [this](Operator&) {
                                 return std::make_unique<ForwardingFirewall>(recorder, [this] {
                                     if (onAddRule)
                                         onAddRule();
                                 });
                             },
                             [] { return std::string("127.0.0.1"); }};
        m_window = std::make_unique<TestWindow>(std::move(setup));
    }
    return *m_window;
}

TestWindow& WindowRig::start() {
    TestWindow& window = create();
    window.show();
    pumpEvents();
    return window;
}

void WindowRig::finish() {
    if (!m_window)
        return;
    m_window->close();
    m_window.reset();
    pumpEvents();
}

void WindowRig::destroy() {
    m_window.reset();
    pumpEvents();
}

std::vector<std::string> goodConfig(const TestTables& tables) {
    std::vector<std::string> config = tables.configLines(TestServer::get().host);
    config.push_back("Report=FALSE");
    // The tests feed the channel file, on Windows too, where the event log is the default.
    config.push_back("EventSource=channel");
    return config;
}

QStringList paneLines(const QString& text, bool withoutTime) {
    if (text.isEmpty())
        return {};
    QStringList lines = text.split('\n');
    if (withoutTime) {
        // The C locale's short date and long time, as the tests run under it.
        static const QRegularExpression stamp(R"(^\d\d/\d\d/\d\d( \d\d:\d\d:\d\d)?)");
        for (QString& line : lines)
            line.remove(stamp);
    }
    return lines;
}

QStringList logMessages(Tmain_f& window) {
    return paneLines(window.Log->toPlainText());
}

QStringList clearlogMessages(Tmain_f& window) {
    return paneLines(window.Clearlog->toPlainText());
}

bool passEnded(Tmain_f& window, std::chrono::milliseconds timeout) {
    return waitUntil([&] { return !window.passRunning(); }, timeout);
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

void pumpEvents() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

std::int64_t WindowRig::appendFailedLogons(const std::vector<std::vector<std::string>>& insertionStrings) const {
    return test::appendFailedLogons(eventFolder(), insertionStrings);
}

} // namespace ostrel::test
