// Time of one scan of the failed-logon channel file: 100,000 new records in a file that holds only
// them, and a few new records at the end of a file of a million. The first must stay well under a
// second; the second must not grow with the file.
#include "platform/EventSource.h"
#include "platform/portable/ChannelFileSource.h"
#include "platform/portable/ChannelFileWriter.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace ostrel::platform;
using Clock = std::chrono::steady_clock;

namespace {

void appendFailedLogons(ChannelFileWriter& writer, int count) {
    constexpr int Batch = 50000;
    for (int done = 0; done < count; done += Batch) {
        std::vector<NewChannelRecord> records;
        for (int i = done; i < std::min(count, done + Batch); ++i)
            records.push_back(
                {FailedLogonEventCode, std::nullopt, std::vector<std::string>{"203.0.113." + std::to_string(i % 250)}});
        writer.append(records);
    }
}

// Best of several runs, in milliseconds, of reading the records above `mark`.
double scanMilliseconds(ChannelFileSource& source, std::int64_t mark, std::size_t expected) {
    double best = 1e300;
    for (int run = 0; run < 5; ++run) {
        const auto start = Clock::now();
        const auto records = source.recordsAbove(mark);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (records.size() != expected) {
            std::fprintf(stderr, "expected %zu records, read %zu\n", expected, records.size());
            std::exit(1);
        }
        best = std::min(best, ms);
    }
    return best;
}

} // namespace

int main() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return 1;
    const std::filesystem::path folder = pattern;

    ChannelFileWriter writer(folder);
    ChannelFileSource source(folder);
    appendFailedLogons(writer, 100000);
    const double allNew = scanMilliseconds(source, 0, 100000);
    std::printf("100000 new records of 100000:  %8.1f ms (target: well under 1000 ms)\n", allNew);

    appendFailedLogons(writer, 900000);
    const double fewNew = scanMilliseconds(source, 1000000 - 10, 10);
    std::printf("10 new records of 1000000:     %8.3f ms (%.0f MiB file)\n", fewNew,
                std::filesystem::file_size(source.file()) / 1048576.0);

    std::filesystem::remove_all(folder);
    return allNew < 1000 ? 0 : 1;
}
