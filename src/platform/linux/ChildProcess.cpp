#include "platform/linux/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ostrel::platform {
namespace {

std::string systemText(int error) {
    return std::strerror(error);
}

struct Pipe {
    FileDescriptor read;
    FileDescriptor write;
};

Pipe makePipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw EOSError("Cannot create a pipe: " + systemText(errno));
    return {FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

class SpawnActions {
public:
    SpawnActions() { ::posix_spawn_file_actions_init(&m_actions); }
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&m_actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    void dup2(int from, int to) { ::posix_spawn_file_actions_adddup2(&m_actions, from, to); }
    const posix_spawn_file_actions_t* get() const { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions;
};

class SpawnAttributes {
public:
    // The child starts with no signal blocked and SIGPIPE at its default, whatever the
    // calling thread has set up for itself.
    SpawnAttributes() {
        ::posix_spawnattr_init(&m_attributes);
        sigset_t none;
        sigemptyset(&none);
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        ::posix_spawnattr_setsigmask(&m_attributes, &none);
        ::posix_spawnattr_setsigdefault(&m_attributes, &pipe);
        ::posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&m_attributes); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    const posix_spawnattr_t* get() const { return &m_attributes; }

private:
    posix_spawnattr_t m_attributes;
};

// Writing to a child that has stopped reading must fail with EPIPE instead of ending this
// process. The signal is blocked for this thread only, and one it raised is taken back.
class SigpipeBlock {
public:
    SigpipeBlock() {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
        ::pthread_sigmask(SIG_BLOCK, &m_pipe, &m_previous);
    }
    ~SigpipeBlock() {
        if (!m_wasPending) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec now{0, 0};
                ::sigtimedwait(&m_pipe, nullptr, &now);
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

private:
    sigset_t m_pipe;
    sigset_t m_previous;
    bool m_wasPending = false;
};

// Reads what is there; closes the pipe at the end of the stream.
void readInto(FileDescriptor& from, std::string& into) {
    char buffer[65536];
    const ssize_t got = ::read(from.get(), buffer, sizeof buffer);
    if (got > 0)
        into.append(buffer, static_cast<std::size_t>(got));
    else if (got == 0 || (errno != EINTR && errno != EAGAIN))
        from.reset();
}

// Writes what the pipe takes; closes the pipe when all is written or the child stopped reading.
void writeFrom(FileDescriptor& to, std::string_view input, std::size_t& written) {
    const std::size_t chunk = std::min<std::size_t>(input.size() - written, 65536);
    const ssize_t put = ::write(to.get(), input.data() + written, chunk);
    if (put > 0)
        written += static_cast<std::size_t>(put);
    else if (put < 0 && errno != EINTR && errno != EAGAIN)
        written = input.size(); // EPIPE: the program ended or closed its stdin; it decides the outcome
    if (written == input.size())
        to.reset();
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    if (argv.empty())
        throw EOSError("No program to start");
    Pipe input = makePipe();
    Pipe output = makePipe();
    Pipe errors = makePipe();
    SpawnActions actions;
    actions.dup2(input.read.get(), STDIN_FILENO);
    actions.dup2(output.write.get(), STDOUT_FILENO);
    actions.dup2(errors.write.get(), STDERR_FILENO);
    SpawnAttributes attributes;

    std::vector<char*> arguments;
    arguments.reserve(argv.size() + 1);
    for (const auto& argument : argv)
        arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);

    const int error =
        ::posix_spawnp(&m_pid, argv.front().c_str(), actions.get(), attributes.get(), arguments.data(), environ);
    if (error != 0) {
        m_pid = -1;
        throw EOSError("Cannot start " + argv.front() + ": " + systemText(error));
    }
    ::fcntl(input.write.get(), F_SETFL, ::fcntl(input.write.get(), F_GETFL) | O_NONBLOCK);
    m_input = std::move(input.write);
    m_output = std::move(output.read);
    m_errors = std::move(errors.read);
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0) {
        kill();
        wait();
    }
}

int ChildProcess::wait() {
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0) {
        if (errno != EINTR) {
            status = -1;
            break;
        }
    }
    m_pid = -1;
    return status;
}

void ChildProcess::kill() {
    signal(SIGKILL);
}

void ChildProcess::signal(int number) {
    if (m_pid > 0)
        ::kill(m_pid, number);
}

std::string findProgram(const std::string& program, std::string_view searchPath) {
    if (program.empty() || program.find('/') != std::string::npos)
        return program;
    const auto isExecutable = [](const std::string& file) {
        struct stat status {};
        return ::stat(file.c_str(), &status) == 0 && S_ISREG(status.st_mode) && ::access(file.c_str(), X_OK) == 0;
    };
    std::vector<std::string_view> folders;
    for (;;) {
        const auto colon = searchPath.find(':');
        folders.push_back(searchPath.substr(0, colon));
        if (colon == std::string_view::npos)
            break;
        searchPath.remove_prefix(colon + 1);
    }
    folders.insert(folders.end(), {"/usr/local/sbin", "/usr/sbin", "/sbin"});
    for (const std::string_view folder : folders) {
        if (folder.empty())
            continue;
        const std::string candidate = std::string(folder) + "/" + program;
        if (isExecutable(candidate))
            return candidate;
    }
    return program;
}

ProcessOutcome runProcess(const std::vector<std::string>& argv, std::string_view input,
                          std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    ChildProcess child(argv);
    ProcessOutcome outcome;
    std::size_t written = 0;
    if (input.empty())
        child.input().reset();

    SigpipeBlock sigpipeBlock;
    while (child.input() || child.output() || child.errors()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            child.kill();
            child.wait();
            throw EOSError(argv.front() + " did not end within " + std::to_string(timeout.count() / 1000) + " s");
        }
        pollfd watched[3] = {{child.input().get(), POLLOUT, 0},
                             {child.output().get(), POLLIN, 0},
                             {child.errors().get(), POLLIN, 0}}; // a closed end (-1) is ignored by poll
        if (::poll(watched, 3, static_cast<int>(left.count())) < 0) {
            if (errno == EINTR)
                continue;
            throw EOSError("Cannot wait for " + argv.front() + ": " + systemText(errno));
        }
        if (watched[0].revents != 0)
            writeFrom(child.input(), input, written);
        if (watched[1].revents != 0)
            readInto(child.output(), outcome.output);
        if (watched[2].revents != 0)
            readInto(child.errors(), outcome.errors);
    }

    const int status = child.wait();
    if (status == -1)
        throw EOSError("Cannot learn how " + argv.front() + " ended: " + systemText(errno));
    if (WIFEXITED(status))
        outcome.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        outcome.signal = WTERMSIG(status);
    return outcome;
}

} // namespace ostrel::platform
