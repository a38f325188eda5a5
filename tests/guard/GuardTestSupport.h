#pragma once

#include "config/IniFile.h"
#include "guard/GetEventlog.h"
#include "guard/GuardTimer.h"
#include "platform/EventSource.h"
#include "platform/portable/ChannelFileSource.h"
#include "platform/portable/ChannelFileWriter.h"
#include "settings/Settings.h"
#include "support/TempFolder.h"
#include "support/TestContext.h"
#include "support/TestDatabase.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ostrel::test {

// A pass without a bar to move.
class NoProgress : public PassProgress {
    void setMaximum(int) override {}
    void stepIt() override {}
    void reset() override {}
};

// One more guard on the test's tables: its own Config.ini, operator and channel.
struct OtherGuard {
    explicit OtherGuard(const TestTables& tables, const std::string& machine) : ctx(&tables) {
        ctx.settings.set(&SettingsValues::BlockInvalidUser, false);
        ctx.ini.WriteString("Machine", machine);
    }
    void scan(platform::EventSource& source) {
        GetEventlog(ctx.context, source, ctx.settings.get(&SettingsValues::LastRecord));
    }
    TestContext ctx;
};

// A channel file of the test's own: the writer that feeds it and the source the scan reads.
struct TestChannel {
    TempFolder folder;
    platform::ChannelFileWriter writer{folder.path()};
    platform::ChannelFileSource source{folder.path()};

    // One failed-logon record per address, carrying the address as its only insertion string.
    // Returns the number of the last record written.
    std::int64_t appendFailedLogons(const std::vector<std::string>& addresses) {
        std::vector<platform::NewChannelRecord> records;
        for (const std::string& address : addresses)
            records.push_back({platform::FailedLogonEventCode, std::nullopt, std::vector<std::string>{address}});
        return append(records);
    }
    std::int64_t append(const std::vector<platform::NewChannelRecord>& records) {
        return writer.append(records) + static_cast<std::int64_t>(records.size()) - 1;
    }
};

// An event source that answers with what the test gives it, or fails as told, and counts calls.
class ScriptedSource : public platform::EventSource {
public:
    std::vector<platform::EventRecord> recordsAbove(std::int64_t recordNumber) override {
        ++calls;
        askedAbove = recordNumber;
        if (failure)
            std::rethrow_exception(failure);
        std::vector<platform::EventRecord> above;
        std::copy_if(records.begin(), records.end(), std::back_inserter(above),
                     [&](const platform::EventRecord& record) { return record.RecordNumber > recordNumber; });
        return above;
    }
    // The channel as empty unless the test says where it stands, so no call asks for it.
    std::optional<std::int64_t> newestRecordNumber() override { return newest; }

    std::vector<platform::EventRecord> records;
    std::optional<std::int64_t> newest;
    std::exception_ptr failure;
    int calls = 0;
    std::int64_t askedAbove = -1;
};

// Tables, context and channel of one test against the real database.
class GuardDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        OSTREL_REQUIRE_TEST_DB();
        m_tables = std::make_unique<TestTables>();
        m_context = std::make_unique<TestContext>(m_tables.get());
    }

    TestTables& tables() { return *m_tables; }
    TestContext& ctx() { return *m_context; }
    Settings& settings() { return m_context->settings; }
    RecordingOperator& op() { return m_context->op; }

    void setLastRecord(const std::string& value) { settings().set(&SettingsValues::LastRecord, value); }
    std::string lastRecord() { return settings().get(&SettingsValues::LastRecord); }
    // LastRecord as Config.ini holds it on disk, read by a store of its own.
    std::string lastRecordOnDisk() {
        IniFile fresh(m_context->ini.path());
        return fresh.ReadString("LastRecord", "<none>");
    }

    // One scan with the current LastRecord, as the pass runs it.
    void scan() { GetEventlog(m_context->context, channel.source, lastRecord()); }

    void addSightings(const std::string& address, int count, const std::string& when = "NOW()") {
        for (int i = 0; i < count; ++i)
            tables().exec("INSERT INTO " + tables().merkliste() + " (`IP`, `Zeitstempel`) VALUES (\"" + address +
                          "\", " + when + ")");
    }
    std::map<std::string, std::int64_t> sightingsByAddress() {
        std::map<std::string, std::int64_t> counts;
        ResultSet rows =
            tables().query("SELECT IP, COUNT(*) AS n FROM " + tables().merkliste() + " GROUP BY IP ORDER BY IP");
        for (; !rows.eof(); rows.next())
            counts[rows.text("IP")] = rows.integer("n");
        return counts;
    }
    std::vector<std::string> activeBlocks() {
        std::vector<std::string> addresses;
        ResultSet rows = tables().query("SELECT IP FROM " + tables().firewall() + " ORDER BY ID");
        for (; !rows.eof(); rows.next())
            addresses.push_back(rows.text("IP"));
        return addresses;
    }
    std::vector<RecordingFirewallCommand::Change> firewallChanges() { return m_context->recordingFirewall.changes(); }

    TestChannel channel;

private:
    std::unique_ptr<TestTables> m_tables;
    std::unique_ptr<TestContext> m_context;
};

// A guard that only counts: no address is blocked and no sighting deleted, so the sightings
// show exactly what the scans stored.
class SightingsOnlyTest : public GuardDatabaseTest {
protected:
    void SetUp() override {
        GuardDatabaseTest::SetUp();
        if (!IsSkipped())
            settings().set(&SettingsValues::BlockInvalidUser, false);
    }
};

inline RecordingFirewallCommand::Change added(const std::string& address) {
    return {true, "Autoblock_" + address, address};
}
inline RecordingFirewallCommand::Change deleted(const std::string& address) {
    return {false, "Autoblock_" + address, address};
}

} // namespace ostrel::test
