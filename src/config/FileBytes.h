#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// The whole content of a file, or nullopt when it cannot be opened or read.
std::optional<std::string> readFileBytes(const std::filesystem::path& file);

// Replaces the content of a file. A file that does not exist yet is created readable and
// writable by its owner only, from the first byte on, since settings files hold passwords;
// an existing file keeps its permissions. Returns false when the file could not be written.
bool writeFileBytes(const std::filesystem::path& file, std::string_view bytes);

} // namespace ostrel
