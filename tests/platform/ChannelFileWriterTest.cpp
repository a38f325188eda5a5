#include "platform/portable/ChannelFileWriter.h"

#include "ChannelTestSupport.h"
#include "common/Errors.h"
#include "platform/EventSource.h"
#include "platform/portable/ChannelFileSource.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace ostrel::test {
namespace {

using platform::ChannelFileSource;
using platform::ChannelFileWriter;
using platform::NewChannelRecord;

NewChannelRecord failedLogonFrom(const std::string& address) {
    return {140, std::nullopt, std::vector<std::string>{address}};
}

TEST(ChannelFileWriterTest, NumbersOnFromTheLastRecordAndWritesWhatTheSourceReads) {
    TempFolder folder;
    const auto channelFolder = folder.path() / "new" / "Eventlog";
    ChannelFileWriter writer(channelFolder);
    EXPECT_EQ(writer.file(), ChannelFileSource::fileFor(channelFolder, platform::RdpChannel));

    EXPECT_EQ(writer.append({failedLogonFrom("203.0.113.1"), failedLogonFrom("203.0.113.2")}), 1);
    EXPECT_EQ(writer.append({{141, std::vector<std::string>{"1", "2"}, std::nullopt},
                             {140, std::vector<std::string>{}, std::vector<std::string>{"a\"b\\c\nd", "Ä"}},
                             {140, std::nullopt, std::nullopt}}),
              3);
    EXPECT_EQ(ChannelFileWriter(channelFolder).append({failedLogonFrom("2001:db8::7")}), 6);

    ChannelFileSource source(channelFolder);
    EXPECT_EQ(describeRecords(source.recordsAbove(0)),
              "6 D=null S=[2001:db8::7]; 5 D=null S=null; 4 D=[] S=[a\"b\\c\nd|Ä]; 2 D=null S=[203.0.113.2]; "
              "1 D=null S=[203.0.113.1]");
    EXPECT_EQ(source.skippedLines(), 0u);
    ChannelFileSource otherCode(channelFolder, platform::RdpChannel, 141);
    EXPECT_EQ(describeRecords(otherCode.recordsAbove(0)), "3 D=[1|2] S=null");
}

TEST(ChannelFileWriterTest, AnEmptyBatchWritesNothing) {
    TempFolder folder;
    ChannelFileWriter writer(folder.path() / "Eventlog");
    EXPECT_EQ(writer.append({}), 0);
    EXPECT_FALSE(std::filesystem::exists(writer.file()));
}

TEST(ChannelFileWriterTest, AFragmentLeftByADeadWriterStaysADamagedLineOfItsOwn) {
    TempFolder folder;
    ChannelFileWriter writer(folder.path());
    writer.append({failedLogonFrom("203.0.113.1"), failedLogonFrom("203.0.113.2")});
    {
        std::ofstream out(writer.file(), std::ios::binary | std::ios::app);
        out << R"({"RecordNumber":3,"EventCo)";
    }
    EXPECT_EQ(writer.append({failedLogonFrom("203.0.113.3")}), 3);

    ChannelFileSource source(folder.path());
    EXPECT_EQ(describeRecords(source.recordsAbove(0)),
              "3 D=null S=[203.0.113.3]; 2 D=null S=[203.0.113.2]; 1 D=null S=[203.0.113.1]");
    EXPECT_EQ(source.skippedLines(), 1u);
}

TEST(ChannelFileWriterTest, NumbersAfterTheLastReadableRecord) {
    TempFolder folder;
    ChannelFileWriter writer(folder.path());
    writeFile(folder / writer.file().filename(), R"({"RecordNumber":41,"EventCode":140})"
                                                 "\nbroken line\n\n");
    EXPECT_EQ(writer.append({failedLogonFrom("203.0.113.1")}), 42);
}

TEST(ChannelFileWriterTest, AFolderThatCannotBeMadeRaisesAnInOutError) {
    TempFolder folder;
    const auto regularFile = writeFile(folder / "plain", "x");
    ChannelFileWriter writer(regularFile / "Eventlog");
    EXPECT_THROW(writer.append({failedLogonFrom("203.0.113.1")}), EInOutError);
}

// Writers in threads, each with its own writer and file description, while a reader keeps reading:
// the reader never meets a torn line, and the numbers run without gap or repeat.
TEST(ChannelFileWriterTest, ConcurrentWritersNeitherTearLinesNorRepeatNumbers) {
    TempFolder folder;
    constexpr int Writers = 6;
    constexpr int BatchesEach = 40;
    std::mutex firstsMutex;
    std::vector<std::pair<std::int64_t, std::int64_t>> batches;
    std::atomic<int> writersDone{0};

    std::vector<std::thread> writers;
    for (int w = 0; w < Writers; ++w) {
        writers.emplace_back([&, w] {
            ChannelFileWriter writer(folder.path());
            for (int b = 0; b < BatchesEach; ++b) {
                const std::size_t size = 1 + (w + b) % 3;
                const std::vector<NewChannelRecord> batch(size, failedLogonFrom("198.51.100." + std::to_string(w)));
                const auto first = writer.append(batch);
                std::lock_guard lock(firstsMutex);
                batches.emplace_back(first, static_cast<std::int64_t>(size));
            }
            ++writersDone;
        });
    }
    std::size_t readerFaults = 0;
    ChannelFileSource reader(folder.path());
    while (writersDone.load() < Writers) {
        const auto records = reader.recordsAbove(0);
        readerFaults += reader.skippedLines();
        for (std::size_t i = 0; i < records.size(); ++i)
            readerFaults += records[i].RecordNumber != static_cast<std::int64_t>(records.size() - i);
    }
    for (auto& writer : writers)
        writer.join();

    EXPECT_EQ(readerFaults, 0u);
    std::sort(batches.begin(), batches.end());
    std::int64_t next = 1;
    for (const auto& [first, size] : batches) {
        ASSERT_EQ(first, next);
        next += size;
    }
    expectConsecutiveLines(folder.path(), next - 1);
}

} // namespace
} // namespace ostrel::test
