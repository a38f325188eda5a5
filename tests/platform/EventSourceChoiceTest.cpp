#include "platform/portable/EventSourceChoice.h"

#include "platform/XrdpLogSource.h"

#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

using platform::EventSourceChoice;
using Kind = EventSourceChoice::Kind;

TEST(EventSourceChoiceTest, TableOfSettingTexts) {
    struct Case {
        const char* text;
        std::optional<EventSourceChoice> choice;
    };
    const Case cases[] = {
        {"", platform::defaultEventSourceChoice()},
        {"  ", platform::defaultEventSourceChoice()},
        {"eventlog", EventSourceChoice{Kind::EventLog, {}}},
        {"EventLog", EventSourceChoice{Kind::EventLog, {}}},
        {" channel ", EventSourceChoice{Kind::ChannelFile, {}}},
        {"xrdp", EventSourceChoice{Kind::XrdpLog, platform::DefaultXrdpLog}},
        {"XRDP:", EventSourceChoice{Kind::XrdpLog, platform::DefaultXrdpLog}},
        {"xrdp:/srv/xrdp/sesman.log", EventSourceChoice{Kind::XrdpLog, "/srv/xrdp/sesman.log"}},
        {"xrdp : /var/log/a b.log ", EventSourceChoice{Kind::XrdpLog, "/var/log/a b.log"}},
        {"channel:/tmp", std::nullopt},
        {"syslog", std::nullopt},
        {"journal", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::parseEventSourceChoice(c.text), c.choice) << "'" << c.text << "'";
}

} // namespace
} // namespace ostrel::test
