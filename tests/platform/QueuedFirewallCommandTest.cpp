#include "platform/portable/QueuedFirewallCommand.h"

#include "support/RecordingOperator.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <mutex>
#include <set>

namespace ostrel::platform {
namespace {

using test::RecordingOperator;

// A firewall in memory: holds what it was given, fails the changes of one address when told,
// and counts what reached it.
class FirewallInMemory final : public FirewallBackend {
public:
    std::vector<std::optional<std::string>> apply(std::span<const FirewallChange> changes) override {
        std::lock_guard lock(m_mutex);
        std::vector<std::optional<std::string>> errors;
        for (const FirewallChange& change : changes) {
            m_reached.push_back(change.requested);
            if (change.address.text == m_failing) {
                errors.emplace_back("refused by the firewall");
                continue;
            }
            if (change.kind == RuleChangeKind::Add)
                m_held.insert(change.address.text);
            else
                m_held.erase(change.address.text);
            errors.emplace_back(std::nullopt);
        }
        return errors;
    }
    std::vector<std::string> list() override {
        std::lock_guard lock(m_mutex);
        ++m_listings;
        return {m_held.begin(), m_held.end()};
    }

    std::mutex m_mutex;
    std::set<std::string> m_held;
    std::string m_failing;
    std::vector<std::string> m_reached;
    int m_listings = 0;
};

class QueuedFirewallCommandTest : public ::testing::Test {
protected:
    QueuedFirewallCommandTest() {
        auto backend = std::make_unique<FirewallInMemory>();
        m_firewall = backend.get();
        m_command = std::make_unique<QueuedFirewallCommand>(m_op, std::move(backend));
    }

    RecordingOperator m_op;
    FirewallInMemory* m_firewall = nullptr;
    std::unique_ptr<QueuedFirewallCommand> m_command;
};

// The one rule of both platforms: only a literal of a single host other than this machine's
// loopback reaches a firewall, and a refused text is shown fit for a log line.
TEST_F(QueuedFirewallCommandTest, RefusesEverythingButAnAddressOfAnotherMachine) {
    struct Refusal {
        std::string text;
        std::string shown;
        std::string reason;
    };
    const std::vector<Refusal> refusals = {
        {"", "", "not an IP address"},
        {"rdp.example.com", "rdp.example.com", "not an IP address"},
        {"203.0.113.7; flush ruleset", "203.0.113.7; flush ruleset", "not an IP address"},
        {"203.0.113.7 }\nflush ruleset", "203.0.113.7 }?flush ruleset", "not an IP address"},
        {"x\" remoteip=any", "x\" remoteip=any", "not an IP address"},
        {"2001:db8::7%veth0", "2001:db8::7%veth0", "not an IP address"},
        {" 203.0.113.7", " 203.0.113.7", "not an IP address"},
        {"203.0.113.0/24", "203.0.113.0/24", "not an IP address"},
        {"127.0.0.1", "127.0.0.1", "loopback address"},
        {"127.8.9.10", "127.8.9.10", "loopback address"},
        {"::1", "::1", "loopback address"},
        {"::ffff:127.0.0.1", "::ffff:127.0.0.1", "loopback address"},
        {"0.0.0.0", "0.0.0.0", "not a single host"},
        {"255.255.255.255", "255.255.255.255", "not a single host"},
        {"224.0.0.1", "224.0.0.1", "not a single host"},
        {"::", "::", "not a single host"},
        {"ff02::1", "ff02::1", "not a single host"},
    };
    for (const auto& refusal : refusals) {
        m_command->addRule("Autoblock_" + refusal.text, refusal.text);
        m_command->deleteRule("Autoblock_" + refusal.text, refusal.text);
    }
    m_command->drain();
    for (const auto& refusal : refusals) {
        SCOPED_TRACE("address text '" + refusal.text + "'");
        EXPECT_TRUE(m_op.hasLine(" - Firewall: refused to add '" + refusal.shown + "' (" + refusal.reason + ")"));
        EXPECT_TRUE(m_op.hasLine(" - Firewall: refused to delete '" + refusal.shown + "' (" + refusal.reason + ")"));
    }
    EXPECT_EQ(m_op.lines().size(), 2 * refusals.size());
    EXPECT_TRUE(m_firewall->m_reached.empty());
}

TEST_F(QueuedFirewallCommandTest, ShowsALongRefusedTextCutShort) {
    m_command->addRule("Autoblock_", std::string(150, 'x'));
    m_command->drain();
    EXPECT_EQ(m_op.lines(), (std::vector<std::string>{" - Firewall: refused to add '" + std::string(100, 'x') +
                                                      "' (not an IP address)"}));
}

// The first answer is a listing; after it the command answers from its own changes in their one
// spelling, and a change the firewall refused sends the next answer to the firewall again.
TEST_F(QueuedFirewallCommandTest, AnswersFromItsChangesUntilOneFails) {
    m_command->addRule("Autoblock_203.0.113.7", "203.0.113.7");
    EXPECT_EQ(m_command->blockedAddresses(), (std::vector<std::string>{"203.0.113.7"}));
    EXPECT_EQ(m_firewall->m_listings, 1);

    m_command->addRule("Autoblock_2001:DB8::7", "2001:DB8::7");
    m_command->addRule("Autoblock_::ffff:198.51.100.7", "::ffff:198.51.100.7");
    m_command->deleteRule("Autoblock_203.0.113.7", "203.0.113.7");
    std::vector<std::string> held = m_command->blockedAddresses();
    std::sort(held.begin(), held.end());
    EXPECT_EQ(held, (std::vector<std::string>{"198.51.100.7", "2001:db8::7"}));
    EXPECT_EQ(m_firewall->m_listings, 1);
    ASSERT_TRUE(m_command->heldAddressesVersion());

    m_firewall->m_failing = "203.0.113.9";
    m_command->addRule("Autoblock_203.0.113.9", "203.0.113.9");
    EXPECT_FALSE(m_command->heldAddressesVersion()) << "a change failed";
    EXPECT_EQ(m_op.lines(),
              (std::vector<std::string>{" - Firewall: could not add 203.0.113.9 (refused by the firewall)"}));
    held = m_command->blockedAddresses();
    EXPECT_EQ(m_firewall->m_listings, 2);
    EXPECT_EQ(held.size(), 2u);
}

TEST(QueuedFirewallCommand, HandsTheChangesToTheFirewallInTheOrderTheyWereQueued) {
    RecordingOperator op;
    auto backend = std::make_unique<FirewallInMemory>();
    FirewallInMemory& firewall = *backend;
    std::vector<std::string> reached;
    {
        QueuedFirewallCommand command(op, std::move(backend));
        for (int host = 1; host <= 50; ++host) {
            const std::string address = "198.51.100." + std::to_string(host);
            command.addRule("Autoblock_" + address, address);
            reached.push_back(address);
        }
        command.deleteRule("Autoblock_198.51.100.1", "198.51.100.1");
        reached.push_back("198.51.100.1");
        command.drain();
        EXPECT_EQ(firewall.m_reached, reached);
        EXPECT_EQ(firewall.m_held.size(), 49u);
    }
    EXPECT_TRUE(op.lines().empty());
}

} // namespace
} // namespace ostrel::platform
