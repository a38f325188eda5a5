#include "support/TempFolder.h"

#include <random>
#include <stdexcept>
#include <string>

namespace ostrel::test {

TempFolder::TempFolder() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device random;
    // A name nobody holds, made atomically: create_directory fails for one that exists.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate = base / ("ostrel-test." + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            std::filesystem::permissions(candidate, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::replace);
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

} // namespace ostrel::test
