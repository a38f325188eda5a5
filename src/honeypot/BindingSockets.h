#pragma once

#include "honeypot/Socket.h"

#include <vector>

namespace ostrel::honeypot {

// Binds the sockets that serve a list of bindings, all or none: on failure the sockets made
// so far are closed and ESocketError is raised.
//
// Linux refuses a specific address beside an all-addresses binding of the same port unless
// both sockets ask for address reuse, which the honeypot never does. So the all-addresses
// bindings are made first: once such a bind has succeeded, the port is free at every local
// address, and a later binding of that port that the system refuses as in use can only
// collide with our own socket, which already accepts its peers. That binding is covered and
// gets no socket of its own; any other failure of it still fails the whole start. A port held
// by anyone else makes the all-addresses bind itself fail.
struct BoundSocket {
    BindingAddress binding;
    Socket socket;
};
std::vector<BoundSocket> bindAll(const std::vector<BindingAddress>& bindings);

// Puts the sockets of bindAll to listening. Some systems (Wine on Linux among them) let the
// covered binding bind and refuse it only when it listens: such a socket is dropped like one
// refused at bind. Any other failure raises ESocketError.
void listenAll(std::vector<BoundSocket>& sockets, int queue);

} // namespace ostrel::honeypot
