#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace ostrel::test {

// Runs fn on a thread of its own mount namespace in which a tmpfs of `bytes` bytes is mounted on
// `folder`: a small file system the test can fill, seen by that thread alone and gone with it;
// the machine's own mounts never change. An exception of fn is raised here. Returns the reason
// when the machine forbids mount namespaces or mounts (then fn does not run), nullopt otherwise.
std::optional<std::string> runOnPrivateTmpfs(const std::filesystem::path& folder, std::size_t bytes,
                                             const std::function<void()>& fn);

// Writes to a new file in the folder until the file system is full.
void fillFileSystem(const std::filesystem::path& folder);

} // namespace ostrel::test
