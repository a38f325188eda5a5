#include "platform/portable/ChannelClaim.h"

#include "common/Errors.h"
#include "platform/ChannelFile.h"
#include "platform/System.h"

#include <fstream>
#include <sstream>

namespace ostrel::platform {
namespace {

std::filesystem::path holderFileOf(const std::filesystem::path& file) {
    std::filesystem::path holder = file;
    holder += ".holder";
    return holder;
}

std::string heldBy(const std::filesystem::path& file) {
    std::ifstream in(holderFileOf(file));
    std::string text;
    std::getline(in, text);
    return text.empty() ? "another process" : text;
}

} // namespace

struct ChannelClaim::Held {
    ChannelFile file;
};

ChannelClaim::~ChannelClaim() = default;

std::unique_ptr<ChannelClaim> ChannelClaim::tryTake(const std::filesystem::path& file, std::string& holder) {
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
    auto held = std::make_unique<Held>();
    SystemError error;
    if (!held->file.openForAppending(file, error))
        throw EInOutError("Cannot open " + file.string() + " to guard the event channel: " + error.text);
    bool busy = false;
    if (!held->file.tryLockExclusive(busy, error)) {
        if (!busy)
            throw EInOutError("Cannot lock " + file.string() + " to guard the event channel: " + error.text);
        holder = heldBy(file);
        return nullptr;
    }
    // Only the lock counts; the holder's text is what a second guard tells its operator.
    std::ofstream(holderFileOf(file), std::ios::trunc) << "process " << currentProcessId() << "\n";
    std::unique_ptr<ChannelClaim> claim(new ChannelClaim);
    claim->m_held = std::move(held);
    return claim;
}

} // namespace ostrel::platform
