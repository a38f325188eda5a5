#pragma once

#include "platform/FirewallCommand.h"
#include "platform/portable/Addresses.h"
#include "platform/portable/HeldAddressRecord.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace ostrel::platform {

enum class RuleChangeKind { Add, Delete };

// A text a caller gave, fit to be shown in a log line: cut short, control characters as '?'.
std::string printable(const std::string& text);

// One change the queued command accepted: its address is a literal of a single host that is
// not loopback.
struct FirewallChange {
    RuleChangeKind kind = RuleChangeKind::Add;
    std::string ruleName;
    IpLiteral address;
    std::string requested; // the address as the caller wrote it, for log lines
};

// One firewall as the queued command drives it. Every call comes from the command's one
// worker thread, so a backend needs no lock of its own.
class FirewallBackend {
public:
    virtual ~FirewallBackend() = default;
    // Carries the changes out in order; for each change nullopt when it was applied, else the
    // error that kept it from being applied. A raise fails every change with its message.
    virtual std::vector<std::optional<std::string>> apply(std::span<const FirewallChange> changes) = 0;
    // The addresses that hold a rule of the program's own, in the spelling of canonicalAddress.
    // Raises when the firewall cannot be read.
    virtual std::vector<std::string> list() = 0;
    // Runs the worker's loop; a backend that needs something held by the worker thread for its
    // whole life (a COM apartment) holds it around the loop.
    virtual void serve(const std::function<void()>& loop) { loop(); }
};

// The firewall command over one backend. Calls refuse what must never reach a firewall (no
// literal, loopback, no single host) and queue the rest; one worker hands everything queued at
// each wake-up to the backend as one batch and lists the firewall when an answer needs it.
// What the firewall holds is answered from a HeldAddressRecord of the applied changes.
class QueuedFirewallCommand final : public FirewallCommand {
public:
    // Starts the worker at once.
    QueuedFirewallCommand(Operator& op, std::unique_ptr<FirewallBackend> backend, FirewallRecordTiming timing = {});
    // Carries out what is still queued, then stops the worker.
    ~QueuedFirewallCommand() override;
    QueuedFirewallCommand(const QueuedFirewallCommand&) = delete;
    QueuedFirewallCommand& operator=(const QueuedFirewallCommand&) = delete;

    void addRule(const std::string& ruleName, const std::string& address) override;
    void deleteRule(const std::string& ruleName, const std::string& address) override;
    void drain() override;
    // After the queue drained: from the record of the changes while it answers, else listed by
    // the backend on the worker, which then becomes the record.
    std::vector<std::string> blockedAddresses() override;
    std::optional<std::uint64_t> heldAddressesVersion() override;

    // Why an address must not reach a firewall, or nullptr when it may.
    static const char* refusalOf(const std::string& address);

private:
    using Listing = std::shared_ptr<std::promise<std::vector<std::string>>>;

    void queue(RuleChangeKind kind, const std::string& ruleName, const std::string& address);
    void work();
    void apply(std::span<const FirewallChange> batch);
    void list(const std::vector<Listing>& listings);
    std::vector<std::string> listOnWorker();

    Operator& m_op;
    const std::unique_ptr<FirewallBackend> m_backend;
    HeldAddressRecord m_record;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_applied;
    std::vector<FirewallChange> m_pending;
    std::vector<Listing> m_listings; // listings asked for, carried out after the changes queued before
    std::uint64_t m_queuedCount = 0;
    std::uint64_t m_appliedCount = 0;
    bool m_stopping = false;
    std::thread m_worker;
};

} // namespace ostrel::platform
