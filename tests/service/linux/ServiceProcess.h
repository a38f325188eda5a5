#pragma once

#include "platform/linux/ChildProcess.h"

#include <chrono>
#include <string>
#include <vector>

namespace ostrel::test {

// The service program as a running child: its standard output and error are collected as
// they come, so a test can wait for a line without sleeping.
class ServiceProcess {
public:
    explicit ServiceProcess(const std::vector<std::string>& argv);

    // Reads on until standard output holds `count` lines that contain `text`; false when the
    // program closed its output or the deadline passed first.
    bool waitForLines(const std::string& text, std::size_t count, std::chrono::seconds deadline);
    // Asks the program to end the way a service manager does.
    void signal(int number) { m_child.signal(number); }
    // Reads both streams to their end and waits for the program; kills it when the deadline passes.
    platform::ProcessOutcome finish(std::chrono::seconds deadline);

    const std::string& output() const { return m_output; }

private:
    // Waits up to `timeout` for something to read and reads it; false once both streams ended.
    bool readSome(std::chrono::milliseconds timeout);

    platform::ChildProcess m_child;
    std::string m_output;
    std::string m_errors;
};

// The lines of a program's output with the journal level and the log lines' leading ISO time
// taken off. Lines without them stay as they are.
std::vector<std::string> messagesOf(const std::string& output);

// How many lines of `output` contain `text`.
std::size_t countLines(const std::string& output, const std::string& text);

} // namespace ostrel::test
