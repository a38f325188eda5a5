#include "platform/ReverseLineReader.h"

#include "ChannelTestSupport.h"
#include "common/Errors.h"
#include "platform/ChannelFile.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

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

std::vector<std::string> readBackwards(const std::filesystem::path& file, std::uint64_t size, std::size_t blockSize) {
    ChannelFile channelFile;
    platform::SystemError error;
    EXPECT_TRUE(channelFile.openForReading(file, error)) << error.text;
    ReverseLineReader reader(channelFile, size, file, blockSize);
    std::vector<std::string> lines;
    while (const auto line = reader.previousLine())
        lines.emplace_back(*line);
    return lines;
}

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
