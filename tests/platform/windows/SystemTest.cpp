#include "platform/System.h"

#include "WineDetection.h"
#include "platform/EventChannel.h"
#include "platform/InterfaceAddresses.h"
#include "platform/portable/Addresses.h"
#include "platform/portable/ChannelFileSource.h"
#include "platform/windows/RegistryKey.h"

#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

// Wine keeps a real registry in its prefix, so this is the probe's own behaviour: the key is
// made when missing and opened when present. Windows refuses it to a user without
// administrator rights, which only a real Windows can show.
TEST(RegistryProbe, OpensOrCreatesTheEventChannelKeyWithFullAccess) {
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_TRUE(platform::probeEventChannel({})) << "attempt " << attempt;
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, platform::EventChannelKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    const platform::RegistryKey owned(key);
    // One key whose name holds the "/", not a key "Microsoft-...RdpCoreTS" with a subkey.
    HKEY wrong = nullptr;
    EXPECT_NE(::RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                              L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\"
                              L"Microsoft-Windows-RemoteDesktopServices-RdpCoreTS\\Operational",
                              0, KEY_READ, &wrong),
              ERROR_SUCCESS);
    if (wrong)
        ::RegCloseKey(wrong);
}

TEST(WindowsSystem, TheExecutableFolderHoldsThisProgram) {
    wchar_t own[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameW(nullptr, own, MAX_PATH), 0u);
    const std::filesystem::path program(own);
    EXPECT_EQ(platform::executableFolder(), program.parent_path());
    EXPECT_TRUE(std::filesystem::exists(platform::executableFolder() / program.filename()));
    EXPECT_EQ(platform::eventlogFolder(), program.parent_path() / "Eventlog");
}

TEST(WindowsSystem, TheAdapterAddressIsAnIPv4AddressOfThisMachineButNeverLoopback) {
    const std::string adapter = platform::AdapterIPAddress();
    if (adapter.empty())
        GTEST_SKIP() << "no adapter with an IPv4 address is up here";
    const auto literal = platform::parseIpLiteral(adapter);
    ASSERT_TRUE(literal) << adapter;
    EXPECT_EQ(literal->family, platform::AddressFamily::IPv4) << adapter;
    EXPECT_FALSE(platform::isLoopbackAddress(adapter)) << adapter;
    EXPECT_TRUE(platform::isOwnAddress(adapter)) << adapter;
}

TEST(WindowsSystem, OwnAddressesAreThoseOfTheAdaptersOnly) {
    EXPECT_TRUE(platform::isOwnAddress("127.0.0.1"));
    EXPECT_FALSE(platform::isOwnAddress("198.51.100.77"));
    EXPECT_FALSE(platform::isOwnAddress("2001:db8::77"));
    EXPECT_FALSE(platform::isOwnAddress("no address"));
}

TEST(WindowsSystem, LocalTimeIsTheCalendarTimeOfTheMoment) {
    const std::time_t moment = 1733753000; // 2024-12-09 14:03:20 UTC
    const std::tm local = platform::localTime(moment);
    EXPECT_EQ(local.tm_year, 124);
    EXPECT_EQ(local.tm_mon, 11);
    EXPECT_GE(local.tm_mday, 8);
    EXPECT_LE(local.tm_mday, 10);
    EXPECT_EQ(local.tm_sec, 20);
}

} // namespace
} // namespace ostrel::test
