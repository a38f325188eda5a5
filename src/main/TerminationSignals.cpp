#include "main/TerminationSignals.h"

#include <QSocketNotifier>
#include <csignal>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrel {

namespace {

constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};

// A signal handler may only write to a descriptor; the UI thread reads the other end.
volatile std::sig_atomic_t g_writeFd = -1;

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_writeFd, &byte, 1);
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), m_onSignal(std::move(onSignal)) {
    if (g_writeFd != -1)
        throw std::logic_error("only one TerminationSignals at a time");
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_fds) != 0)
        throw std::runtime_error("cannot make the signal socket pair");
    g_writeFd = m_fds[0];
    m_notifier = std::make_unique<QSocketNotifier>(m_fds[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        char byte;
        [[maybe_unused]] const auto got = ::read(m_fds[1], &byte, 1);
        m_onSignal();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : Signals)
        ::sigaction(signal, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : Signals)
        ::sigaction(signal, &action, nullptr);
    m_notifier.reset();
    g_writeFd = -1;
    ::close(m_fds[0]);
    ::close(m_fds[1]);
}

} // namespace ostrel
