#pragma once

#include "platform/EventSource.h"
#include "platform/FileWatch.h"
#include "platform/portable/ChannelFileSource.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace ostrel::platform {

// The default log of xrdp's session manager, where it writes one AUTHFAIL line per failed logon.
inline constexpr const char* DefaultXrdpLog = "/var/log/xrdp-sesman.log";

// Where the machine's guards that follow `log` meet to let one of them read it: a lock file in
// the machine's folder of lock files, named after the log's absolute path, whatever each guard's
// channel folder and Config.ini: two guards reading one log would race for its one mark.
std::filesystem::path xrdpClaimFile(const std::filesystem::path& log);
// Where the machine's guards that follow `log` and keep their mark in one place (`markPlace`: the
// database, tables and machine name) keep its numbering together, beside the lock: the one that
// takes over from another goes on with the same numbers, and so from the mark the other stored,
// instead of learning the log afresh. Guards with their marks elsewhere each keep their own
// numbering, in which their marks are. Gone with a reboot, when each guard's own position file
// serves.
std::filesystem::path xrdpSharedPositionFile(const std::filesystem::path& log, const std::string& markPlace);

// The failed logons of an xrdp server: every AUTHFAIL line of the session manager's log is one
// record, its address the line's ip= value. A record's number is where its line ends, counted
// over every file the log has had, so numbers only grow across rotations: a file that shrinks in
// place (copytruncate) or is replaced (rename) starts where the one before ended, and the lines
// the old file got after the last look are read from its rotated copy when that lies beside it,
// plain or gzipped. Where each file starts is kept in `positionFile`, so a restart goes on where it
// left off. Only complete lines count; lines longer than the limit are skipped and counted.
// The newest line read comes first even when it is no AUTHFAIL line (a record without data), so
// that the mark passes over the lines between failed logons instead of reading them again.
// A mark of 0 reads the whole log (a first run); a mark this log never gave (another source's,
// or a lost position file) learns where the log stands and counts what comes after.
class XrdpLogSource : public EventSource {
public:
    static constexpr std::size_t MaxLineBytes = ChannelFileSource::MaxLineBytes;

    XrdpLogSource(std::filesystem::path log, std::filesystem::path positionFile,
                  std::size_t maxLineBytes = MaxLineBytes);

    std::vector<EventRecord> recordsAbove(std::int64_t recordNumber) override;
    std::size_t skippedLines() const override { return m_skipped; }
    bool numbersOnlyGrow() const override { return true; }
    std::filesystem::path claimFile() override { return xrdpClaimFile(m_log); }
    void markKeptIn(const std::string& place) override { sharePositionAt(xrdpSharedPositionFile(m_log, place)); }
    std::string description() const override { return "the xrdp log " + m_log.string(); }
    std::unique_ptr<SourceWatch> watch(std::function<void()> onChange) override {
        return watchFile(m_log, std::move(onChange));
    }

    const std::filesystem::path& log() const { return m_log; }
    const std::filesystem::path& positionFile() const { return m_positionFile; }
    // Keeps the position in `file` too, and reads it from there first (see xrdpSharedPositionFile).
    // A shared file this guard cannot write (another user's) leaves it with its own alone.
    void sharePositionAt(std::filesystem::path file) { m_sharedPositionFile = std::move(file); }

private:
    std::filesystem::path m_log;
    std::filesystem::path m_positionFile;
    std::filesystem::path m_sharedPositionFile;
    std::size_t m_maxLineBytes;
    std::size_t m_skipped = 0;
};

} // namespace ostrel::platform
