#include "platform/windows/WindowsFirewall.h"

#include "common/Errors.h"
#include "platform/windows/FirewallRules.h"
#include "platform/windows/SystemErrors.h"
#include "platform/windows/WindowsApi.h"

#include <algorithm>
#include <objbase.h>
#include <optional>

namespace ostrel::platform {
namespace {

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

WindowsFirewall::WindowsFirewall() = default;
WindowsFirewall::~WindowsFirewall() = default;

void WindowsFirewall::serve(const std::function<void()>& loop) {
    const WorkerApartment apartment;
    m_apartment = apartment.result();
    loop();
    m_rules.reset(); // released inside the apartment that made it
}

FirewallRules& WindowsFirewall::rules() {
    if (FAILED(m_apartment))
        throw comError("CoInitializeEx", m_apartment);
    if (!m_rules)
        m_rules = std::make_unique<FirewallRules>();
    return *m_rules;
}

std::vector<std::optional<std::string>> WindowsFirewall::apply(std::span<const FirewallChange> changes) {
    std::vector<std::optional<std::string>> errors;
    for (const FirewallChange& change : changes) {
        try {
            if (change.kind == RuleChangeKind::Add) {
                const std::optional<FirewallRule> rule = blockRuleFor(change.ruleName, change.requested);
                if (!rule) {
                    errors.emplace_back("no rule name");
                    continue;
                }
                rules().add(*rule);
            } else {
                rules().remove(change.ruleName);
            }
            errors.emplace_back(std::nullopt);
        } catch (const EOleException& error) {
            m_rules.reset();
            errors.emplace_back(describe(error));
        }
    }
    return errors;
}

std::vector<std::string> WindowsFirewall::list() {
    try {
        std::vector<std::string> addresses;
        for (const std::string& name : rules().names()) {
            const auto address = addressOfRuleName(name);
            const auto canonical = address ? canonicalAddress(*address) : std::nullopt;
            if (canonical && std::find(addresses.begin(), addresses.end(), *canonical) == addresses.end())
                addresses.push_back(*canonical);
        }
        return addresses;
    } catch (...) {
        m_rules.reset();
        throw;
    }
}

std::unique_ptr<FirewallCommand> makeWindowsFirewall(Operator& op, FirewallRecordTiming timing) {
    return std::make_unique<QueuedFirewallCommand>(op, std::make_unique<WindowsFirewall>(), std::move(timing));
}

} // namespace ostrel::platform
