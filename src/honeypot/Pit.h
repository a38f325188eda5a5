#pragma once

#include "common/OperationContext.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ostrel {

// The honeypot listener: every peer that connects is listed, blocked through Firewall with
// "Honeypot-Block" and the honeypot block time, and disconnected at once. Two IPv4
// bindings (the adapter address, then all addresses) on one port, one listening thread
// each, one thread per accepted connection, at most MaxThreads of them at a time.
class Pit {
public:
    static constexpr int MaxThreads = 10;
    static constexpr int ListenQueue = 15;

    using AddressSource = std::function<std::string()>;

    // The adapter address is read through `adapterAddress` at every use.
    explicit Pit(OperationContext& context, AddressSource adapterAddress = {});
    // Stops a running listener (without the stop's log line) and awaits its threads.
    ~Pit();
    Pit(const Pit&) = delete;
    Pit& operator=(const Pit&) = delete;

    bool active() const;
    // Starts listening on `port` and logs " - Honeypot on <adapter>:<port> started.".
    // A failed start leaves nothing behind and raises ESocketError with the reason.
    void start(int port);
    // Closes every connection, ends the listening threads, waits for every connection
    // thread, and logs " - Honeypot on <adapter>:<portText> stopped.".
    void stop(const std::string& portText);
    // Closes every connection in the list (each ends on its own thread).
    void CloseAllConnections();
    // Closes every live connection whose peer is `address`; the number closed.
    int kick(const std::string& address);

    // (address, port) of each binding, in order; empty while stopped.
    std::vector<std::pair<std::string, int>> bindings() const;

private:
    // Kept opaque so that the header stays free of socket and thread details.
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace ostrel
