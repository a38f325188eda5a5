#include "platform/XrdpLogSource.h"

#include "common/Errors.h"

namespace ostrel::platform {

// xrdp serves Remote Desktop on Linux; a Windows server has its own event log to read.
std::filesystem::path xrdpClaimFile(const std::filesystem::path&) {
    return {};
}

std::filesystem::path xrdpSharedPositionFile(const std::filesystem::path&, const std::string&) {
    return {};
}

XrdpLogSource::XrdpLogSource(std::filesystem::path log, std::filesystem::path positionFile, std::size_t maxLineBytes)
    : m_log(std::move(log)), m_positionFile(std::move(positionFile)), m_maxLineBytes(maxLineBytes) {
    throw EOleException("The xrdp log " + m_log.string() + " is read on Linux only", 0x32 /* ERROR_NOT_SUPPORTED */);
}

std::vector<EventRecord> XrdpLogSource::recordsAbove(std::int64_t) {
    return {};
}

} // namespace ostrel::platform
