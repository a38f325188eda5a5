#include "config/FileBytes.h"

#include "support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace ostrel::test {
namespace {

namespace fs = std::filesystem;

// The window and the service rewrite the same Config.ini: each rewrite must go through a new
// file of its own, or one writer empties or moves away the other's half-written file.
TEST(FileBytes, WritersOfOneFileAtOnceNeverShareTheirNewFile) {
    TempFolder folder;
    const fs::path file = folder.path() / "Config.ini";
    constexpr int Writers = 3;
    constexpr int Writes = 40;
    std::vector<std::string> contents;
    for (int w = 0; w < Writers; ++w)
        contents.push_back("[RDPOstrel]\r\nWriter=" + std::to_string(w) + "\r\n" + std::string(4000, char('a' + w)));
    std::vector<std::thread> threads;
    std::vector<std::string> failures(Writers);
    for (int w = 0; w < Writers; ++w) {
        threads.emplace_back([&, w] {
            try {
                for (int i = 0; i < Writes; ++i)
                    writeFileBytes(file, contents[w]);
            } catch (const std::exception& error) {
                failures[w] = error.what();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    for (int w = 0; w < Writers; ++w)
        EXPECT_EQ(failures[w], "") << "writer " << w;
    const std::optional<std::string> last = readFileBytes(file);
    ASSERT_TRUE(last);
    EXPECT_NE(std::find(contents.begin(), contents.end(), *last), contents.end()) << "a mixed or cut content";
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder.path()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"Config.ini"});
}

} // namespace
} // namespace ostrel::test
