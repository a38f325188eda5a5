#pragma once

#include "blocking/AbuseReport.h"
#include "blocking/OperationContext.h"
#include "config/IniFile.h"
#include "platform/FirewallCommand.h"
#include "settings/Settings.h"
#include "support/RecordingFirewallCommand.h"
#include "support/RecordingOperator.h"
#include "support/TempFolder.h"
#include "support/TestDatabase.h"

namespace ostrel::test {

// Everything an operation runs with, as the window would own it: live settings pointing
// at a test's own tables, a Config.ini in a temporary folder, a recording operator and a
// recording firewall command. The abuse report is off unless a test turns it on.
struct TestContext {
    explicit TestContext(const TestTables* tables = nullptr, platform::FirewallCommand* firewall = nullptr)
        : ini(folder / "Config.ini"),
          report(settings, op), context{settings, ini, op, firewall ? *firewall : recordingFirewall, report} {
        settings.set(&SettingsValues::Report, false);
        // As a configuration load without a file leaves it.
        settings.set(&SettingsValues::LastRecord, std::string("0"));
        if (tables)
            tables->applyTo(settings);
    }

    TempFolder folder;
    Settings settings;
    IniFile ini;
    RecordingOperator op;
    RecordingFirewallCommand recordingFirewall;
    AbuseReport report;
    OperationContext context;
};

} // namespace ostrel::test
