#include "service/ConsoleOperator.h"

#include <gtest/gtest.h>
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
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < Lines; ++i)
                op.logPlain(Pane::Log, logged);
        });
        threads.emplace_back([&, t] {
            for (int i = 0; i < Lines; ++i) {
                // Each report its own text, so none is taken for one told already.
                const std::string error = "E" + std::to_string(100000 + t * Lines + i) + std::string(300, 'r');
                op.logErrorOnce(" - " + error, error);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    int plain = 0;
    int errors = 0;
    for (std::string line; std::getline(file, line);) {
        if (line == "<6>" + logged)
            ++plain;
        else if (line.starts_with("<3>") && line.ends_with(std::string(300, 'r')) && line.find(" - E") != std::string::npos)
            ++errors;
        else
            ADD_FAILURE() << "a line ran into another: " << line.substr(0, 80);
    }
    EXPECT_EQ(plain, 2 * Lines);
    EXPECT_EQ(errors, 2 * Lines);
}

} // namespace
} // namespace ostrel::test
