#include "support/ChannelAppend.h"

#include "platform/EventSource.h"
#include "platform/portable/ChannelFileWriter.h"

namespace ostrel::test {

std::int64_t appendFailedLogons(const std::filesystem::path& folder,
                                const std::vector<std::vector<std::string>>& insertionStrings) {
    std::vector<platform::NewChannelRecord> records;
    for (const auto& strings : insertionStrings)
        records.push_back({platform::FailedLogonEventCode, std::nullopt, strings});
    platform::ChannelFileWriter writer(folder);
    return writer.append(records) + static_cast<std::int64_t>(records.size()) - 1;
}

std::int64_t appendFailedLogonsFrom(const std::filesystem::path& folder, const std::vector<std::string>& addresses) {
    std::vector<std::vector<std::string>> insertionStrings;
    for (const std::string& address : addresses)
        insertionStrings.push_back({address});
    return appendFailedLogons(folder, insertionStrings);
}

} // namespace ostrel::test
