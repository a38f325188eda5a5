#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::platform {

inline constexpr const char* RdpChannel = "Microsoft-Windows-RemoteDesktopServices-RdpCoreTS/Operational";
inline constexpr int FailedLogonEventCode = 140;

// One record as the event source yields it. Absent arrays stay nullopt.
struct EventRecord {
    std::int64_t RecordNumber = 0;
    std::optional<std::vector<std::string>> Data;
    std::optional<std::vector<std::string>> InsertionStrings;
};

// Told of new records while it lives; ends its watching when it goes.
class SourceWatch {
public:
    virtual ~SourceWatch() = default;
};

// Records of one channel with one event code above a record number, in no promised order (the
// channel file yields the newest first; the event log through WMI in whatever order it keeps).
class EventSource {
public:
    virtual ~EventSource() = default;
    // Raises EOleException when the source cannot be reached or read.
    virtual std::vector<EventRecord> recordsAbove(std::int64_t recordNumber) = 0;
    // Entries the last call passed over because they could not be read as records.
    virtual std::size_t skippedLines() const { return 0; }
    // The highest record number the channel holds now, nullopt for an empty channel. Tells a
    // channel that was cleared or started its numbers again (its newest record lies below a
    // mark) from one that merely has nothing new. By default the newest record above 0.
    virtual std::optional<std::int64_t> newestRecordNumber();
    // The record numbered `recordNumber` with the source's event code, nullopt when the channel
    // holds none. Leaves skippedLines() as the last recordsAbove() call left it.
    virtual std::optional<EventRecord> recordAt(std::int64_t recordNumber);
    // True for a source whose numbers only grow, whatever happens to what it reads (it follows
    // rotations itself): a mark it gave stays valid, so nothing needs to tell whether it started again.
    virtual bool numbersOnlyGrow() const { return false; }
    // The lock file where the machine's guards that read this source meet, so that only one of
    // them reads it (see ChannelClaim); empty where the guard's own default serves (the event
    // channel's claim).
    virtual std::filesystem::path claimFile() { return {}; }
    // Where the reader's mark is kept (its database, tables and machine name), told before each
    // read. A source whose numbering the machine's guards share (the xrdp log) shares it only
    // among guards whose marks are kept in one place: only their marks are in its numbers.
    virtual void markKeptIn(const std::string& /*place*/) {}
    // What the source reads, for the start-up lines ("the xrdp log /var/log/xrdp-sesman.log").
    virtual std::string description() const { return "the event log"; }
    // Calls `onChange` from a thread of its own soon after new records may have arrived, for as
    // long as the watch lives; nullptr where the source cannot tell (the timer alone finds them).
    virtual std::unique_ptr<SourceWatch> watch(std::function<void()> /*onChange*/) { return nullptr; }
};

} // namespace ostrel::platform
