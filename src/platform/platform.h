#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {
class Operator;
}

// The operations the guard needs of the operating system, one place for each.
namespace ostrel::platform {

inline constexpr const char* RdpChannel = "Microsoft-Windows-RemoteDesktopServices-RdpCoreTS/Operational";
inline constexpr int FailedLogonEventCode = 140;

// The folder of the running executable (Config.ini and Eventlog live there).
std::filesystem::path executableFolder();

// ---- Event source ----------------------------------------------------------------

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

// Calls `onChange` from a thread of its own soon after `file` was written, also when the file was
// cut in place, renamed away or created anew (its folder is watched, not the file), for as long
// as the watch lives. nullptr where the platform has no such watch; EOSError when it cannot watch.
std::unique_ptr<SourceWatch> watchFile(const std::filesystem::path& file, std::function<void()> onChange);

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
    // What the source reads, for the start-up lines ("the xrdp log /var/log/xrdp-sesman.log").
    virtual std::string description() const { return "the event log"; }
    // Calls `onChange` from a thread of its own soon after new records may have arrived, for as
    // long as the watch lives; nullptr where the source cannot tell (the timer alone finds them).
    virtual std::unique_ptr<SourceWatch> watch(std::function<void()> /*onChange*/) { return nullptr; }
};

// The channel file stand-in for the event log: <folder>/<channel with "/" as "%4">.jsonl,
// one JSON record per line in increasing RecordNumber, read backwards from its end.
// Lines that cannot be parsed, and lines longer than MaxLineBytes (never held in memory
// whole), are skipped and counted. Anything but a regular file in the file's place (a FIFO,
// a device, a folder) is refused with an error instead of being opened for reading.
class ChannelFileSource : public EventSource {
public:
    static constexpr std::size_t MaxLineBytes = 1024 * 1024;

    ChannelFileSource(std::filesystem::path folder, std::string channel = RdpChannel,
                      int eventCode = FailedLogonEventCode);
    // A record whose number does not fall from line to line towards the start (0 or less, or not
    // below the one after it) is out of order: skipped and counted like an unreadable line, and
    // the records around it are read all the same.
    std::vector<EventRecord> recordsAbove(std::int64_t recordNumber) override;
    std::optional<std::int64_t> newestRecordNumber() override;
    std::optional<EventRecord> recordAt(std::int64_t recordNumber) override;
    // Lines skipped as unparsable or too long by the last call.
    std::size_t skippedLines() const override { return m_skipped; }
    std::string description() const override;
    std::unique_ptr<SourceWatch> watch(std::function<void()> onChange) override;
    const std::filesystem::path& file() const { return m_file; }

    static std::filesystem::path fileFor(const std::filesystem::path& folder, const std::string& channel);

private:
    std::filesystem::path m_file;
    int m_eventCode;
    std::size_t m_skipped = 0;
};

// The file whose lock says that one guard of this machine reads the event channel (the channel
// file's folder holds it where the channel is a file; on Windows a folder of the machine's own).
std::filesystem::path channelClaimFile(const std::filesystem::path& channelFolder);

// The machine's own name (its host name), under which its guard keeps its mark.
std::string machineName();

// The id of the running process, as the system's process list shows it.
std::uint32_t currentProcessId();

// One guard's machine-wide claim to read an event channel, held for as long as the object lives:
// a second guard of the machine (another process, or another claim in this one) that reads the
// same channel gets no claim and learns who holds it, so no failed logon is read by two guards.
// The lock goes with the process, however it ends.
class ChannelClaim {
public:
    // The claim, or nullptr with `holder` saying which process holds it. Raises EInOutError when
    // the claim file cannot be opened or locked.
    static std::unique_ptr<ChannelClaim> tryTake(const std::filesystem::path& file, std::string& holder);
    ~ChannelClaim();
    ChannelClaim(const ChannelClaim&) = delete;
    ChannelClaim& operator=(const ChannelClaim&) = delete;

private:
    ChannelClaim() = default;
    struct Held;
    std::unique_ptr<Held> m_held;
};

// The default channel folder: "Eventlog" next to the executable.
std::filesystem::path eventlogFolder();

// The event source of this platform: on Windows the event log itself, asked through WMI (the
// folder is not used there); where no event log exists, the channel file in `channelFolder`.
std::unique_ptr<EventSource> makeEventSource(const std::filesystem::path& channelFolder);

// ---- Firewall command ------------------------------------------------------------

// The rules of the program's own carry this prefix followed by the address.
inline constexpr const char* RuleNamePrefix = "Autoblock_";

