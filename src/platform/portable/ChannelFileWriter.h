#pragma once

#include "platform/EventSource.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::platform {

// A record to append to a channel file; its number and creation time are given when it is written.
struct NewChannelRecord {
    int EventCode = FailedLogonEventCode;
    std::optional<std::vector<std::string>> Data;
    std::optional<std::vector<std::string>> InsertionStrings;
};

// Appends records to the channel file that ChannelFileSource reads; this is how the channel is fed
// where no event log writes it. Writers in several threads and processes may append at once.
class ChannelFileWriter {
public:
    explicit ChannelFileWriter(std::filesystem::path folder, const std::string& channel = RdpChannel);

    // Appends the records as one batch, numbered on from the last record in the file (from 1 in a
    // new file), and returns the number of the first (0 for no records). The folder and the file are
    // created when missing. The batch is written under an exclusive lock of the file, so batches
    // never interleave and no number is given twice. Raises EInOutError when the file cannot be written.
    std::int64_t append(const std::vector<NewChannelRecord>& records);

    const std::filesystem::path& file() const { return m_file; }

private:
    std::filesystem::path m_folder;
    std::filesystem::path m_file;
};

} // namespace ostrel::platform
