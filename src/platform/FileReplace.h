#pragma once

#include <filesystem>
#include <string_view>

namespace ostrel::platform {

// Replaces a file's content as one step, for writeFileBytes (which has resolved a symbolic link
// to the file it names already): the bytes go to a new file of a name no other writer shares,
// which gets the old file's permissions (Linux: its mode; Windows: its DACL) and, where allowed,
// its owner before the first byte, and is flushed to disk before it takes the old file's place.
// A file that did not exist is created for its owner only (on Windows also Administrators and
// SYSTEM), since it holds a password. Raises EInOutError with the cause; the old file is then
// untouched and no new file is left.
void replaceFileContent(const std::filesystem::path& file, std::string_view bytes);

} // namespace ostrel::platform
