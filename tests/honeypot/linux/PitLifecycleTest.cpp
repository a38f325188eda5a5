#include "PitFixture.h"
#include "common/Errors.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>

namespace ostrel::test {
namespace {

using Bindings = std::vector<std::pair<std::string, int>>;

// A socket of someone else holding address:port in the calling thread's namespace.
platform::FileDescriptor occupy(const std::string& address, std::uint16_t port) {
    platform::FileDescriptor socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    if (!socket || ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0 ||
        ::listen(socket.get(), 1) != 0)
        throw std::runtime_error("cannot occupy " + address);
    return socket;
}

// The queue length that each listening socket on the port was given, as `ss` shows it.
std::vector<int> listenQueues(const NetworkNamespace& net, std::uint16_t port) {
    std::istringstream lines(net.execChecked({"ss", "-ltnH", "sport = :" + std::to_string(port)}));
    std::vector<int> queues;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string state;
        int waiting = 0;
        int queue = 0;
        if (fields >> state >> waiting >> queue)
            queues.push_back(queue);
    }
    return queues;
}

class PitLifecycle : public PitTest {};

TEST_F(PitLifecycle, StartAndStopMakeAndRemoveTheTwoBindingsWithTheirLines) {
    struct Case {
        std::string adapter;
        std::string shown; // between "on " and ":"
    };
    const Case cases[] = {{Adapter, Adapter}, {"", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE("adapter \"" + c.adapter + "\"");
        m_pit.reset();
        m_op.clear();
        start(c.adapter);

        EXPECT_TRUE(m_pit->active());
        EXPECT_EQ(m_pit->bindings(), (Bindings{{c.adapter, m_port}, {"", m_port}}));
        // One all-addresses socket serves both bindings here, with a queue of 15.
        EXPECT_EQ(listenQueues(*m_net, m_port), std::vector<int>{15});
        EXPECT_EQ(m_op.lines(),
                  (std::vector<std::string>{" - Honeypot on " + c.shown + ":" + portText() + " started."}));

        // The port field may say something else by now: the stop line names what it says.
        stop("3391");
        EXPECT_FALSE(m_pit->active());
        EXPECT_TRUE(m_pit->bindings().empty());
        EXPECT_EQ(m_op.lines().back(), " - Honeypot on " + c.shown + ":3391 stopped.");
        EXPECT_TRUE(m_op.tarpit().empty());
    }
}

TEST_F(PitLifecycle, PeersAreTakenAtEveryLocalAddressOfThePort) {
    m_op.setDebug(true);
    start();
    for (const std::string destination : {Adapter, "127.0.0.1", "203.0.113.200"}) {
        SCOPED_TRACE(destination);
        const HoneypotPeer peer = connect("203.0.113.9", destination);
        EXPECT_TRUE(peer.waitClosed(Patience));
    }
    EXPECT_TRUE(waitUntilIdle());
    EXPECT_EQ(m_op.tarpitHistory().size(), 6u);
}

TEST_F(PitLifecycle, StopWithoutConnectionsReturnsAndTheNextStartBlocksAsBefore) {
    start();
    stop(portText());
    EXPECT_EQ(m_op.lines().size(), 2u);

    start();
    EXPECT_EQ(m_pit->bindings().size(), 2u);
    connectAndWaitClosed("203.0.113.5");
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(rowsFor("203.0.113.5"), 1);
    // The connection just served left nothing on the port that would refuse another start.
    stop(portText());
    start();
    EXPECT_TRUE(m_pit->active());
    connectAndWaitClosed("203.0.113.6");
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(rowsFor("203.0.113.6"), 1);
}

TEST_F(PitLifecycle, AStartOnAPortInUseLeavesNothingBehindAndTheNextStartSucceeds) {
    // Whoever holds the port, at one address or at all of them, the start must fail.
    const std::string holders[] = {"0.0.0.0", "127.0.0.1", Adapter};
    for (const std::string& holder : holders) {
        SCOPED_TRACE("port held at " + holder);
        m_pit.reset();
        m_op.clear();
        std::optional<platform::FileDescriptor> blocker = m_net->run([&] { return occupy(holder, m_port); });
        const int descriptorsBefore = openDescriptorCount();

        try {
            start();
            ADD_FAILURE() << "the start succeeded on a port in use";
        } catch (const ESocketError& error) {
            EXPECT_NE(std::string(error.what()).find("Address already in use"), std::string::npos) << error.what();
        }
        EXPECT_FALSE(m_pit->active());
        EXPECT_TRUE(m_pit->bindings().empty());
        EXPECT_TRUE(m_op.lines().empty());
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore) << "a socket of the failed start is still open";

        blocker.reset();
        start();
        EXPECT_TRUE(m_pit->active());
        EXPECT_EQ(m_pit->bindings(), (Bindings{{Adapter, m_port}, {"", m_port}}));
        EXPECT_EQ(m_op.lines().size(), 1u);
        stop(portText());
    }
}

TEST_F(PitLifecycle, AnAdapterAddressThatIsNotLocalFailsTheStart) {
    EXPECT_THROW(start("198.51.100.77"), ESocketError);
    EXPECT_FALSE(m_pit->active());
    EXPECT_TRUE(m_pit->bindings().empty());
    EXPECT_TRUE(m_op.lines().empty());
}

TEST_F(PitLifecycle, StartWhileRunningAndStopWhileStoppedChangeNothing) {
    m_pit.emplace(*m_context, [] { return std::string(Adapter); });
    m_pit->stop(portText());
    EXPECT_TRUE(m_op.lines().empty());
    start();
    start();
    EXPECT_EQ(m_pit->bindings().size(), 2u);
    EXPECT_EQ(m_op.lines().size(), 1u);
}

TEST_F(PitLifecycle, EndingTheProgramWhileRunningStopsWithoutTheStopLine) {
    m_op.setDebug(true);
    start();
    connectAndWaitClosed("203.0.113.5");
    const int descriptorsRunning = openDescriptorCount();
    m_pit.reset();
    EXPECT_EQ(m_op.lines().size(), 1u);
    EXPECT_LT(openDescriptorCount(), descriptorsRunning) << "the listening socket outlived the listener";
    EXPECT_TRUE(m_op.tarpit().empty());
}

} // namespace
} // namespace ostrel::test
