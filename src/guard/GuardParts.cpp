#include "guard/GuardParts.h"

#include "blocking/AbuseReport.h"
#include "common/Operator.h"
#include "config/IniFile.h"
#include "guard/ChosenEventSource.h"
#include "platform/EventChannel.h"

namespace ostrel {

GuardParts::GuardParts(Wiring wiring, Operator& op, PassProgress& progress) {
    ini = std::make_unique<IniFile>(wiring.configFile,
                                    wiring.readOnlySettings ? IniFile::Access::ReadOnly : IniFile::Access::ReadWrite);
    // A settings file that cannot be rewritten (a full disk) keeps its old content; the log says why.
    ini->setWriteFailureHandler([&op](const std::string& message) { logLine(op, " - " + message + "."); });
    firewall = wiring.makeFirewall(op);
    abuseReport = std::make_unique<AbuseReport>(settings, op);
    context = std::make_unique<OperationContext>(OperationContext{settings, *ini, op, *firewall, *abuseReport});
    eventSource = std::move(wiring.eventSource);
    if (!eventSource) {
        eventSource = std::make_unique<ChosenEventSource>(
            settings, platform::EventSourcePlaces{wiring.eventChannelFolder, wiring.configFile.parent_path()},
            std::move(wiring.eventSourceChoice));
    }
    guard = std::make_unique<GuardTimer>(*context, *eventSource, progress);
    guard->claimChannelAt(platform::channelClaimFile(wiring.eventChannelFolder));
    load = std::make_unique<ConfigurationLoad>(settings, *ini, op, wiring.eventChannelFolder,
                                               std::move(wiring.showDialog));
    pit = std::make_unique<Pit>(*context, std::move(wiring.adapterAddress));
}

GuardParts::~GuardParts() {
    end();
}

void GuardParts::end() {
    // The honeypot's threads block through the firewall: they end before its queue is applied.
    pit.reset();
    if (firewall)
        firewall->drain();
    // Queued reports are sent or dropped with a line, bounded by one report's time limit.
    if (abuseReport)
        abuseReport->finish();
    if (load)
        load->Conn().disconnect();
}

} // namespace ostrel
