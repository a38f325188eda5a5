#include "guard/GetEventlog.h"
#include "platform/XrdpLogSource.h"
#include "support/TempFolder.h"
#include "guard/GuardTestSupport.h"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

using Sightings = std::map<std::string, std::int64_t>;

// The scan over xrdp's log, pass after pass, with the mark it stores: the source's own numbering
// holds across passes, so no pass may take the log for one that started again and count it anew.
class XrdpScanTest : public SightingsOnlyTest {
protected:
    void authfail(const std::string& address) {
        std::ofstream(m_log, std::ios::app) << "[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob ip=" << address
                                            << " time=1796936675\n";
    }
    void other() { std::ofstream(m_log, std::ios::app) << "[20261210-21:04:36] [INFO ] login successful\n"; }
    void scan() { GetEventlog(ctx().context, m_source, lastRecord()); }

    TempFolder m_folder;
    std::filesystem::path m_log = m_folder / "xrdp-sesman.log";
    platform::XrdpLogSource m_source{m_log, m_folder / "xrdp-sesman.log.position"};
};

TEST_F(XrdpScanTest, EveryFailedLogonIsCountedOncePassAfterPass) {
    authfail("203.0.113.1"); // before the guard: history
    setLastRecord("0");
    scan();
    EXPECT_THAT(sightingsByAddress(), ::testing::IsEmpty());

    authfail("::ffff:203.0.113.7");
    other();
    scan();
    EXPECT_EQ(sightingsByAddress(), (Sightings{{"203.0.113.7", 1}}));

    scan(); // nothing new
    authfail("203.0.113.7");
    authfail("2001:db8::9");
    scan();
    other();
    scan();
    authfail("203.0.113.7");
    scan();
    EXPECT_EQ(sightingsByAddress(), (Sightings{{"2001:db8::9", 1}, {"203.0.113.7", 3}}));
    EXPECT_THAT(op().lines(), ::testing::Not(::testing::Contains(::testing::HasSubstr("started again"))));
}

} // namespace
} // namespace ostrel::test
