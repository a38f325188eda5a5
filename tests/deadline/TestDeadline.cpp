// Every test ends by itself: a test still running after its deadline ends the whole run at once,
// with its name, instead of holding it until an outer limit kills the process without one.
// Linked into every test executable; registers itself before main runs.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Seconds one test may take: OSTREL_TEST_DEADLINE when set, else five minutes.
std::chrono::seconds deadline() {
    if (const char* text = std::getenv("OSTREL_TEST_DEADLINE")) {
        const long seconds = std::strtol(text, nullptr, 10);
        if (seconds > 0)
            return std::chrono::seconds(seconds);
    }
    return std::chrono::minutes(5);
}

class TestDeadline : public ::testing::EmptyTestEventListener {
public:
    // A process that ends without the program's end (a test's own exit) must not end in
    // std::terminate for a thread still joinable.
    ~TestDeadline() override {
        if (m_watcher.joinable())
            m_watcher.detach();
    }

    void OnTestProgramStart(const ::testing::UnitTest&) override {
        m_watcher = std::thread([this] { watch(); });
    }
    void OnTestProgramEnd(const ::testing::UnitTest&) override {
        {
            std::lock_guard lock(m_mutex);
            m_ended = true;
        }
        m_changed.notify_all();
        if (m_watcher.joinable())
            m_watcher.join();
    }
    void OnTestStart(const ::testing::TestInfo& test) override {
        std::lock_guard lock(m_mutex);
        m_running = std::string(test.test_suite_name()) + "." + test.name();
        m_due = Clock::now() + m_limit;
        m_changed.notify_all();
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        std::lock_guard lock(m_mutex);
        m_running.clear();
        m_changed.notify_all();
    }

private:
    void watch() {
        std::unique_lock lock(m_mutex);
        while (!m_ended) {
            if (m_running.empty()) {
                m_changed.wait(lock);
                continue;
            }
            const std::string running = m_running;
            if (m_changed.wait_until(lock, m_due, [&] { return m_ended || m_running != running; }))
                continue;
            if (Clock::now() < m_due)
                continue; // woken early: the same test started again
            std::fprintf(stderr, "\n[  FAILED  ] %s (deadline of %lld s passed: the test did not end by itself)\n",
                         running.c_str(), static_cast<long long>(m_limit.count()));
            std::fflush(stderr);
            std::fflush(stdout);
            std::_Exit(124);
        }
    }

    const std::chrono::seconds m_limit = deadline();
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_watcher;
    std::string m_running;
    Clock::time_point m_due;
    bool m_ended = false;
};

// gtest owns the listener from here on.
[[maybe_unused]] const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new TestDeadline);
    return true;
}();

} // namespace
