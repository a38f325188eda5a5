#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ostrel::platform {

// What one line of xrdp's session manager log says about a logon.
struct XrdpLogLine {
    enum class Kind {
        Other,           // any other message: passed over
        FailedLogon,     // "AUTHFAIL: user=... ip=<address> time=..."
        UnreadableLogon, // an AUTHFAIL line whose address cannot be read
    };
    Kind kind = Kind::Other;
    std::string address; // FailedLogon: the address in its one text (IPv4-mapped as IPv4)
};

// Reads one line (without its "\n"). The address is the value of the last " ip=" of the line:
// the user name before it is the client's own text and may itself hold " ip=...".
XrdpLogLine readXrdpLogLine(std::string_view line);

} // namespace ostrel::platform
