#include "honeypot/PitConnection.h"

#include "blocking/Firewall.h"
#include "common/Errors.h"
#include "common/Operator.h"
#include "settings/SettingRanges.h"
#include "settings/Settings.h"

#include <exception>

namespace ostrel::honeypot {

void PitConnect(OperationContext& context, ConnectionList& Contexts, ServedConnection& connection) {
    Operator& op = context.op;
    op.tarpitAppend(connection.PeerIP);
    if (op.detailLog())
        logLine(op, " - Honeypot connect from " + connection.PeerIP);
    if (!op.debug()) {
        const std::int32_t minutes =
            settingNumber(BlockHoneypotIntervalRange, context.settings.get(&SettingsValues::BlockHoneypotInterval));
        Firewall(context, "Honeypot-Block", connection.PeerIP, minutes);
    }
    Contexts.close(connection);
}

void PitDisconnect(OperationContext& context, const ServedConnection& connection) {
    context.op.tarpitRemove(connection.PeerIP);
}

namespace {

// The one line of a connection whose connect step failed: the peer and why.
void logFailedBlock(Operator& op, const std::string& peerIp, const std::exception_ptr& failure) noexcept {
    try {
        std::string reason = "unknown error";
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& error) {
            reason = std::string(errorTypeName(error)) + ": " + error.what();
        } catch (...) {
        }
        logLine(op, " - [Honeypot-Block] IP " + peerIp + " not blocked - " + reason);
    } catch (...) {
        // Without memory for the line the connection still ends.
    }
}

} // namespace

void serveConnection(OperationContext& context, ConnectionList& Contexts, Socket socket,
                     const std::string& peerIp) noexcept {
    try {
        ServedConnection connection(std::move(socket), peerIp);
        Contexts.add(connection);
        try {
            PitConnect(context, Contexts, connection);
        } catch (...) {
            // A failed block ends only this connection; the line tells the operator that a peer
            // went unblocked (a database outage would otherwise leave no trace at all).
            logFailedBlock(context.op, connection.PeerIP, std::current_exception());
        }
        // Out of the list before its entry leaves the window: once the operator sees no entry for
        // an address, a Kick of that address finds no connection either.
        Contexts.remove(connection);
        try {
            PitDisconnect(context, connection);
        } catch (...) {
        }
    } catch (...) {
        // Listing needs memory; without it the connection simply ends.
    }
}

} // namespace ostrel::honeypot
