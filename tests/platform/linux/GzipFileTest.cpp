#include "platform/linux/GzipFile.h"

#include "platform/linux/ChildProcess.h"
#include "platform/linux/FileDescriptor.h"
#include "support/TempFolder.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

// gzip's own program makes the files, as logrotate has it make them.
std::string gzipped(const std::string& text) {
    const platform::ProcessOutcome outcome = platform::runProcess({"gzip", "-c", "-6"}, text);
    EXPECT_TRUE(outcome.succeeded()) << outcome.errors;
    return outcome.output;
}

TEST(GzipFile, InflatesWhatGzipWroteAndRefusesWhatItCannotReadWhole) {
    std::string big;
    for (int i = 0; i < 20000; ++i)
        big += "[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob ip=203.0.113." + std::to_string(i % 250) + "\n";
    const std::string whole = gzipped(big);
    struct Case {
        const char* name;
        std::string bytes;
        std::uint64_t maxBytes;
        std::optional<std::string> text;
    } cases[] = {
        {"one member", whole, 1 << 24, big},
        {"two members, as a file gzip appended to", gzipped("first\n") + gzipped("second\n"), 1 << 24,
         std::string("first\nsecond\n")},
        {"an empty text", gzipped(""), 1 << 24, std::string()},
        {"cut short (still being written)", whole.substr(0, whole.size() / 2), 1 << 24, std::nullopt},
        {"without its trailer", whole.substr(0, whole.size() - 8), 1 << 24, std::nullopt},
        {"no gzip file", big.substr(0, 4096), 1 << 24, std::nullopt},
        {"larger than allowed", whole, big.size() - 1, std::nullopt},
        {"exactly as large as allowed", whole, big.size(), big},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path path = folder / "copy.gz";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
        platform::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(fd);
        EXPECT_EQ(platform::inflateGzip(fd.get(), c.maxBytes), c.text);
    }
}

TEST(GzipFile, StatedSizeIsTheTrailersLength) {
    TempFolder folder;
    const std::filesystem::path path = folder / "copy.gz";
    const std::string text(123457, 'x');
    std::ofstream(path, std::ios::binary) << gzipped(text);
    platform::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    EXPECT_EQ(platform::gzipStatedSize(fd.get(), std::filesystem::file_size(path)), 123457u);
    EXPECT_EQ(platform::gzipStatedSize(fd.get(), 19), std::nullopt) << "too short to be a gzip file";
}

} // namespace
} // namespace ostrel::test
