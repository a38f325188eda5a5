#pragma once

#include <filesystem>
#include <string_view>

namespace ostrel::platform {

// Replaces a file's content on Windows as one step, for writeFileBytes: the bytes go to a new
// file of a name no other writer shares, which gets the old file's DACL (and, where allowed,
// its owner) before the first byte and is flushed to disk before it takes the old file's place
// with MoveFileExW (MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). A file that did not
// exist is created for its owner, Administrators and SYSTEM only, since it holds a password.
// Raises EInOutError with the cause; the old file is then untouched and no new file is left.
void replaceFileContent(const std::filesystem::path& file, std::string_view bytes);

} // namespace ostrel::platform
