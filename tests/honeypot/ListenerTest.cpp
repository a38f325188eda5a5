#include "honeypot/Listener.h"

#include "honeypot/ConnectionThreads.h"
#include "honeypot/Socket.h"
#include "platform/WakeSignal.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace ostrel::test {
namespace {

using honeypot::ConnectionThreads;
using honeypot::Listener;
using honeypot::Socket;

// A number no descriptor or Winsock socket of the test process carries: the system refuses to
// wait on it, every time it is asked.
constexpr platform::SocketHandle NoSocket = 1'000'003;

TEST(Listener, AWaitThatKeepsFailingIsReportedOnceAndTheThreadPausesBetweenTries) {
    platform::WakeSignal stop;
    ConnectionThreads threads{2};
    threads.open();
    std::mutex mutex;
    std::condition_variable reported;
    std::vector<std::string> reports;
    int served = 0;
    {
        Listener listener(
            Socket(NoSocket), stop, threads, [&](Socket, const std::string&) { ++served; },
            [&](const std::string& message) {
                std::lock_guard lock(mutex);
                reports.push_back(message);
                reported.notify_all();
            });
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(reported.wait_for(lock, std::chrono::seconds(30), [&] { return !reports.empty(); }))
                << "the failing wait was never reported";
        }
        // Long enough for a few more tries after the first.
        stop.waitFor(2500);
        stop.raise();
        threads.close();
    }
    EXPECT_EQ(reports,
              std::vector<std::string>{" - Honeypot: waiting for connections failed; trying again every second."});
    EXPECT_EQ(served, 0);
}

} // namespace
} // namespace ostrel::test
