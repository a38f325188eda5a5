#include "guard/GuardStartUp.h"

#include "blocking/FirewallReconcile.h"
#include "blocking/OperationContext.h"
#include "common/Errors.h"
#include "common/Operator.h"
#include "config/ConfigurationLoad.h"
#include "platform/EventSource.h"

#include <exception>
#include <string>

namespace ostrel {

void startUpGuard(ConfigurationLoad& load, OperationContext& context, const platform::EventSource& source) {
    load.startUp();
    logLine(context.op, " - Failed logons are read from " + source.description() + ".");
    if (load.ConfigError())
        return;
    try {
        reconcileFirewall(context);
    } catch (const std::exception& error) {
        // Nobody asked for this work: the line tells the operator, the next pass tries again.
        logLine(context.op, std::string(" ") + errorTypeName(error) + ":" + error.what());
    }
}

} // namespace ostrel
