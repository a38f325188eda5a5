#include "platform/windows/WindowsFirewall.h"

#include "common/Errors.h"
#include "common/Operator.h"
#include "platform/windows/FirewallRules.h"
#include "platform/windows/SystemErrors.h"
#include "platform/windows/WindowsApi.h"

#include <algorithm>
#include <future>
#include <objbase.h>
#include <optional>

namespace ostrel::platform {
namespace {

// A refused text is shown, not trusted: control characters would break the log line.
std::string printable(const std::string& text) {
    std::string shown = text.substr(0, 100);
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return (c >= 0 && c < 0x20) || c == 0x7f; }, '?');
    return shown;
}

// A change the firewall took, in the record's spelling; one it cannot spell leaves the answer
// to the next listing.
void recordChange(HeldAddressRecord& record, const std::string& address, bool added) {
    const std::optional<std::string> canonical = canonicalAddress(address);
    if (!canonical)
        record.failed();
    else if (added)
        record.added(*canonical);
    else
        record.removed(*canonical);
}

std::string describe(const EOleException& error) {
    return std::string(error.what()) + " " + hexCode(static_cast<std::uint32_t>(error.code()));
}

// The worker's own COM apartment, for the worker's whole life.
class WorkerApartment {
public:
    WorkerApartment() : m_result(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~WorkerApartment() {
        if (SUCCEEDED(m_result))
            ::CoUninitialize();
    }
    WorkerApartment(const WorkerApartment&) = delete;
    WorkerApartment& operator=(const WorkerApartment&) = delete;
    HRESULT result() const { return m_result; }

private:
    HRESULT m_result;
};

} // namespace

WindowsFirewall::WindowsFirewall(Operator& op, FirewallRecordTiming timing)
    : m_op(op), m_record(std::move(timing)), m_worker([this] { work(); }) {}

WindowsFirewall::~WindowsFirewall() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_worker.join();
}

void WindowsFirewall::addRule(const std::string& ruleName, const std::string& address) {
    const auto rule = blockRuleFor(ruleName, address);
    if (!rule) {
        logLine(m_op, " - Firewall: refused to add '" + printable(address) + "' (not an IP address, or loopback)");
        return;
    }
    queue([this, rule = *rule, address](const Reach& rules) {
        try {
            rules().add(rule);
            recordChange(m_record, address, true);
            return true;
        } catch (const EOleException& error) {
            m_record.failed();
            logLine(m_op, " - Firewall: could not add " + address + " (" + describe(error) + ")");
            return false;
        }
    });
}

void WindowsFirewall::deleteRule(const std::string& ruleName, const std::string& address) {
    if (!blockRuleFor(ruleName, address)) {
        logLine(m_op, " - Firewall: refused to delete '" + printable(address) + "' (not an IP address, or loopback)");
        return;
    }
    queue([this, ruleName, address](const Reach& rules) {
        try {
            rules().remove(ruleName);
            recordChange(m_record, address, false);
            return true;
        } catch (const EOleException& error) {
            m_record.failed();
            logLine(m_op, " - Firewall: could not delete " + address + " (" + describe(error) + ")");
            return false;
        }
    });
}

void WindowsFirewall::drain() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_queuedCount;
    m_done.wait(lock, [&] { return m_doneCount >= target; });
}

std::vector<std::string> WindowsFirewall::blockedAddresses() {
    drain();
    return m_record.addressesOrRead([this] { return listRules(); });
}

std::optional<std::uint64_t> WindowsFirewall::heldAddressesVersion() {
    drain();
    return m_record.version();
}

std::vector<std::string> WindowsFirewall::listRules() {
    // Listed on the worker, in its apartment, after every change queued before.
    std::promise<std::vector<std::string>> listed;
    std::future<std::vector<std::string>> result = listed.get_future();
    queue([&listed](const Reach& rules) {
        try {
            std::vector<std::string> addresses;
            for (const std::string& name : rules().names()) {
                const auto address = addressOfRuleName(name);
                const auto canonical = address ? canonicalAddress(*address) : std::nullopt;
                if (canonical && std::find(addresses.begin(), addresses.end(), *canonical) == addresses.end())
                    addresses.push_back(*canonical);
            }
            listed.set_value(std::move(addresses));
            return true;
        } catch (...) {
            listed.set_exception(std::current_exception());
            return false;
        }
    });
    return result.get();
}

void WindowsFirewall::queue(Job job) {
    {
        std::lock_guard lock(m_mutex);
        m_pending.push_back(std::move(job));
        ++m_queuedCount;
    }
    m_wake.notify_one();
}

void WindowsFirewall::work() {
    const WorkerApartment apartment;
    std::optional<FirewallRules> rules;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stopping || !m_pending.empty(); });
        if (m_pending.empty())
            return;
        Job job = std::move(m_pending.front());
        m_pending.pop_front();
        lock.unlock();
        // Made at the first change and again after a failure, so that a firewall service that
        // was down a moment ago is reached once it runs.
        const Reach reach = [&]() -> FirewallRules& {
            if (FAILED(apartment.result()))
                throw comError("CoInitializeEx", apartment.result());
            if (!rules)
                rules.emplace();
            return *rules;
        };
        bool succeeded = false;
        try {
            succeeded = job(reach);
        } catch (const std::exception& error) {
            logLine(m_op, std::string(" - Firewall: ") + error.what());
        }
        if (!succeeded)
            rules.reset();
        job = {};
        lock.lock();
        ++m_doneCount;
        m_done.notify_all();
    }
}

std::unique_ptr<FirewallCommand> makeFirewallCommand(Operator& op) {
    return std::make_unique<WindowsFirewall>(op);
}

} // namespace ostrel::platform
