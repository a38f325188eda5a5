#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::platform {

// One line of a channel file as read: a JSON object with at least a whole-number RecordNumber.
struct ChannelRecordLine {
    std::int64_t RecordNumber = 0;
    std::optional<std::int64_t> EventCode;
    std::optional<std::vector<std::string>> Data;
    std::optional<std::vector<std::string>> InsertionStrings;
};

// Parses one line. Array elements become text: strings as they are, whole numbers in decimal,
// anything else as its JSON text. nullopt for a line that is no such record: not JSON, not an
// object, no whole-number RecordNumber, an EventCode that is no whole number, or a Data or
// InsertionStrings that is neither null nor an array.
std::optional<ChannelRecordLine> parseChannelRecordLine(std::string_view line);

} // namespace ostrel::platform
