// The window's pass thread: one pass at a time, its end told with its error, and the next pass
// accepted as soon as the end is told.
#include "main/PassWorker.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <stdexcept>

namespace ostrel::test {
namespace {

using namespace std::chrono_literals;

TEST(PassWorker, RefusesASecondPassWhileOneRunsAndTellsTheEndWithItsError) {
    PassWorker worker;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<std::exception_ptr> ended;
    ASSERT_TRUE(worker.start(
        [released] {
            released.wait();
            throw std::runtime_error("the database went away");
        },
        [&](std::exception_ptr error) { ended.set_value(error); }));
    EXPECT_FALSE(worker.start([] {}, {}));
    release.set_value();
    std::future<std::exception_ptr> end = ended.get_future();
    ASSERT_EQ(end.wait_for(10s), std::future_status::ready);
    EXPECT_THROW(std::rethrow_exception(end.get()), std::runtime_error);
}

// The window hears of the end through its event loop, which may run before this thread has
// gone back to waiting: a pass started then was refused, and the window waited for it forever.
TEST(PassWorker, APassStartedOnHearingTheLastOneEndedRuns) {
    PassWorker worker;
    std::promise<bool> accepted;
    std::promise<void> secondRan;
    ASSERT_TRUE(worker.start(
        [] {}, [&](std::exception_ptr) { accepted.set_value(worker.start([&] { secondRan.set_value(); }, {})); }));
    std::future<bool> secondAccepted = accepted.get_future();
    ASSERT_EQ(secondAccepted.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(secondAccepted.get());
    EXPECT_EQ(secondRan.get_future().wait_for(10s), std::future_status::ready);
}

} // namespace
} // namespace ostrel::test
