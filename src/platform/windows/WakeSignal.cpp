#include "platform/WakeSignal.h"

#include "common/Errors.h"
#include "platform/windows/SystemErrors.h"
#include "platform/windows/WindowsApi.h"
#include "platform/windows/Winsock.h"

namespace ostrel::platform {
namespace {

WSAEVENT eventOf(std::intptr_t handle) {
    return reinterpret_cast<WSAEVENT>(handle);
}

std::intptr_t newEvent() {
    startWinsock();
    // Manual reset: once raised it stays raised for every waiter.
    const WSAEVENT event = ::WSACreateEvent();
    if (event == WSA_INVALID_EVENT)
        throw ESocketError(failureText("Could not create the honeypot's wake-up signal", ::WSAGetLastError()));
    return reinterpret_cast<std::intptr_t>(event);
}

} // namespace

WakeSignal::WakeSignal() : m_handle(newEvent()) {}

WakeSignal::~WakeSignal() {
    ::WSACloseEvent(eventOf(m_handle));
}

void WakeSignal::raise() noexcept {
    ::WSASetEvent(eventOf(m_handle));
}

bool WakeSignal::raised() const {
    return waitFor(0);
}

bool WakeSignal::waitFor(int milliseconds) const {
    const WSAEVENT event = eventOf(m_handle);
    const DWORD timeout = milliseconds < 0 ? WSA_INFINITE : static_cast<DWORD>(milliseconds);
    return ::WSAWaitForMultipleEvents(1, &event, FALSE, timeout, FALSE) == WSA_WAIT_EVENT_0;
}

} // namespace ostrel::platform
