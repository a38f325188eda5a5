#pragma once

#include "ctl/CtlOperator.h"
#include "guard/GuardParts.h"

#include <ostream>

namespace ostrel {

struct CtlOptions;

// The guard's parts as a command needs them: the settings loaded from the guard's Config.ini
// (read only), the firewall command of this machine, the abuse report and the operation context.
// Ends in order when it goes: firewall changes applied, abuse reports sent.
class CtlSession : private PassProgress {
public:
    // Loads the settings; a file that cannot be read, a missing connection value or a value out
    // of range raises Error saying why.
    CtlSession(const CtlOptions& options, std::ostream& out);
    ~CtlSession() override = default;
    CtlSession(const CtlSession&) = delete;
    CtlSession& operator=(const CtlSession&) = delete;

    OperationContext& context() { return *m_parts.context; }
    GuardParts& parts() { return m_parts; }

private:
    void setMaximum(int) override {}
    void stepIt() override {}
    void reset() override {}

    CtlOperator m_operator;
    GuardParts m_parts;
};

} // namespace ostrel
