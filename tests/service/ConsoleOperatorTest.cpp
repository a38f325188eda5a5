#include "service/ConsoleOperator.h"

#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace ostrel::test {
namespace {

// As a Windows service the guard writes its log lines and its error reports into one file, from
// the pass, the honeypot's connection threads and the run loop: no line may run into another.
TEST(ConsoleOperator, LogLinesAndErrorReportsIntoOneStreamStayWholeLines) {
    std::stringstream file;
    ConsoleOperator op(file, false, false);
    constexpr int Lines = 400;
    const std::string logged(300, 'l');
    const std::string reported(300, 'r');
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < Lines; ++i)
                op.logPlain(Pane::Log, logged);
        });
        threads.emplace_back([&] {
            for (int i = 0; i < Lines; ++i)
                op.writeLine(file, reported);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::multiset<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.insert(line);
    EXPECT_EQ(lines.size(), 4u * Lines);
    EXPECT_EQ(lines.count(logged), 2u * Lines);
    EXPECT_EQ(lines.count(reported), 2u * Lines);
}

} // namespace
} // namespace ostrel::test
