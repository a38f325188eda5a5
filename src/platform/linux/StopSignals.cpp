#include "platform/StopSignals.h"

#include "common/Errors.h"
#include "platform/linux/FileDescriptor.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace ostrel::platform {
namespace {

constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr char StopByte = 1;
constexpr char QuitByte = 0;

// A signal handler may only write to a descriptor; the watching thread reads the other end.
volatile std::sig_atomic_t g_writeFd = -1;

void onStopSignal(int) {
    const int savedErrno = errno;
    [[maybe_unused]] const auto written = ::write(g_writeFd, &StopByte, 1);
    errno = savedErrno;
}

void setHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : Signals)
        ::sigaction(signal, &action, nullptr);
}

class LinuxStopSignals final : public StopSignals {
public:
    explicit LinuxStopSignals(std::function<void()> onStop) : m_onStop(std::move(onStop)) {
        if (g_writeFd != -1)
            throw std::logic_error("only one StopSignals at a time");
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            throw EInOutError(std::string("Cannot create the stop signal pipe: ") + std::strerror(errno));
        m_read = FileDescriptor(ends[0]);
        m_write = FileDescriptor(ends[1]);
        m_watcher = std::thread([this] { watch(); });
        g_writeFd = m_write.get();
        setHandler(onStopSignal);
    }

    ~LinuxStopSignals() override {
        setHandler(SIG_DFL);
        g_writeFd = -1;
        [[maybe_unused]] const auto written = ::write(m_write.get(), &QuitByte, 1);
        m_watcher.join();
    }

    LinuxStopSignals(const LinuxStopSignals&) = delete;
    LinuxStopSignals& operator=(const LinuxStopSignals&) = delete;

private:
    void watch() {
        for (;;) {
            char byte = QuitByte;
            const auto got = ::read(m_read.get(), &byte, 1);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0 || byte == QuitByte)
                return;
            m_onStop();
        }
    }

    std::function<void()> m_onStop;
    FileDescriptor m_read;
    FileDescriptor m_write;
    std::thread m_watcher;
};

} // namespace

std::unique_ptr<StopSignals> watchStopSignals(std::function<void()> onStop) {
    return std::make_unique<LinuxStopSignals>(std::move(onStop));
}

} // namespace ostrel::platform
