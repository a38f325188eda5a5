#include "db/ConnectionCache.h"

#include "common/Errors.h"
#include "support/TestDatabase.h"
#include "support/linux/TcpForwarder.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using test::TcpForwarder;
using test::TestTables;

// Every test reaches the server through a forwarder of its own, so it sees exactly the
// connections that the cache opens, and starts without a kept connection.
class ConnectionCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        OSTREL_REQUIRE_TEST_DB();
        ConnectionCache::closeThreadConnection();
        m_forwarder.emplace(test::TestServer::get().host, static_cast<std::uint16_t>(test::TestServer::get().port));
    }
    void TearDown() override { ConnectionCache::closeThreadConnection(); }

    TcpForwarder& forwarder() { return *m_forwarder; }
    ConnectionValues throughForwarder() {
        ConnectionValues values = TestTables::connectionValues();
        values.host = forwarder().address();
        values.port = forwarder().port();
        return values;
    }
    static std::int64_t idOf(Connection& connection) {
        return connection.execute("SELECT CONNECTION_ID() AS id").integer("id");
    }

    std::optional<TcpForwarder> m_forwarder;
};

TEST_F(ConnectionCacheTest, OneConnectionServesTheThreadWhileItsValuesStand) {
    const std::int64_t first = idOf(*ConnectionCache::acquire(throughForwarder()));
    const std::int64_t second = idOf(*ConnectionCache::acquire(throughForwarder()));
    {
        // An operation inside another (a block made by the scan) shares the enclosing one's connection.
        const std::shared_ptr<Connection> outer = ConnectionCache::acquire(throughForwarder());
        EXPECT_EQ(ConnectionCache::acquire(throughForwarder()), outer);
    }
    EXPECT_EQ(first, second);
    EXPECT_EQ(forwarder().accepted(), 1u);
}

TEST_F(ConnectionCacheTest, ChangedValuesCloseTheKeptConnectionAndOpenANewOne) {
    TcpForwarder other(test::TestServer::get().host, static_cast<std::uint16_t>(test::TestServer::get().port));
    idOf(*ConnectionCache::acquire(throughForwarder()));

    ConnectionValues changed = throughForwarder();
    changed.port = other.port();
    idOf(*ConnectionCache::acquire(changed));

    EXPECT_EQ(other.accepted(), 1u) << "the new port is used";
    EXPECT_TRUE(forwarder().waitUntilCarried(0, 10s)) << "the connection of the old values was closed";
}

// A connection the server ended while it lay idle is found dead before any statement and
// replaced: the operation that takes it sees nothing of it.
TEST_F(ConnectionCacheTest, AConnectionThatDiedWhileKeptIsReplacedUnnoticed) {
    struct Case {
        const char* name;
        std::function<void(std::int64_t id)> end;
    };
    const Case cases[] = {
        {"killed on the server", [](std::int64_t id) { TestTables().exec("KILL CONNECTION " + std::to_string(id)); }},
        {"cut as by a restart of the server", [this](std::int64_t) { forwarder().cutAll(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::int64_t before = idOf(*ConnectionCache::acquire(throughForwarder()));
        c.end(before);
        std::int64_t after = 0;
        ASSERT_NO_THROW(after = idOf(*ConnectionCache::acquire(throughForwarder())));
        EXPECT_NE(after, before);
    }
}

TEST_F(ConnectionCacheTest, AConnectionLeftUnsoundIsNotGivenOutAgain) {
    struct Case {
        const char* name;
        std::function<void(Connection&)> leave;
    };
    const Case cases[] = {
        {"a statement failed",
         [](Connection& c) { EXPECT_THROW(c.execute("SELECT * FROM no_such_table"), EDatabaseError); }},
        {"a transaction was left open", [](Connection& c) { c.execute("START TRANSACTION"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::int64_t before = 0;
        {
            const std::shared_ptr<Connection> connection = ConnectionCache::acquire(throughForwarder());
            before = idOf(*connection);
            c.leave(*connection);
        }
        EXPECT_NE(idOf(*ConnectionCache::acquire(throughForwarder())), before);
    }
}

TEST_F(ConnectionCacheTest, FailedConnectKeepsNothing) {
    ConnectionValues refused = throughForwarder();
    refused.password += "-wrong";
    EXPECT_THROW(ConnectionCache::acquire(refused), EDatabaseError);
    const std::size_t afterRefusal = forwarder().accepted();
    idOf(*ConnectionCache::acquire(throughForwarder()));
    EXPECT_EQ(forwarder().accepted(), afterRefusal + 1);
}

TEST_F(ConnectionCacheTest, AThreadsConnectionClosesWhenTheThreadEnds) {
    std::thread worker([this] { idOf(*ConnectionCache::acquire(throughForwarder())); });
    worker.join();
    EXPECT_EQ(forwarder().accepted(), 1u);
    EXPECT_TRUE(forwarder().waitUntilCarried(0, 10s));
}

} // namespace
} // namespace ostrel
