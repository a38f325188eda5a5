#pragma once

#include "blocking/OperationContext.h"
#include "honeypot/ConnectionList.h"

#include <string>

namespace ostrel::honeypot {

// The connect step: lists the peer in `tarpit`, logs it when DetailLog is on, blocks it with
// "Honeypot-Block" and the honeypot block time unless Debug is on, and closes the connection.
// Raises what the block time's conversion or the block operation raises.
void PitConnect(OperationContext& context, ConnectionList& Contexts, ServedConnection& connection);

// The disconnect step: takes one entry of the peer off `tarpit`.
void PitDisconnect(OperationContext& context, const ServedConnection& connection);

// The whole life of one accepted connection on its own thread: listed in `Contexts` from just
// before the connect step until just after the disconnect step, which runs whatever happened
// before. A failed connect step ends only this connection, with one line naming the peer and the
// error; nothing escapes.
void serveConnection(OperationContext& context, ConnectionList& Contexts, Socket socket,
                     const std::string& peerIp) noexcept;

} // namespace ostrel::honeypot
