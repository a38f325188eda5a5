#include "platform/windows/UniqueHandle.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WindowsApi.h"
#include "platform/windows/WmiEventSource.h"

#include <thread>
#include <winevt.h>

namespace ostrel::platform {
namespace {

struct EvtClose {
    void operator()(EVT_HANDLE handle) const {
        if (handle)
            ::EvtClose(handle);
    }
};
using UniqueEvt = std::unique_ptr<std::remove_pointer_t<EVT_HANDLE>, EvtClose>;

// The event log signals an event object whenever a record of the channel arrives that matches
// the query (EvtSubscribe in its pull mode); a thread turns each signal into one call. The
// records themselves are still read by the pass, so a missed signal costs only time.
class EventLogWatch final : public SourceWatch {
public:
    EventLogWatch(UniqueHandle signal, UniqueEvt subscription, std::function<void()> onChange)
        : m_signal(std::move(signal)), m_stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_subscription(std::move(subscription)), m_onChange(std::move(onChange)) {
        m_thread = std::thread([this] { run(); });
    }
    ~EventLogWatch() override {
        ::SetEvent(m_stop.get());
        m_thread.join();
    }

private:
    void run() {
        const HANDLE waits[2] = {m_stop.get(), m_signal.get()};
        for (;;) {
            const DWORD which = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (which != WAIT_OBJECT_0 + 1)
                return;
            drain();
            ::ResetEvent(m_signal.get());
            m_onChange();
        }
    }
    // The subscription hands out what it signalled; unread handles would keep it signalled.
    void drain() {
        EVT_HANDLE events[64];
        DWORD returned = 0;
        while (::EvtNext(m_subscription.get(), 64, events, 0, 0, &returned) && returned > 0) {
            for (DWORD i = 0; i < returned; ++i)
                ::EvtClose(events[i]);
        }
    }

    UniqueHandle m_signal;
    UniqueHandle m_stop;
    UniqueEvt m_subscription;
    std::function<void()> m_onChange;
    std::thread m_thread;
};

} // namespace

std::unique_ptr<SourceWatch> WmiEventSource::watch(std::function<void()> onChange) {
    UniqueHandle signal(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!signal)
        return nullptr;
    const std::wstring channel = toUtf16(m_channel);
    const std::wstring query = L"*[System[EventID=" + std::to_wstring(FailedLogonEventCode) + L"]]";
    UniqueEvt subscription(::EvtSubscribe(nullptr, signal.get(), channel.c_str(), query.c_str(), nullptr, nullptr,
                                          nullptr, EvtSubscribeToFutureEvents));
    // Where the event log offers no subscription (Wine only stubs it) the timer finds the records.
    if (!subscription)
        return nullptr;
    return std::make_unique<EventLogWatch>(std::move(signal), std::move(subscription), std::move(onChange));
}

} // namespace ostrel::platform
