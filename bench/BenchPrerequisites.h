#pragma once

#include "support/TestDatabase.h"
#include "support/linux/NetworkNamespace.h"

#include <cstdio>

namespace ostrel::bench {

// The benchmarks need the test database server and network namespaces for nftables;
// says plainly which one is missing.
inline bool prerequisitesMet() {
    if (!test::TestServer::get().configured) {
        std::fprintf(stderr, "no test database: run scripts/bench, or scripts/testdb start first\n");
        return false;
    }
    if (!test::NetworkNamespace::available()) {
        std::fprintf(stderr, "network namespaces unavailable: %s\n",
                     test::NetworkNamespace::unavailableReason().c_str());
        return false;
    }
    return true;
}

} // namespace ostrel::bench
