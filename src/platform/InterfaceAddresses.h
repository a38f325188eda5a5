#pragma once

#include <string>
#include <vector>

// The addresses this machine's network interfaces hold.
namespace ostrel::platform {

// IPv4 address of the first non-loopback interface that is up, or empty text.
std::string AdapterIPAddress();

// The addresses this machine's interfaces hold (in the calling thread's network namespace), in
// their one text (canonicalAddress): one look at the interfaces for a whole batch of addresses.
std::vector<std::string> ownAddresses();

} // namespace ostrel::platform
