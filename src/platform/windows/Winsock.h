#pragma once

namespace ostrel::platform {

// Starts Winsock 2.2 for the process at the first call and cleans up at its end. A failed start
// shows in the next socket call, which then fails with WSANOTINITIALISED and its own text.
void startWinsock();

} // namespace ostrel::platform
