#include "platform/StopSignals.h"

#include "common/Errors.h"
#include "platform/windows/SystemErrors.h"
#include "platform/windows/UniqueHandle.h"
#include "platform/windows/WindowsApi.h"

#include <mutex>
#include <stdexcept>

namespace ostrel::platform {
namespace {

// How long a closing console, a logoff or a shutdown waits in the handler for the ordered end;
// the system ends the process when the handler returns, and on its own after a while anyway.
constexpr DWORD OrderedEndMilliseconds = 20'000;

std::mutex g_mutex;
const std::function<void()>* g_onStop = nullptr;
HANDLE g_ended = nullptr;

// Runs on a thread the system starts for each event, never inside a signal handler.
BOOL WINAPI onConsoleControl(DWORD event) {
    UniqueHandle ended;
    {
        std::lock_guard lock(g_mutex);
        if (!g_onStop)
            return FALSE; // the system's own handling: the process ends
        (*g_onStop)();
        // A handle of the handler's own: the watcher may end and close its handle while this
        // thread waits, and a closed handle's number can be another object's by then.
        HANDLE own = nullptr;
        if (::DuplicateHandle(::GetCurrentProcess(), g_ended, ::GetCurrentProcess(), &own, SYNCHRONIZE, FALSE, 0))
            ended.reset(own);
    }
    if (ended && (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT))
        ::WaitForSingleObject(ended.get(), OrderedEndMilliseconds);
    return TRUE;
}

class WindowsStopSignals final : public StopSignals {
public:
    explicit WindowsStopSignals(std::function<void()> onStop) : m_onStop(std::move(onStop)) {
        std::lock_guard lock(g_mutex);
        if (g_onStop)
            throw std::logic_error("only one StopSignals at a time");
        m_ended.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!m_ended)
            throw EOSError(failureText("Cannot create the stop event", ::GetLastError()));
        if (!::SetConsoleCtrlHandler(onConsoleControl, TRUE))
            throw EOSError(failureText("Cannot watch the console's control events", ::GetLastError()));
        g_onStop = &m_onStop;
        g_ended = m_ended.get();
    }

    ~WindowsStopSignals() override {
        {
            std::lock_guard lock(g_mutex);
            g_onStop = nullptr;
            g_ended = nullptr;
        }
        ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
        // A handler waiting for the ordered end may let the system end the process now.
        ::SetEvent(m_ended.get());
    }

    WindowsStopSignals(const WindowsStopSignals&) = delete;
    WindowsStopSignals& operator=(const WindowsStopSignals&) = delete;

private:
    std::function<void()> m_onStop;
    UniqueHandle m_ended;
};

} // namespace

std::unique_ptr<StopSignals> watchStopSignals(std::function<void()> onStop) {
    return std::make_unique<WindowsStopSignals>(std::move(onStop));
}

} // namespace ostrel::platform
