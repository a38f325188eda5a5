#include "platform/EventSource.h"

#include <algorithm>

namespace ostrel::platform {

std::optional<std::int64_t> EventSource::newestRecordNumber() {
    // Every record present lies above 0; the first one yielded is the newest.
    const std::vector<EventRecord> records = recordsAbove(0);
    if (records.empty())
        return std::nullopt;
    return records.front().RecordNumber;
}

std::optional<EventRecord> EventSource::recordAt(std::int64_t recordNumber) {
    // Sources promise no order (the event log's query has no ORDER BY): look for the number.
    std::vector<EventRecord> records = recordsAbove(recordNumber - 1);
    const auto found = std::find_if(records.begin(), records.end(),
                                    [&](const EventRecord& record) { return record.RecordNumber == recordNumber; });
    if (found == records.end())
        return std::nullopt;
    return std::move(*found);
}

} // namespace ostrel::platform
