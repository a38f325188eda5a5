#include "honeypot/Pit.h"

#include "common/Errors.h"
#include "common/Operator.h"
#include "honeypot/BindingSockets.h"
#include "honeypot/ConnectionList.h"
#include "honeypot/ConnectionThreads.h"
#include "honeypot/Listener.h"
#include "honeypot/PitConnection.h"
#include "platform/InterfaceAddresses.h"
#include "platform/WakeSignal.h"

#include <atomic>
#include <mutex>
#include <system_error>

namespace ostrel {

namespace honeypot {

// What one run of the listener holds between start and stop. Going away, it wakes the
// listening threads and waits for them (their sockets close with them) before the signal goes.
struct ListenerRun {
    ~ListenerRun() {
        stop.raise();
        listeners.clear();
    }

    platform::WakeSignal stop;
    std::vector<std::unique_ptr<Listener>> listeners;
};

} // namespace honeypot

using namespace honeypot;

struct Pit::State {
    State(OperationContext& context, AddressSource adapterAddress)
        : context(context),
          adapterAddress(adapterAddress ? std::move(adapterAddress) : AddressSource(platform::AdapterIPAddress)) {}

    OperationContext& context;
    const AddressSource adapterAddress;

    // Start and stop run one at a time; `Bindings` and `DefaultPort` are also read by bindings().
    std::mutex lifecycle;
    mutable std::mutex bindingsMutex;
    std::vector<BindingAddress> Bindings;
    int DefaultPort = 3389;
    std::atomic<bool> active{false};

    ConnectionList Contexts;
    ConnectionThreads threads{MaxThreads};
    std::unique_ptr<ListenerRun> run;

    void addBinding(std::string address) {
        std::lock_guard lock(bindingsMutex);
        Bindings.push_back({std::move(address), DefaultPort});
    }
    std::vector<BindingAddress> currentBindings() const {
        std::lock_guard lock(bindingsMutex);
        return Bindings;
    }
    void removeBindings() {
        std::lock_guard lock(bindingsMutex);
        Bindings.clear();
    }

    void activate();
    void deactivate();
};

void Pit::State::activate() {
    std::vector<BoundSocket> sockets = bindAll(currentBindings());
    listenAll(sockets, ListenQueue);
    auto started = std::make_unique<ListenerRun>();
    threads.open();
    ConnectionHandler handler = [&context = context, &Contexts = Contexts](Socket socket, const std::string& peerIp) {
        serveConnection(context, Contexts, std::move(socket), peerIp);
    };
    const WaitFailureReport reportWaitFailure = [&context = context](const std::string& message) {
        logLine(context.op, message);
    };
    const auto abandon = [&] {
        run = std::move(started);
        deactivate();
    };
    try {
        for (BoundSocket& bound : sockets)
            started->listeners.push_back(std::make_unique<Listener>(std::move(bound.socket), started->stop, threads,
                                                                    handler, reportWaitFailure));
    } catch (const std::system_error& error) {
        abandon();
        throw ESocketError(std::string("Could not start the honeypot's listening thread: ") + error.what());
    } catch (...) {
        abandon();
        throw;
    }
    run = std::move(started);
}

void Pit::State::deactivate() {
    Contexts.closeAll();
    threads.close();
    run.reset();
    // Peers accepted while the listening threads were ending are cut as well.
    Contexts.closeAll();
    threads.joinAll();
}

Pit::Pit(OperationContext& context, AddressSource adapterAddress)
    : m_state(std::make_unique<State>(context, std::move(adapterAddress))) {}

Pit::~Pit() {
    try {
        std::lock_guard lock(m_state->lifecycle);
        if (m_state->active.exchange(false)) {
            m_state->deactivate();
            m_state->removeBindings();
        }
    } catch (...) {
        // Program end: the threads are awaited by the members' own destructors.
    }
}

bool Pit::active() const {
    return m_state->active;
}

void Pit::start(int port) {
    State& state = *m_state;
    std::lock_guard lock(state.lifecycle);
    if (state.active)
        return;
    state.DefaultPort = port;
    try {
        state.addBinding(state.adapterAddress());
        state.addBinding("");
        state.activate();
    } catch (...) {
        state.removeBindings();
        throw;
    }
    state.active = true;
    logLine(state.context.op, " - Honeypot on " + state.adapterAddress() + ":" + std::to_string(port) + " started.");
}

void Pit::stop(const std::string& portText) {
    State& state = *m_state;
    std::lock_guard lock(state.lifecycle);
    if (!state.active)
        return;
    CloseAllConnections();
    state.deactivate();
    state.removeBindings();
    state.active = false;
    logLine(state.context.op, " - Honeypot on " + state.adapterAddress() + ":" + portText + " stopped.");
}

void Pit::CloseAllConnections() {
    m_state->Contexts.closeAll();
}

int Pit::kick(const std::string& address) {
    if (address.empty())
        return 0;
    return m_state->Contexts.closeMatching(address);
}

std::vector<std::pair<std::string, int>> Pit::bindings() const {
    std::vector<std::pair<std::string, int>> pairs;
    for (const BindingAddress& binding : m_state->currentBindings())
        pairs.emplace_back(binding.address, binding.port);
    return pairs;
}

int Pit::connectionThreadPeak() const {
    return m_state->threads.peak();
}

} // namespace ostrel
