#pragma once

#include "blocking/OperationContext.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ostrel {

// The honeypot listener: every peer that connects is listed, blocked through Firewall with
// "Honeypot-Block" and the honeypot block time, and disconnected at once. Two IPv4
// bindings (the adapter address, then all addresses) on one port, one listening thread
// per bound socket, one thread per accepted connection, at most MaxThreads of them at a time.
//
// Where the system refuses a specific address beside an all-addresses binding of the same
// port (Linux does, without address reuse), the adapter binding is served by the all-addresses
// socket: peers are accepted at every local address, and the adapter address shows in the log
// lines and in bindings() only. Connections are closed with a reset, so a stopped honeypot
// leaves no TIME_WAIT entries that would refuse the next start on the same port.
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
    // Does nothing while the listener runs.
    void start(int port);
    // Closes every connection, ends the listening threads, waits for every connection
    // thread, and logs " - Honeypot on <adapter>:<portText> stopped.". Does nothing while
    // the listener is stopped.
    void stop(const std::string& portText);
    // Closes every connection in the list (each ends on its own thread).
    void CloseAllConnections();
    // Closes every listed connection whose peer is exactly `address` and returns how many
    // there were (the window deletes its selected entry when this is not 0). An empty
    // address does nothing.
    int kick(const std::string& address);

    // (address, port) of each binding, in order; empty while stopped. An empty address
    // means all local addresses.
    std::vector<std::pair<std::string, int>> bindings() const;

    // The most connection threads that existed at one time since the last start.
    int connectionThreadPeak() const;

private:
    // Kept opaque so that the header stays free of socket and thread details.
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace ostrel