// Adds and deletes inbound block rules. Calls queue the change and return at once; the
// changes are carried out in order, and a change that fails is logged to the operator's
// main pane naming the addresses it could not change. Addresses must be IPv4 or IPv6
// literals; anything else is refused before it reaches the firewall.
class FirewallCommand {
public:
    virtual ~FirewallCommand() = default;
    virtual void addRule(const std::string& ruleName, const std::string& address) = 0;
    virtual void deleteRule(const std::string& ruleName, const std::string& address) = 0;
    // Waits until every change queued so far has been carried out.
    virtual void drain() = 0;
    // The addresses that hold a rule of the program's own now, after the changes queued so far
    // were applied, in the spelling of canonicalAddress. Raises when the firewall cannot be read.
    // A command may answer from its own record of its changes (see HeldAddressRecord) instead of
    // reading the firewall each time.
    virtual std::vector<std::string> blockedAddresses() = 0;
    // After the changes queued so far were applied: a number that changes whenever the answer of
    // blockedAddresses() may change, or nullopt when blockedAddresses() would read the firewall
    // (the command keeps no record, or its record cannot answer now). Lets the reconcile after a
    // pass tell that the firewall is as it left it without asking for every address.
    virtual std::optional<std::uint64_t> heldAddressesVersion() { return std::nullopt; }
};

struct NftablesOptions {
    std::string table = "rdp_ostrel"; // table of the program's own (family inet)
    std::string nftPath = "nft";      // resolved through PATH and the sbin folders, never through a shell
    std::string netns;                // when set, nft runs inside this named network namespace (`ip netns exec`)
};

// How long a firewall command answers blockedAddresses() from its own record of its changes
// before it reads the firewall again (see HeldAddressRecord).
struct FirewallRecordTiming {
    std::chrono::milliseconds verificationInterval = std::chrono::seconds(60); // 0 reads every time
    std::function<std::chrono::steady_clock::time_point()> clock;              // empty: steady_clock::now
};

// The Linux firewall command: one nftables table with an IPv4 and an IPv6 set and an input
// chain that drops both; a worker applies queued changes as `nft -f -` batches.
std::unique_ptr<FirewallCommand> makeNftablesFirewall(Operator& op, NftablesOptions options = {},
                                                      FirewallRecordTiming timing = {});

// The platform's own firewall as the program uses it (Linux: nftables with the default
// options above). Changes that fail are logged through `op`.
std::unique_ptr<FirewallCommand> makeFirewallCommand(Operator& op);

// ---- Registry probe, adapter address, COM scope ----------------------------------

// Stand-in for opening the event channel's registry key with full access: opens (creating
// when needed) the channel folder with write access. True when that succeeded.
bool probeEventChannel(const std::filesystem::path& folder);

// IPv4 address of the first non-loopback interface that is up, or empty text.
std::string AdapterIPAddress();

// Initialises COM for the calling thread (single-threaded apartment) for its lifetime where the
// event source needs it; nothing to do on Linux. Its result is not looked at: a thread whose COM
// was already initialised keeps it.
class ComScope {
public:
    ComScope();
    ~ComScope();
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    [[maybe_unused]] bool m_initialised = false;
};

// The calendar time of a moment in the local time zone (the C library's localtime, safe in
// every thread).
std::tm localTime(std::time_t moment);

// ---- Stop requests ---------------------------------------------------------------

// Hands the system's requests to end the program to `onStop`, on a thread of its own and
// never inside a signal handler, for as long as the object lives (Linux: SIGTERM, SIGINT and
// SIGHUP; Windows: a console control event or the service manager's stop). Until the object
// exists, and again once it is gone, such a request ends the program the system's way.
// One at a time.
class StopSignals {
public:
    virtual ~StopSignals() = default;
};

std::unique_ptr<StopSignals> watchStopSignals(std::function<void()> onStop);

// ---- Addresses -------------------------------------------------------------------

// True for 127.0.0.0/8, ::1 and IPv4-mapped loopback.
bool isLoopbackAddress(const std::string& text);
// The one text of an address, so that every spelling of it is stored, counted, blocked and
// released as one: surrounding blanks trimmed, IPv4 in dotted decimal without leading zeros,
// an IPv4-mapped IPv6 address as its IPv4 address, IPv6 compressed in lower case. nullopt for
// a text that is no IPv4 or IPv6 address.
std::optional<std::string> canonicalAddress(const std::string& text);
// False for an address that names no single host: unspecified (0.0.0.0/8, ::), the limited
// broadcast 255.255.255.255, and multicast (224.0.0.0/4, ff00::/8). Such an address never
// sends a logon, and a rule for it would block nobody or everybody.
bool isSingleHostAddress(const std::string& text);
// True for an address that one of this machine's interfaces holds (in the calling thread's
// network namespace): blocking it would cut the machine off from itself like loopback.
bool isOwnAddress(const std::string& text);
// The addresses this machine's interfaces hold (as isOwnAddress sees them), in their one text:
// one look at the interfaces for a whole batch of addresses to check.
std::vector<std::string> ownAddresses();

} // namespace ostrel::platform
