#include "GuardTestSupport.h"
#include "guard/GetEventlog.h"

#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ostrel {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

using Sightings = std::map<std::string, std::int64_t>;

// What happens to the channel between two passes.
struct Step {
    enum Kind { Append, NewFile, Pass } kind;
    std::vector<std::int64_t> numbers; // records to write, in file order
};

struct History {
    const char* name;
    std::string lastRecord;           // the mark the first pass starts with
    std::vector<std::int64_t> before; // the channel when the mark was taken
    bool beforeCounted;               // whether those records lie above the mark
    std::vector<Step> steps;
    int restartLines;
};

class ChannelHistoryTest : public test::SightingsOnlyTest {
protected:
    // A record written as a foreign writer may have left it: the number as given.
    void writeRecord(std::int64_t number, bool counted = true) {
        const std::string address = "2001:db8::" + std::to_string(m_generation) + ":" + std::to_string(m_written++);
        std::ofstream(channel.source.file(), std::ios::app | std::ios::binary)
            << R"({"RecordNumber":)" << number << R"(,"EventCode":140,"InsertionStrings":[")" << address << "\"]}\n";
        if (counted && number > 0 && number < 1000000000)
            m_expected[address] = 1;
    }
    void newFile() {
        std::filesystem::remove(channel.source.file());
        ++m_generation;
    }

    int m_generation = 0;
    int m_written = 0;
    Sightings m_expected;
};

std::vector<std::int64_t> numbered(std::int64_t first, std::int64_t last) {
    std::vector<std::int64_t> numbers;
    for (std::int64_t n = first; n <= last; ++n)
        numbers.push_back(n);
    return numbers;
}

TEST_F(ChannelHistoryTest, EveryFailedLogonIsCountedOnceWhateverTheChannelDid) {
    const std::vector<History> histories = {
        {"continues", "5", numbered(1, 5), false,
         {{Step::Append, numbered(6, 8)}, {Step::Pass, {}}, {Step::Append, {9}}, {Step::Pass, {}}, {Step::Pass, {}}},
         0},
        {"restarts at 1 after a clear", "12", numbered(1, 12), false,
         {{Step::NewFile, numbered(1, 3)}, {Step::Pass, {}}, {Step::Append, numbered(4, 5)}, {Step::Pass, {}},
          {Step::Pass, {}}},
         1},
        {"a new file with fewer records than the mark", "12", numbered(1, 12), false,
         {{Step::NewFile, numbered(1, 7)}, {Step::Pass, {}}, {Step::Append, numbered(8, 14)}, {Step::Pass, {}}},
         1},
        {"a new file with more records than the mark", "12", numbered(1, 12), false,
         {{Step::Append, {13}},
          {Step::Pass, {}},
          {Step::NewFile, numbered(1, 20)},
          {Step::Pass, {}},
          {Step::Append, {21}},
          {Step::Pass, {}}},
         1},
        {"cleared, then nothing but the next record", "40", numbered(1, 40), false,
         {{Step::NewFile, {}}, {Step::Pass, {}}, {Step::Append, {1}}, {Step::Pass, {}}, {Step::Pass, {}}},
         1},
        {"a mark above the newest record", "1000", numbered(1, 13), true,
         {{Step::Pass, {}}, {Step::Append, {14}}, {Step::Pass, {}}},
         1},
        {"a -1 after the newest record", "10", numbered(1, 10), false,
         {{Step::Append, {11, -1}}, {Step::Pass, {}}, {Step::Append, {12}}, {Step::Pass, {}}},
         0},
        {"a huge number among good records", "5", numbered(1, 5), false,
         {{Step::Append, {6, 99999999999, 7}}, {Step::Pass, {}}, {Step::Append, {8}}, {Step::Pass, {}}},
         0},
    };
    for (const History& history : histories) {
        SCOPED_TRACE(history.name);
        tables().exec("DELETE FROM " + tables().merkliste());
        tables().exec("DELETE FROM " + tables().lastrecord());
        op().clear();
        newFile();
        m_expected.clear();
        for (const std::int64_t number : history.before)
            writeRecord(number, history.beforeCounted);
        setLastRecord(history.lastRecord);
        for (const Step& step : history.steps) {
            if (step.kind == Step::NewFile)
                newFile();
            if (step.kind == Step::Pass)
                scan();
            else
                for (const std::int64_t number : step.numbers)
                    writeRecord(number);
        }
        EXPECT_EQ(sightingsByAddress(), m_expected);
        int restartLines = 0;
        for (const std::string& line : op().lines())
            restartLines += line.find(" - The event log started again: its newest record is ") == 0 ? 1 : 0;
        EXPECT_EQ(restartLines, history.restartLines) << ::testing::PrintToString(op().lines());
        EXPECT_THAT(op().lines(), Not(Contains(HasSubstr("Exception"))));
    }
}

} // namespace
} // namespace ostrel
