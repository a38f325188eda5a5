#pragma once

#include "platform/linux/ChildProcess.h"

#include <exception>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace ostrel::test {

// A network namespace of the test's own, made with `ip netns add` (loopback up) and deleted
// again on destruction, so nothing a test does to the network reaches the machine's own.
class NetworkNamespace {
public:
    NetworkNamespace();
    ~NetworkNamespace();
    NetworkNamespace(const NetworkNamespace&) = delete;
    NetworkNamespace& operator=(const NetworkNamespace&) = delete;

    // Whether this machine lets the tests make namespaces and run nft in them; checked once.
    // Use: if (!NetworkNamespace::available()) GTEST_SKIP() << NetworkNamespace::unavailableReason();
    static bool available();
    static const std::string& unavailableReason();

    const std::string& name() const { return m_name; }

    // Runs a program inside (`ip netns exec`), without a shell.
    platform::ProcessOutcome exec(const std::vector<std::string>& argv, std::string_view input = {}) const;
    // As exec, but raises std::runtime_error with the program's message when it fails.
    std::string execChecked(const std::vector<std::string>& argv, std::string_view input = {}) const;

    // Calls fn on a thread that has entered the namespace and returns its result; sockets it
    // opens belong to the namespace. An exception of fn is raised here.
    template <typename Fn> std::invoke_result_t<Fn> run(Fn&& fn) const;

private:
    // Moves the calling thread into the namespace; raises std::runtime_error when it cannot.
    void enter() const;

    std::string m_name;
};

// Joins two namespaces with a veth pair (the interface is `interfaceName` on both sides),
// gives each side its addresses ("203.0.113.1/24", "2001:db8::1/64", ...) and brings it up.
void linkByVeth(const NetworkNamespace& a, const std::vector<std::string>& addressesOfA, const NetworkNamespace& b,
                const std::vector<std::string>& addressesOfB, const std::string& interfaceName = "veth0");

template <typename Fn> std::invoke_result_t<Fn> NetworkNamespace::run(Fn&& fn) const {
    using Result = std::invoke_result_t<Fn>;
    std::exception_ptr failure;
    std::conditional_t<std::is_void_v<Result>, bool, std::optional<Result>> result{};
    std::thread worker([&] {
        try {
            enter();
            if constexpr (std::is_void_v<Result>)
                fn();
            else
                result.emplace(fn());
        } catch (...) {
            failure = std::current_exception();
        }
    });
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<Result>)
        return std::move(*result);
}

} // namespace ostrel::test
