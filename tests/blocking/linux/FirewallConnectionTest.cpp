// The block operation on its thread's kept connection: a change of the connection settings
// counts from the next block, and a connection the server ended meanwhile costs no block.
#include "blocking/Firewall.h"
#include "db/ConnectionCache.h"
#include "support/TestContext.h"
#include "support/linux/TcpForwarder.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using test::TcpForwarder;
using test::TestContext;
using test::TestTables;

class FirewallConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        OSTREL_REQUIRE_TEST_DB();
        ConnectionCache::closeThreadConnection();
        m_tables.emplace();
        m_env = std::make_unique<TestContext>(&*m_tables);
    }
    void TearDown() override { ConnectionCache::closeThreadConnection(); }

    static const std::string& serverHost() { return test::TestServer::get().host; }
    static std::uint16_t serverPort() { return static_cast<std::uint16_t>(test::TestServer::get().port); }
    Settings& settings() { return m_env->settings; }
    void pointAt(const TcpForwarder& forwarder) {
        settings().set(&SettingsValues::SQLServer, forwarder.address());
        settings().set(&SettingsValues::SQLPort, std::to_string(forwarder.port()));
    }
    void block(const std::string& address) { Firewall(m_env->context, "RDP-Block", address, 120); }
    bool blocked(const std::string& address) {
        return m_tables->scalar("SELECT COUNT(*) AS value FROM " + m_tables->firewall() + " WHERE IP = \"" + address +
                                "\"") == 1 &&
               m_env->op.hasLine(" - [RDP-Block] IP " + address + " is blocked for 120 minutes!");
    }

    std::optional<TestTables> m_tables;
    std::unique_ptr<TestContext> m_env;
};

TEST_F(FirewallConnectionTest, AChangedServerOrPortIsUsedByTheNextBlock) {
    struct Case {
        const char* name;
        // The second listener, reached by changing one setting only.
        std::function<std::unique_ptr<TcpForwarder>(const TcpForwarder& first)> second;
    };
    const Case cases[] = {
        {"SQLPort", [](const TcpForwarder&) { return std::make_unique<TcpForwarder>(serverHost(), serverPort()); }},
        {"SQLServer",
         [](const TcpForwarder& first) {
             return std::make_unique<TcpForwarder>(serverHost(), serverPort(), "127.0.0.2", first.port());
         }},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TcpForwarder first(serverHost(), serverPort());
        const std::unique_ptr<TcpForwarder> second = c.second(first);
        const std::string before = "203.0.113." + std::to_string(++round);
        const std::string after = "203.0.113." + std::to_string(++round);
        pointAt(first);
        block(before);
        pointAt(*second);
        block(after);

        EXPECT_TRUE(blocked(before));
        EXPECT_TRUE(blocked(after));
        EXPECT_EQ(first.accepted(), 1u);
        EXPECT_EQ(second->accepted(), 1u) << "the second block connected with the changed setting";
        EXPECT_TRUE(first.waitUntilCarried(0, 10s)) << "the connection of the old setting was closed";
    }
}

TEST_F(FirewallConnectionTest, AConnectionEndedBetweenTwoBlocksCostsNoBlock) {
    TcpForwarder forwarder(serverHost(), serverPort());
    pointAt(forwarder);
    block("203.0.113.1");
    const std::int64_t id = ConnectionCache::acquire(settings())->execute("SELECT CONNECTION_ID() AS id").integer("id");
    m_tables->exec("KILL CONNECTION " + std::to_string(id));
    ASSERT_NO_THROW(block("203.0.113.2"));
    forwarder.cutAll(); // as a restart of the server would
    ASSERT_NO_THROW(block("2001:db8::3"));

    EXPECT_TRUE(blocked("203.0.113.1"));
    EXPECT_TRUE(blocked("203.0.113.2"));
    EXPECT_TRUE(blocked("2001:db8::3"));
    EXPECT_EQ(forwarder.accepted(), 3u);
    EXPECT_EQ(m_env->recordingFirewall.changes().size(), 3u);
}

} // namespace
} // namespace ostrel
