#include "platform/portable/ReverseLineReader.h"

#include "ChannelTestSupport.h"
#include "common/Errors.h"
#include "platform/ChannelFile.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#ifndef _WIN32
#include "platform/linux/FileDescriptor.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace ostrel::test {
namespace {

using platform::ChannelFile;
using platform::ReverseLineReader;

// The complete lines of a text, last first: what follows the last line break is no line yet.
std::vector<std::string> completeLinesLastFirst(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    std::reverse(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> readBackwards(const std::filesystem::path& file, std::uint64_t size, std::size_t blockSize,
                                       std::size_t maxLineBytes = ReverseLineReader::NoLimit,
                                       std::size_t* longLines = nullptr) {
    ChannelFile channelFile;
    platform::SystemError error;
    EXPECT_TRUE(channelFile.openForReading(file, error)) << error.text;
    ReverseLineReader reader(channelFile, size, file, blockSize, maxLineBytes);
    std::vector<std::string> lines;
    while (const auto line = reader.previousLine())
        lines.emplace_back(*line);
    if (longLines)
        *longLines = reader.longLinesSkipped();
    return lines;
}

#ifndef _WIN32
// Peak resident memory of this process so far, in bytes.
std::size_t peakResidentBytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
}
#endif

// Every block size from one byte to past the whole file puts block boundaries on every byte,
// line breaks included.
TEST(ReverseLineReaderTest, YieldsTheCompleteLinesLastFirstForEveryBlockSize) {
    const std::vector<std::string> contents = {
        "",
        "unfinished",
        "\n",
        "\n\n\n",
        "one\n",
        "one\ntwo\nthree\n",
        "one\ntwo\nthree",
        "first\n\nthird\n\n",
        "short\n" + std::string(100, 'x') + "\nend\n" + std::string(37, 'y'),
        "\r\nwindows\r\n",
    };
    TempFolder folder;
    for (const auto& content : contents) {
        const auto file = writeFile(folder / "lines", content);
        const auto expected = completeLinesLastFirst(content);
        for (std::size_t blockSize = 1; blockSize <= content.size() + 2; ++blockSize)
            ASSERT_EQ(readBackwards(file, content.size(), blockSize), expected)
                << "content '" << content << "', block size " << blockSize;
    }
}

TEST(ReverseLineReaderTest, LinesLongerThanTheLimitArePassedOverAndCountedForEveryBlockSize) {
    struct Case {
        std::string content;
        std::vector<std::string> lines;
        std::size_t longLines;
    };
    // The limit is 5 bytes.
    const std::vector<Case> cases = {
        {"12345\n", {"12345"}, 0},
        {"123456\n", {}, 1},
        {"a\n123456789012\nb\n", {"b", "a"}, 1},
        {"1234567\nok\n123456\n", {"ok"}, 2},
        {"123456789\n", {}, 1},
        {"first-long\n\nlast", {""}, 1},
        // What follows the last line break is no line yet, long or not.
        {"ok\nunfinished and long", {"ok"}, 0},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        const auto file = writeFile(folder / "lines", c.content);
        for (std::size_t blockSize = 1; blockSize <= c.content.size() + 2; ++blockSize) {
            std::size_t longLines = 0;
            ASSERT_EQ(readBackwards(file, c.content.size(), blockSize, 5, &longLines), c.lines)
                << "content '" << c.content << "', block size " << blockSize;
            ASSERT_EQ(longLines, c.longLines) << "content '" << c.content << "', block size " << blockSize;
        }
    }
}

#ifndef _WIN32
TEST(ReverseLineReaderTest, AHugeLineIsNeverHeldInMemory) {
    TempFolder folder;
    const auto file = folder / "huge";
    constexpr std::size_t Huge = 512u * 1024 * 1024;
    {
        // A line of 512 MiB that takes no disk space: a hole of zero bytes between two lines.
        platform::FileDescriptor fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        ASSERT_TRUE(fd);
        ASSERT_EQ(::pwrite(fd.get(), "first\n", 6, 0), 6);
        ASSERT_EQ(::pwrite(fd.get(), "\nlast\n", 6, 6 + Huge), 6);
    }
    const std::size_t peakBefore = peakResidentBytes();
    std::size_t longLines = 0;
    EXPECT_EQ(readBackwards(file, std::filesystem::file_size(file), ReverseLineReader::DefaultBlockSize, 1024 * 1024,
                            &longLines),
              (std::vector<std::string>{"last", "first"}));
    EXPECT_EQ(longLines, 1u);
    EXPECT_LT(peakResidentBytes(), peakBefore + 64 * 1024 * 1024) << "the long line was held in memory";
}
#endif

TEST(ReverseLineReaderTest, ReadsNothingAppendedAfterTheSizeWasTaken) {
    TempFolder folder;
    const auto file = writeFile(folder / "lines", "a\nb\nc\nd\n");
    EXPECT_EQ(readBackwards(file, 4, 3), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(readBackwards(file, 5, 3), (std::vector<std::string>{"b", "a"}));
}

TEST(ReverseLineReaderTest, AFileShorterThanItsSizeRaisesTheEventSourceError) {
    TempFolder folder;
    const auto file = writeFile(folder / "lines", "a\nb\n");
    try {
        readBackwards(file, 10, 4);
        FAIL() << "no error";
    } catch (const EOleException& error) {
        EXPECT_EQ(error.code(), static_cast<std::int32_t>(0x80070000u | ChannelFile::endedEarly().code));
    }
}

} // namespace
} // namespace ostrel::test
