#pragma once

#include <ostream>

namespace ostrel {

struct CtlOptions;
class CtlSession;

// The commands on the blocks; each returns its exit status (CtlExit) and raises what fails.
int listBlocks(CtlSession& session, const CtlOptions& options, std::ostream& out);
int unblockAddress(CtlSession& session, const CtlOptions& options, std::ostream& out);
int blockAddress(CtlSession& session, const CtlOptions& options, std::ostream& out);

} // namespace ostrel
