#include "guard/GetEventlog.h"

#include "guard/EventlogScan.h"
#include "platform/EventSource.h"

namespace ostrel {

void GetEventlog(OperationContext& context, platform::EventSource& source, const std::string& Recordnumber) {
    EventlogScan scan(context, Recordnumber);
    scan.read(source);
    if (scan.firstRun()) {
        scan.concludeFirstRun();
        return;
    }
    scan.store();
    ResultSet counts = scan.count();
    scan.blockOffenders(counts);
}

} // namespace ostrel
