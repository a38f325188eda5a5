#include "main/TerminationSignals.h"

#include "platform/StopSignals.h"

#include <QMetaObject>

namespace ostrel {

TerminationSignals::TerminationSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), m_onSignal(std::move(onSignal)) {
    // The request arrives on the platform's watching thread; the window is the UI thread's.
    m_signals = platform::watchStopSignals([this] {
        QMetaObject::invokeMethod(
            this, [this] { m_onSignal(); }, Qt::QueuedConnection);
    });
}

// The watcher goes first, so no request is posted to an object that is going away.
TerminationSignals::~TerminationSignals() = default;

} // namespace ostrel
