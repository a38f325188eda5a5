#include "config/FileBytes.h"

#include "platform/FileReplace.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace ostrel {
namespace fs = std::filesystem;

namespace {

// The file a write replaces: the target of a symbolic link, so the link itself stays.
fs::path replacedFile(const fs::path& file) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(file, error)))
        return file;
    const fs::path target = fs::weakly_canonical(file, error);
    return error ? file : target;
}

} // namespace

std::optional<std::string> readFileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        return std::nullopt;
    return bytes;
}

void writeFileBytes(const fs::path& file, std::string_view bytes) {
    platform::replaceFileContent(replacedFile(file), bytes);
}

} // namespace ostrel
