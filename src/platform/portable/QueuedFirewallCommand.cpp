#include "platform/portable/QueuedFirewallCommand.h"

#include "common/Operator.h"

#include <algorithm>

namespace ostrel::platform {
namespace {

const char* verbOf(RuleChangeKind kind) {
    return kind == RuleChangeKind::Add ? "add" : "delete";
}

} // namespace

// A refused text is shown, not trusted: control characters would break the log line.
std::string printable(const std::string& text) {
    std::string shown = text.substr(0, 100);
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return (c >= 0 && c < 0x20) || c == 0x7f; }, '?');
    return shown;
}

QueuedFirewallCommand::QueuedFirewallCommand(Operator& op, std::unique_ptr<FirewallBackend> backend,
                                             FirewallRecordTiming timing)
    : m_op(op), m_backend(std::move(backend)), m_record(std::move(timing)), m_worker([this] { work(); }) {}

QueuedFirewallCommand::~QueuedFirewallCommand() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_worker.join();
}

const char* QueuedFirewallCommand::refusalOf(const std::string& address) {
    return !parseIpLiteral(address)        ? "not an IP address"
           : isLoopbackAddress(address)    ? "loopback address"
           : !isSingleHostAddress(address) ? "not a single host"
                                           : nullptr;
}

void QueuedFirewallCommand::addRule(const std::string& ruleName, const std::string& address) {
    queue(RuleChangeKind::Add, ruleName, address);
}

void QueuedFirewallCommand::deleteRule(const std::string& ruleName, const std::string& address) {
    queue(RuleChangeKind::Delete, ruleName, address);
}

void QueuedFirewallCommand::drain() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_queuedCount;
    m_applied.wait(lock, [&] { return m_appliedCount >= target; });
}

std::vector<std::string> QueuedFirewallCommand::blockedAddresses() {
    drain();
    return m_record.addressesOrRead([this] { return listOnWorker(); });
}

std::optional<std::uint64_t> QueuedFirewallCommand::heldAddressesVersion() {
    drain();
    return m_record.version();
}

void QueuedFirewallCommand::queue(RuleChangeKind kind, const std::string& ruleName, const std::string& address) {
    if (const char* refusal = refusalOf(address)) {
        logLine(m_op, std::string(" - Firewall: refused to ") + verbOf(kind) + " '" + printable(address) + "' (" +
                          refusal + ")");
        return;
    }
    FirewallChange change{kind, ruleName, *parseIpLiteral(address), address};
    {
        std::lock_guard lock(m_mutex);
        m_pending.push_back(std::move(change));
        ++m_queuedCount;
    }
    m_wake.notify_one();
}

std::vector<std::string> QueuedFirewallCommand::listOnWorker() {
    // Listed on the worker, after every change queued before, where the backend keeps what it
    // holds for the worker's life.
    const Listing listing = std::make_shared<Listing::element_type>();
    std::future<std::vector<std::string>> listed = listing->get_future();
    {
        std::lock_guard lock(m_mutex);
        m_listings.push_back(listing);
    }
    m_wake.notify_one();
    return listed.get();
}

void QueuedFirewallCommand::work() {
    m_backend->serve([this] {
        std::vector<FirewallChange> batch;
        std::vector<Listing> listings;
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return m_stopping || !m_pending.empty() || !m_listings.empty(); });
            if (m_pending.empty() && m_listings.empty())
                return;
            batch.clear();
            batch.swap(m_pending); // the emptied vector keeps its capacity for the next changes
            listings.swap(m_listings);
            lock.unlock();
            if (!batch.empty())
                apply(batch);
            if (!listings.empty())
                list(listings);
            listings.clear();
            lock.lock();
            m_appliedCount += batch.size();
            m_applied.notify_all();
        }
    });
}

void QueuedFirewallCommand::apply(std::span<const FirewallChange> batch) {
    std::vector<std::optional<std::string>> errors;
    try {
        errors = m_backend->apply(batch);
    } catch (const std::exception& error) {
        errors.assign(batch.size(), std::string(error.what()));
    }
    errors.resize(batch.size(), std::string("not carried out"));
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const FirewallChange& change = batch[i];
        if (errors[i]) {
            // The firewall may hold anything now: the record waits for the next listing.
            m_record.failed();
            logLine(m_op, std::string(" - Firewall: could not ") + verbOf(change.kind) + " " + change.requested + " (" +
                              *errors[i] + ")");
            continue;
        }
        const std::optional<std::string> address = canonicalAddress(change.requested);
        if (!address)
            m_record.failed(); // what the record cannot spell, the next listing will
        else if (change.kind == RuleChangeKind::Add)
            m_record.added(*address);
        else
            m_record.removed(*address);
    }
}

void QueuedFirewallCommand::list(const std::vector<Listing>& listings) {
    try {
        const std::vector<std::string> held = m_backend->list();
        for (const Listing& listing : listings)
            listing->set_value(held);
    } catch (...) {
        for (const Listing& listing : listings)
            listing->set_exception(std::current_exception());
    }
}

} // namespace ostrel::platform
