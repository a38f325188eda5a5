#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ostrel::platform {

// logrotate compresses the copies of a log with gzip. These read such a copy back, so lines the
// guard had not read when the log was rotated still count.

// The size a gzip file states for its text: its last four bytes (modulo 4 GiB). nullopt when the
// file is too short to be one. Cheap: a look before inflating a copy that cannot be the one.
std::optional<std::uint32_t> gzipStatedSize(int fd, std::uint64_t fileSize);

// The whole text of the gzip file (every member, as gzip -d gives it); nullopt when it is no
// complete gzip stream (still being written, damaged, another format) or its text would exceed
// `maxBytes`.
std::optional<std::string> inflateGzip(int fd, std::uint64_t maxBytes);

} // namespace ostrel::platform
