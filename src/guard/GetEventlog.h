#pragma once

#include "blocking/OperationContext.h"

#include <string>

namespace ostrel {

namespace platform {
class EventSource;
}

// The event-log scan: reads the failed-logon records above `Recordnumber` (the text of
// LastRecord), stores their addresses as sightings, counts the sightings per address and
// blocks every address above the threshold through Firewall, deleting its sightings.
// Moves LastRecord (in the settings and in Config.ini) once the sightings are stored.
// A first run (LastRecord 0) only learns where the channel stands. Failures raise.
void GetEventlog(OperationContext& context, platform::EventSource& source, const std::string& Recordnumber);

} // namespace ostrel
