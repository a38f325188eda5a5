#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// The whole content of a file, or nullopt when it cannot be opened or read.
std::optional<std::string> readFileBytes(const std::filesystem::path& file);

// Replaces the content of a file as one step: the bytes go to a new file in the same folder,
// which then takes the old one's place, so the file holds either its old or its new content
// whatever fails (a full disk, a crash), and two writers never share a new file. The new file
// keeps an existing file's permissions (on Windows its DACL) and, where allowed, its owner; a
// file that did not exist is readable and writable by its owner only (on Windows also by
// Administrators and SYSTEM), from the first byte on, since settings files hold passwords. A symbolic link
// stays a link: the file it points to is replaced. Raises EInOutError naming the cause when
// the file could not be written; the old content is then untouched and no new file is left.
void writeFileBytes(const std::filesystem::path& file, std::string_view bytes);

} // namespace ostrel
