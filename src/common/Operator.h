#pragma once

#include <string>

namespace ostrel {

// The two log panes of the operator window.
enum class Pane { Log, Clearlog };

// What the core needs of the operator window, and nothing more. Every method may be
// called from any thread: the window carries each change out on its own thread in the
// order the calling thread asked for it, and never makes the caller wait for that.
class Operator {
public:
    virtual ~Operator() = default;

    // Appends a log line: the current date and time (taken now, on the calling thread)
    // followed by the message.
    virtual void log(Pane pane, const std::string& message) = 0;
    // Appends a line as it stands, without date and time (the start-up banner).
    virtual void logPlain(Pane pane, const std::string& line) = 0;

    // The honeypot list `tarpit`: append an address; delete the first entry equal to it
    // (compared without regard to case), if there is one.
    virtual void tarpitAppend(const std::string& address) = 0;
    virtual void tarpitRemove(const std::string& address) = 0;

    // The operator switches, read at the moment of use.
    virtual bool debug() const = 0;
    virtual bool detailLog() const = 0;
};

// Shorthand for the main pane, which takes nearly every line.
inline void logLine(Operator& op, const std::string& message) {
    op.log(Pane::Log, message);
}

} // namespace ostrel
