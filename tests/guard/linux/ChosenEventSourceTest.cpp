#include "guard/ChosenEventSource.h"

#include "common/Errors.h"
#include "platform/EventSource.h"
#include "platform/portable/ChannelFileWriter.h"
#include "settings/Settings.h"
#include "support/TempFolder.h"

#include <fstream>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

std::vector<std::string> addressesOf(const std::vector<platform::EventRecord>& records) {
    std::vector<std::string> addresses;
    for (const platform::EventRecord& record : records) {
        if (record.InsertionStrings)
            addresses.push_back(record.InsertionStrings->back());
    }
    return addresses;
}

// The setting is read at every pass, like every other: a changed choice counts from the next one.
TEST(ChosenEventSourceTest, FollowsTheSettingAtEveryCall) {
    TempFolder folder;
    platform::ChannelFileWriter(folder / "Eventlog")
        .append({{platform::FailedLogonEventCode, std::nullopt, std::vector<std::string>{"198.51.100.1"}}});
    {
        std::ofstream log(folder / "xrdp-sesman.log");
        log << "[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob ip=::ffff:203.0.113.7 time=1796936675\n";
    }
    Settings settings;
    ChosenEventSource source(settings, {folder / "Eventlog", folder.path()});

    EXPECT_EQ(addressesOf(source.recordsAbove(0)), std::vector<std::string>{"198.51.100.1"}) << "empty: the channel";
    settings.set(&SettingsValues::EventSource, "xrdp:" + (folder / "xrdp-sesman.log").string());
    EXPECT_EQ(source.description(), "the xrdp log " + (folder / "xrdp-sesman.log").string());
    EXPECT_EQ(addressesOf(source.recordsAbove(0)), std::vector<std::string>{"203.0.113.7"});
    EXPECT_TRUE(std::filesystem::exists(folder / "xrdp-sesman.log.position")) << "kept beside Config.ini";

    settings.set(&SettingsValues::EventSource, "syslog");
    EXPECT_THROW(source.recordsAbove(0), EConvertError);
    EXPECT_EQ(source.description(),
              "no event source: 'syslog' names no event source (eventlog, channel, or xrdp[:PATH])");

    ChosenEventSource fixed(settings, {folder / "Eventlog", folder.path()}, "channel");
    EXPECT_EQ(addressesOf(fixed.recordsAbove(0)), std::vector<std::string>{"198.51.100.1"}) << "the command line wins";
}

} // namespace
} // namespace ostrel::test
