#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace ostrel::platform {

// One guard's machine-wide claim to read an event channel, held for as long as the object lives:
// a second guard of the machine (another process, or another claim in this one) that reads the
// same channel gets no claim and learns who holds it, so no failed logon is read by two guards.
// The lock goes with the process, however it ends. Where the claim lies: channelClaimFile.
class ChannelClaim {
public:
    // The claim, or nullptr with `holder` saying which process holds it. Raises EInOutError when
    // the claim file cannot be opened or locked.
    static std::unique_ptr<ChannelClaim> tryTake(const std::filesystem::path& file, std::string& holder);
    ~ChannelClaim();
    ChannelClaim(const ChannelClaim&) = delete;
    ChannelClaim& operator=(const ChannelClaim&) = delete;

private:
    ChannelClaim() = default;
    struct Held;
    std::unique_ptr<Held> m_held;
};

} // namespace ostrel::platform
