#include "platform/portable/HeldAddressRecord.h"

namespace ostrel::platform {

HeldAddressRecord::HeldAddressRecord(FirewallRecordTiming timing) : m_timing(std::move(timing)) {}

HeldAddressRecord::TimePoint HeldAddressRecord::now() const {
    return m_timing.clock ? m_timing.clock() : std::chrono::steady_clock::now();
}

bool HeldAddressRecord::answers() const {
    return m_known && now() - m_readAt < m_timing.verificationInterval;
}

std::optional<std::vector<std::string>> HeldAddressRecord::addresses() const {
    std::lock_guard lock(m_mutex);
    if (!answers())
        return std::nullopt;
    return std::vector<std::string>(m_held.begin(), m_held.end());
}

std::optional<std::uint64_t> HeldAddressRecord::version() const {
    std::lock_guard lock(m_mutex);
    if (!answers())
        return std::nullopt;
    return m_version;
}

std::vector<std::string> HeldAddressRecord::addressesOrRead(const std::function<std::vector<std::string>()>& read) {
    if (std::optional<std::vector<std::string>> held = addresses())
        return std::move(*held);
    const std::uint64_t reading = readingStarts();
    std::vector<std::string> listed = read();
    readingEnded(reading, listed);
    return listed;
}

std::uint64_t HeldAddressRecord::readingStarts() const {
    std::lock_guard lock(m_mutex);
    return m_changes;
}

void HeldAddressRecord::readingEnded(std::uint64_t reading, const std::vector<std::string>& held) {
    std::lock_guard lock(m_mutex);
    if (reading != m_changes)
        return;
    m_held = std::unordered_set<std::string>(held.begin(), held.end());
    m_known = true;
    m_readAt = now();
    ++m_version;
}

void HeldAddressRecord::added(const std::string& address) {
    std::lock_guard lock(m_mutex);
    ++m_changes;
    if (m_known && m_held.insert(address).second)
        ++m_version;
}

void HeldAddressRecord::removed(const std::string& address) {
    std::lock_guard lock(m_mutex);
    ++m_changes;
    if (m_known && m_held.erase(address) > 0)
        ++m_version;
}

void HeldAddressRecord::failed() {
    std::lock_guard lock(m_mutex);
    ++m_changes;
    if (m_known)
        ++m_version;
    m_known = false;
}

} // namespace ostrel::platform
