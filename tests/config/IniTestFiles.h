#pragma once

#include "support/TempFolder.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace ostrel::test {

inline void writeBytes(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Replaces the file's content as another program would, and moves its modification time
// clearly away from the previous one, so that even an edit of the same size within one
// tick of a coarse file-system clock counts as a change.
inline void editOutside(const std::filesystem::path& file, std::string_view bytes) {
    const auto before = std::filesystem::last_write_time(file);
    writeBytes(file, bytes);
    std::filesystem::last_write_time(file, before + std::chrono::seconds(2));
}

// UTF-16 bytes of a text given in UTF-16 code units, independent of the code under test.
inline std::string utf16Bytes(std::u16string_view units, bool bigEndian) {
    std::string bytes;
    for (const char16_t unit : units) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

} // namespace ostrel::test
