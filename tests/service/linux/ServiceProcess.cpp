#include "ServiceProcess.h"

#include <algorithm>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/wait.h>

namespace ostrel::test {

using Clock = std::chrono::steady_clock;

ServiceProcess::ServiceProcess(const std::vector<std::string>& argv) : m_child(argv) {
    m_child.input().reset();
}

bool ServiceProcess::readSome(std::chrono::milliseconds timeout) {
    pollfd fds[2] = {{m_child.output().get(), POLLIN, 0}, {m_child.errors().get(), POLLIN, 0}};
    if (fds[0].fd < 0 && fds[1].fd < 0)
        return false;
    if (::poll(fds, 2, static_cast<int>(timeout.count())) <= 0)
        return true;
    platform::FileDescriptor* streams[2] = {&m_child.output(), &m_child.errors()};
    std::string* into[2] = {&m_output, &m_errors};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0)
            continue;
        char buffer[8192];
        const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
        if (got > 0)
            into[i]->append(buffer, static_cast<std::size_t>(got));
        else
            streams[i]->reset();
    }
    return true;
}

bool ServiceProcess::waitForLines(const std::string& text, std::size_t count, std::chrono::seconds deadline) {
    const auto end = Clock::now() + deadline;
    while (countLines(m_output, text) < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0 || !readSome(left))
            return false;
    }
    return true;
}

platform::ProcessOutcome ServiceProcess::finish(std::chrono::seconds deadline) {
    const auto end = Clock::now() + deadline;
    bool killed = false;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0 && !killed) {
            m_child.kill();
            killed = true;
        }
        // Once killed, a stream still open belongs to a straggling grandchild: give up on it soon.
        if (killed && left < std::chrono::seconds(-5))
            break;
        if (!readSome(std::max(left, std::chrono::milliseconds(100))))
            break;
    }
    const int status = m_child.wait();
    platform::ProcessOutcome outcome;
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    outcome.output = m_output;
    outcome.errors = m_errors;
    return outcome;
}

std::vector<std::string> messagesOf(const std::string& output) {
    static const std::regex stamp(R"(^<[0-7]>(\[Clearlog\] )?(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)?)");
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        lines.push_back(std::regex_replace(line, stamp, "$1", std::regex_constants::format_first_only));
    return lines;
}

std::size_t countLines(const std::string& output, const std::string& text) {
    std::size_t count = 0;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        count += line.find(text) != std::string::npos ? 1 : 0;
    return count;
}

} // namespace ostrel::test
