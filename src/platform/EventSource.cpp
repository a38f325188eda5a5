#include "platform/platform.h"

namespace ostrel::platform {

std::optional<std::int64_t> EventSource::newestRecordNumber() {
    // Every record present lies above 0; the first one yielded is the newest.
    const std::vector<EventRecord> records = recordsAbove(0);
    if (records.empty())
        return std::nullopt;
    return records.front().RecordNumber;
}

} // namespace ostrel::platform
