#pragma once

#include "common/Operator.h"
#include "config/qt/Tconfig_f.h"
#include "main/Tmain_f.h"
#include "platform/FirewallCommand.h"
#include "settings/Settings.h"
#include "support/RecordingFirewallCommand.h"
#include "support/TempFolder.h"
#include "support/TestDatabase.h"

#include <QString>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::test {

// The operator window with its message boxes and its modal dialog recorded instead of shown,
// unless a test asks for the real ones.
class TestWindow : public Tmain_f {
public:
    using Tmain_f::Tmain_f;

    struct Shown {
        std::string kind; // "message", "error" or "modal dialog"
        QString text;
    };
    std::vector<Shown> shown;
    bool realModals = false;

    std::vector<std::string> kinds() const;

protected:
    void showMessage(const QString& text) override;
    void showErrorReport(const QString& text) override;
    void showConfigModal() override;
};

// A firewall command that hands every call to a recorder the test keeps, and may run a
// test's own step when a rule is added.
class ForwardingFirewall : public platform::FirewallCommand {
public:
    ForwardingFirewall(RecordingFirewallCommand& target, std::function<void()> onAdd)
        : m_target(target), m_onAdd(std::move(onAdd)) {}
    void addRule(const std::string& ruleName, const std::string& address) override {
        m_target.addRule(ruleName, address);
        if (m_onAdd)
            m_onAdd();
    }
    void deleteRule(const std::string& ruleName, const std::string& address) override {
        m_target.deleteRule(ruleName, address);
    }
    void drain() override { ++drained; }
    std::vector<std::string> blockedAddresses() override { return m_target.blockedAddresses(); }
    int drained = 0;

private:
    RecordingFirewallCommand& m_target;
    std::function<void()> m_onAdd;
};

// A folder with a Config.ini and an event channel folder, and the window made over them.
class WindowRig {
public:
    WindowRig();
    ~WindowRig();

    std::filesystem::path configFile() const { return m_folder / "Config.ini"; }
    std::filesystem::path eventFolder() const { return m_folder / "Eventlog"; }
    // Appends one failed logon per entry (its insertion strings) to the channel; the number of
    // the last record appended.
    std::int64_t appendFailedLogons(const std::vector<std::vector<std::string>>& insertionStrings) const;
    // Writes Config.ini with these lines under [RDPOstrel], each ended by CR LF.
    void writeConfig(const std::vector<std::string>& lines) const;
    std::string readConfig() const;

    // Makes the window (not shown yet).
    TestWindow& create();
    // Makes the window if needed, shows it and lets its start-up run.
    TestWindow& start();
    // Closes and destroys the window, as at program end.
    void finish();
    // Destroys the window without asking it to close first.
    void destroy();
    TestWindow& window() { return *m_window; }

    RecordingFirewallCommand recorder;
    // Runs whenever the window's firewall command is asked to add a rule (on that thread).
    std::function<void()> onAddRule;

private:
    TempFolder m_folder;
    std::unique_ptr<TestWindow> m_window;
};

// Connection lines for the test server and a pair of tables of the test's own; the window reads
// the rig's channel file.
std::vector<std::string> goodConfig(const TestTables& tables);

// A test of the window started over tables of its own with a good configuration; skipped
// without a test database.
class StartedWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        OSTREL_REQUIRE_TEST_DB();
        m_tables.emplace();
    }

    // Writes the good configuration, `extraLines` after it, and starts the window.
    TestWindow& start(const std::vector<std::string>& extraLines = {}) {
        std::vector<std::string> config = goodConfig(*m_tables);
        config.insert(config.end(), extraLines.begin(), extraLines.end());
        m_rig.writeConfig(config);
        return m_rig.start();
    }
    TestTables& tables() { return *m_tables; }
    WindowRig& rig() { return m_rig; }

private:
    std::optional<TestTables> m_tables;
    WindowRig m_rig; // the window goes before its tables
};

// The lines of a pane; with `withoutTime`, each line's leading date and time are taken off.
QStringList paneLines(const QString& text, bool withoutTime = true);
QStringList logMessages(Tmain_f& window);
QStringList clearlogMessages(Tmain_f& window);

// Lets the event loop run until the condition holds or the time is up.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Handles what is queued for the event loop now.
void pumpEvents();
// Lets the event loop run until the window's guard pass (on its own thread) has ended and the
// window has taken its end: its lines shown, its error reported.
bool passEnded(Tmain_f& window, std::chrono::milliseconds timeout = std::chrono::seconds(60));

} // namespace ostrel::test
