#include "platform/portable/XrdpLogLine.h"

#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

using platform::XrdpLogLine;
using Kind = XrdpLogLine::Kind;

struct LineCase {
    const char* name;
    const char* line;
    Kind kind;
    const char* address;
};

// Lines as xrdp 0.9's session manager writes them, and the ways they can differ.
const LineCase Cases[] = {
    {"IPv4", "[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob ip=203.0.113.5 time=1796936675", Kind::FailedLogon,
     "203.0.113.5"},
    {"IPv4-mapped IPv6", "[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob ip=::ffff:198.51.100.7 time=1796936675",
     Kind::FailedLogon, "198.51.100.7"},
    {"IPv6 in another spelling", "[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob ip=2001:DB8:0:0::5 time=1796936675",
     Kind::FailedLogon, "2001:db8::5"},
    {"address with the client's port", "[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob ip=203.0.113.5:50122 time=1",
     Kind::FailedLogon, "203.0.113.5"},
    {"IPv6 with port", "[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob ip=[2001:db8::5]:50122 time=1",
     Kind::FailedLogon, "2001:db8::5"},
    {"nothing after the address", "[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob ip=203.0.113.5", Kind::FailedLogon,
     "203.0.113.5"},
    {"a user name that holds an ip= of its own",
     "[20261210-21:04:35] [INFO ] AUTHFAIL: user=x ip=198.51.100.99 ip=203.0.113.5 time=1", Kind::FailedLogon,
     "203.0.113.5"},
    {"no ip=", "[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob time=1796936675", Kind::UnreadableLogon, ""},
    {"garbage after the address", "[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob ip=203.0.113.5xyz time=1",
     Kind::UnreadableLogon, ""},
    {"empty address", "[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob ip= time=1", Kind::UnreadableLogon, ""},
    {"a host name", "[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob ip=attacker.example time=1", Kind::UnreadableLogon,
     ""},
    {"other message", "[20261210-21:04:32] [INFO ] Received system login request from 203.0.113.5 for user: bob",
     Kind::Other, ""},
    {"successful logon",
     "[20261210-21:04:35] [INFO ] ++ created session (access granted): username bob, ip 203.0.113.5", Kind::Other, ""},
    {"AUTHFAIL inside another message", "[20261210-21:04:35] [INFO ] starting with user=AUTHFAIL: ip=203.0.113.5",
     Kind::Other, ""},
    {"another message whose user name holds the tag",
     "[20261210-21:04:32] [INFO ] Received system login request from 203.0.113.5 for user: x] AUTHFAIL: user=y "
     "ip=198.51.100.99 time=1",
     Kind::Other, ""},
    {"no time stamp", "AUTHFAIL: user=bob ip=203.0.113.5 time=1", Kind::Other, ""},
    {"empty line", "", Kind::Other, ""},
};

TEST(XrdpLogLineTest, TableOfLines) {
    for (const LineCase& c : Cases) {
        const XrdpLogLine line = platform::readXrdpLogLine(c.line);
        EXPECT_EQ(line.kind, c.kind) << c.name;
        EXPECT_EQ(line.address, c.address) << c.name;
    }
}

} // namespace
} // namespace ostrel::test
