#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ostrel::test {

// Appends one failed-logon record per entry, carrying that entry's insertion strings, to the
// channel file in `folder`; returns the number of the last record appended.
std::int64_t appendFailedLogons(const std::filesystem::path& folder,
                                const std::vector<std::vector<std::string>>& insertionStrings);

// The same with one record per address, the address its only insertion string.
std::int64_t appendFailedLogonsFrom(const std::filesystem::path& folder, const std::vector<std::string>& addresses);

} // namespace ostrel::test
