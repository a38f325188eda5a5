#include "support/linux/NetworkNamespace.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <stdexcept>
#include <unistd.h>

namespace ostrel::test {
namespace {

using platform::ProcessOutcome;
using platform::runProcess;

std::string uniqueName() {
    static std::atomic<int> counter{0};
    return "ostrel-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

std::string describe(const std::vector<std::string>& argv, const ProcessOutcome& outcome) {
    std::string line;
    for (const auto& argument : argv)
        line += (line.empty() ? "" : " ") + argument;
    return line + " failed (exit " + std::to_string(outcome.exitCode) + "): " + outcome.errors;
}

void checked(const std::vector<std::string>& argv) {
    const ProcessOutcome outcome = runProcess(argv);
    if (!outcome.succeeded())
        throw std::runtime_error(describe(argv, outcome));
}

// Probes once whether namespaces and nft inside them work here; empty text when they do.
std::string probeNamespaces() {
    if (::geteuid() != 0)
        return "network namespace tests need root (ip netns add, nft)";
    try {
        NetworkNamespace probe;
        const ProcessOutcome nft = probe.exec({"nft", "list", "tables"});
        if (!nft.succeeded())
            return "nft does not work inside a network namespace: " + nft.errors;
        probe.run([] {});
        return {};
    } catch (const std::exception& error) {
        return std::string("network namespaces are not available here: ") + error.what();
    }
}

} // namespace

NetworkNamespace::NetworkNamespace() : m_name(uniqueName()) {
    checked({"ip", "netns", "add", m_name});
    try {
        checked({"ip", "-n", m_name, "link", "set", "lo", "up"});
    } catch (...) {
        runProcess({"ip", "netns", "delete", m_name});
        throw;
    }
}

NetworkNamespace::~NetworkNamespace() {
    try {
        runProcess({"ip", "netns", "delete", m_name});
    } catch (...) {
        // A namespace left behind is harmless to the machine; a throwing destructor is not.
    }
}

bool NetworkNamespace::available() {
    return unavailableReason().empty();
}

const std::string& NetworkNamespace::unavailableReason() {
    static const std::string reason = probeNamespaces();
    return reason;
}

ProcessOutcome NetworkNamespace::exec(const std::vector<std::string>& argv, std::string_view input) const {
    std::vector<std::string> line{"ip", "netns", "exec", m_name};
    line.insert(line.end(), argv.begin(), argv.end());
    return runProcess(line, input);
}

std::string NetworkNamespace::execChecked(const std::vector<std::string>& argv, std::string_view input) const {
    const ProcessOutcome outcome = exec(argv, input);
    if (!outcome.succeeded())
        throw std::runtime_error(describe(argv, outcome) + " in " + m_name);
    return outcome.output;
}

void NetworkNamespace::enter() const {
    const platform::FileDescriptor handle(::open(("/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC));
    if (!handle)
        throw std::runtime_error("cannot open namespace " + m_name + ": " + std::strerror(errno));
    if (::setns(handle.get(), CLONE_NEWNET) != 0)
        throw std::runtime_error("cannot enter namespace " + m_name + ": " + std::strerror(errno));
}

void linkByVeth(const NetworkNamespace& a, const std::vector<std::string>& addressesOfA, const NetworkNamespace& b,
                const std::vector<std::string>& addressesOfB, const std::string& interfaceName) {
    checked({"ip", "-n", a.name(), "link", "add", interfaceName, "type", "veth", "peer", "name", interfaceName, "netns",
             b.name()});
    const auto configure = [&](const NetworkNamespace& side, const std::vector<std::string>& addresses) {
        for (const auto& address : addresses) {
            std::vector<std::string> command{"ip", "-n", side.name(), "address", "add", address, "dev", interfaceName};
            if (address.find(':') != std::string::npos)
                command.push_back("nodad"); // usable at once, without duplicate address detection
            checked(command);
        }
        checked({"ip", "-n", side.name(), "link", "set", interfaceName, "up"});
    };
    configure(a, addressesOfA);
    configure(b, addressesOfB);
}

} // namespace ostrel::test
