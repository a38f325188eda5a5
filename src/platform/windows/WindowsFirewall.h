#pragma once

#include "platform/HeldAddressRecord.h"
#include "platform/platform.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ostrel::platform {

class FirewallRules;

// The firewall command on the Windows Firewall (INetFwPolicy2). Calls validate the address and
// queue the change; one worker thread, in a COM apartment of its own, carries the changes out
// in order: a block adds one inbound rule, a release removes every rule of that name. A change
// that fails is logged to the main pane with the HRESULT and the system's text for it.
class WindowsFirewall final : public FirewallCommand {
public:
    explicit WindowsFirewall(Operator& op, FirewallRecordTiming timing = {});
    // Carries out what is still queued, then stops the worker.
    ~WindowsFirewall() override;
    WindowsFirewall(const WindowsFirewall&) = delete;
    WindowsFirewall& operator=(const WindowsFirewall&) = delete;

    void addRule(const std::string& ruleName, const std::string& address) override;
    void deleteRule(const std::string& ruleName, const std::string& address) override;
    void drain() override;
    // The addresses that hold an Autoblock_ rule once the queued changes are carried out: from
    // the record of this command's own changes while it can answer, else listed. Raises
    // EOleException when the rules cannot be listed.
    std::vector<std::string> blockedAddresses() override;
    std::optional<std::uint64_t> heldAddressesVersion() override;

private:
    // Reaches the rule collection, making it when needed; raises EOleException when it cannot.
    using Reach = std::function<FirewallRules&()>;
    // One queued piece of work; false when it failed, so that the collection is made anew.
    using Job = std::function<bool(const Reach&)>;

    void queue(Job job);
    void work();
    std::vector<std::string> listRules();

    Operator& m_op;
    HeldAddressRecord m_record;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<Job> m_pending;
    std::uint64_t m_queuedCount = 0;
    std::uint64_t m_doneCount = 0;
    bool m_stopping = false;
    std::thread m_worker;
};

} // namespace ostrel::platform
