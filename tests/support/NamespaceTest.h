#pragma once

#include "support/linux/NetworkNamespace.h"

#include <gtest/gtest.h>
#include <optional>

namespace ostrel::test {

// A test with a network namespace of its own in m_ns, skipped where this machine cannot make
// one. A fixture that adds to SetUp calls this one first and returns when IsSkipped().
class NamespaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!NetworkNamespace::available())
            GTEST_SKIP() << NetworkNamespace::unavailableReason();
        m_ns.emplace();
    }

    std::optional<NetworkNamespace> m_ns;
};

} // namespace ostrel::test
