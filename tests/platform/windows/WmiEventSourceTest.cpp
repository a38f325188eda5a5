#include "platform/windows/WmiEventSource.h"

#include "WineDetection.h"
#include "common/Errors.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

using platform::wmiQueryText;

TEST(WmiQueryText, IsTheQueryOfTheChannelsEvent140AboveTheRecordNumber) {
    struct Case {
        std::string recordNumber;
        std::string expected;
    };
    const Case cases[] = {
        {"0", "SELECT * FROM Win32_NTLogEvent Where Logfile=\"Microsoft-Windows-RemoteDesktopServices-RdpCoreTS/"
              "Operational\" AND EventCode=140 AND RecordNumber > 0"},
        {"4294967295", "SELECT * FROM Win32_NTLogEvent Where Logfile=\"Microsoft-Windows-RemoteDesktopServices-"
                       "RdpCoreTS/Operational\" AND EventCode=140 AND RecordNumber > 4294967295"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wmiQueryText(platform::RdpChannel, c.recordNumber), c.expected) << "record number " << c.recordNumber;
}

// Wine answers ConnectServer and ExecQuery but keeps no Win32_NTLogEvent rows: this shows the
// COM path (locator, services, query, enumeration, ComScope) works end to end, nothing more.
// What the event log itself returns can only be seen on Windows.
TEST(WmiEventSourcePlumbing, TheComPathRunsEndToEndWithoutAnError) {
    const platform::ComScope com;
    platform::WmiEventSource source;
    std::vector<platform::EventRecord> records;
    try {
        records = source.recordsAbove(0);
    } catch (const EOleException& error) {
        FAIL() << "EOleException " << error.what() << " " << std::hex << error.code();
    }
    if (runningUnderWine()) {
        EXPECT_TRUE(records.empty()) << "Wine now keeps event log rows: make this test look at them";
    }
    for (std::size_t i = 1; i < records.size(); ++i)
        EXPECT_GT(records[i - 1].RecordNumber, records[i].RecordNumber) << "the newest record comes first";
}

TEST(WmiEventSourcePlumbing, AScanAfterTheFirstInTheSameThreadWorksToo) {
    for (int pass = 0; pass < 2; ++pass) {
        const platform::ComScope com;
        EXPECT_NO_THROW(platform::WmiEventSource().recordsAbove(1000)) << "pass " << pass;
    }
}

} // namespace
} // namespace ostrel::test
