#pragma once

#include "common/Errors.h"
#include "platform/linux/FileDescriptor.h"

#include <chrono>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace ostrel::platform {

// A program could not be started, or did not end in time.
class EOSError : public Error {
public:
    using Error::Error;
    const char* typeName() const noexcept override { return "EOSError"; }
};

// A started program with pipes to its stdin, stdout and stderr. Started without a shell;
// argv[0] is looked up through PATH unless it holds a slash. A child still running when its
// owner lets go of it is killed and reaped, so no zombie and no orphan is left behind.
class ChildProcess {
public:
    // Raises EOSError when the program cannot be started (missing, not executable, ...).
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The parent's ends; the stdin end does not block.
    FileDescriptor& input() { return m_input; }
    FileDescriptor& output() { return m_output; }
    FileDescriptor& errors() { return m_errors; }

    // Waits for the program to end and returns its wait status.
    int wait();
    void kill();
    // Sends the running program a signal (SIGTERM to ask it to end).
    void signal(int number);

private:
    pid_t m_pid = -1;
    FileDescriptor m_input;
    FileDescriptor m_output;
    FileDescriptor m_errors;
};

// The file that starting `program` runs: a name with a slash as it is; otherwise the first
// executable of that name in the folders of `searchPath` (PATH's form), then in the system
// folders of the administrator's programs, which the PATH of a program started by `su` or from a
// desktop session lacks on Debian. The name unchanged when none is found.
std::string findProgram(const std::string& program, std::string_view searchPath);

// How a program that ran has ended, and what it wrote.
struct ProcessOutcome {
    int exitCode = -1; // -1 when a signal ended it
    int signal = 0;
    std::string output;
    std::string errors;

    bool succeeded() const { return signal == 0 && exitCode == 0; }
};

// Runs a program to its end: writes input to its stdin and closes it, collects stdout and
// stderr. Raises EOSError when the program cannot be started, or when it outlives the
// timeout (it is killed then).
ProcessOutcome runProcess(const std::vector<std::string>& argv, std::string_view input = {},
                          std::chrono::milliseconds timeout = std::chrono::seconds(60));

} // namespace ostrel::platform
