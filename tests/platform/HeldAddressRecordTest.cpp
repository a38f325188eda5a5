#include "platform/portable/HeldAddressRecord.h"

#include <gtest/gtest.h>

namespace ostrel::platform {
namespace {

using Addresses = std::vector<std::string>;

// A reading may or may not show a change applied while it ran: the record does not take it, and
// the reading after it counts.
TEST(HeldAddressRecord, TakesNoReadingThatOverlappedAChange) {
    HeldAddressRecord record({std::chrono::seconds(60), {}});
    for (const auto& change :
         {+[](HeldAddressRecord& r) { r.added("203.0.113.7"); },
          +[](HeldAddressRecord& r) { r.removed("203.0.113.7"); }, +[](HeldAddressRecord& r) { r.failed(); }}) {
        const std::uint64_t overlapped = record.readingStarts();
        change(record);
        record.readingEnded(overlapped, {"198.51.100.4"});
        EXPECT_FALSE(record.addresses());
        EXPECT_FALSE(record.version());
    }
    record.readingEnded(record.readingStarts(), {"198.51.100.4"});
    EXPECT_EQ(record.addresses(), Addresses{"198.51.100.4"});
}

} // namespace
} // namespace ostrel::platform
