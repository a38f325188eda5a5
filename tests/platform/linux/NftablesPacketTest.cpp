#include "platform/FirewallCommand.h"
#include "platform/linux/NftablesFirewall.h"
#include "support/RecordingOperator.h"
#include "support/linux/NetworkNamespace.h"
#include "support/linux/TcpProbe.h"

#include <gtest/gtest.h>

namespace ostrel::platform {
namespace {

using namespace std::chrono_literals;
using test::NetworkNamespace;

// Long enough for a handshake over a veth on a loaded machine; a dropped SYN waits it out.
constexpr auto Reachable = 5000ms;
constexpr auto Dropped = 1500ms;

// A guarded namespace with the firewall and a listener, and a client namespace holding the
// addresses that get blocked, joined by a veth pair.
class NftablesPackets : public ::testing::Test {
protected:
    void SetUp() override {
        if (!NetworkNamespace::available())
            GTEST_SKIP() << NetworkNamespace::unavailableReason();
        m_guarded.emplace();
        m_client.emplace();
        test::linkByVeth(*m_guarded, {"203.0.113.1/24", "2001:db8::1/64"}, *m_client,
                         {"203.0.113.7/24", "203.0.113.8/24", "2001:db8::7/64", "2001:db8::8/64"});
        m_listener = m_guarded->run([] { return std::make_unique<test::TcpListener>(); });
        NftablesOptions options;
        options.netns = m_guarded->name();
        m_firewall = makeNftablesFirewall(m_op, options);
    }

    bool reaches(const std::string& source, const std::string& destination, std::chrono::milliseconds timeout) {
        const auto port = m_listener->port();
        return m_client->run([&] { return test::connectsFrom(source, destination, port, timeout); });
    }

    test::RecordingOperator m_op;
    std::optional<NetworkNamespace> m_guarded;
    std::optional<NetworkNamespace> m_client;
    std::unique_ptr<test::TcpListener> m_listener;
    std::unique_ptr<FirewallCommand> m_firewall;
};

TEST_F(NftablesPackets, DropsWhatIsBlockedAndPassesItAgainWhenReleased) {
    struct Case {
        std::string blocked;
        std::string neighbour;
        std::string guarded;
    };
    const Case cases[] = {
        {"203.0.113.7", "203.0.113.8", "203.0.113.1"},
        {"2001:db8::7", "2001:db8::8", "2001:db8::1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.blocked);
        ASSERT_TRUE(reaches(c.blocked, c.guarded, Reachable)) << "the test network does not carry traffic";

        m_firewall->addRule("Autoblock_" + c.blocked, c.blocked);
        m_firewall->drain();
        EXPECT_FALSE(reaches(c.blocked, c.guarded, Dropped));
        EXPECT_TRUE(reaches(c.neighbour, c.guarded, Reachable));

        m_firewall->deleteRule("Autoblock_" + c.blocked, c.blocked);
        m_firewall->drain();
        EXPECT_TRUE(reaches(c.blocked, c.guarded, Reachable));
        EXPECT_TRUE(reaches(c.neighbour, c.guarded, Reachable));
    }
    EXPECT_TRUE(m_op.lines().empty());
}

} // namespace
} // namespace ostrel::platform
