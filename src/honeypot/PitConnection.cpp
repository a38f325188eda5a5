#include "honeypot/PitConnection.h"

#include "blocking/Firewall.h"
#include "common/Operator.h"
#include "config/SettingRanges.h"
#include "config/Settings.h"

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

void serveConnection(OperationContext& context, ConnectionList& Contexts, Socket socket,
                     const std::string& peerIp) noexcept {
    try {
        ServedConnection connection(std::move(socket), peerIp);
        Contexts.add(connection);
        try {
            PitConnect(context, Contexts, connection);
        } catch (...) {
            // A failed block ends only this connection, and silently.
        }
        try {
            PitDisconnect(context, connection);
        } catch (...) {
        }
        Contexts.remove(connection);
    } catch (...) {
        // Listing needs memory; without it the connection simply ends.
    }
}

} // namespace ostrel::honeypot
