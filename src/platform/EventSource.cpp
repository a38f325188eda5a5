#include "platform/platform.h"

namespace ostrel::platform {

std::optional<std::int64_t> EventSource::newestRecordNumber() {
    // Every record present lies above 0; the first one yielded is the newest.
    const std::vector<EventRecord> records = recordsAbove(0);
    if (records.empty())
        return std::nullopt;
    return records.front().RecordNumber;
}

std::optional<EventRecord> EventSource::recordAt(std::int64_t recordNumber) {
    std::vector<EventRecord> records = recordsAbove(recordNumber - 1);
    if (records.empty() || records.back().RecordNumber != recordNumber)
        return std::nullopt;
    return std::move(records.back());
}

} // namespace ostrel::platform
