#pragma once

namespace ostrel::platform {

// Initialises COM for the calling thread (single-threaded apartment) for its lifetime where the
// event source needs it; nothing to do on Linux. Its result is not looked at: a thread whose COM
// was already initialised keeps it.
class ComScope {
public:
    ComScope();
    ~ComScope();
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    [[maybe_unused]] bool m_initialised = false;
};

} // namespace ostrel::platform
