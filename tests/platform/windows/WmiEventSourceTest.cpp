#include "platform/windows/WmiEventSource.h"

#include "WineDetection.h"
#include "common/Errors.h"
#include "platform/ComScope.h"
#include "platform/EventSource.h"

#include <gtest/gtest.h>
#include <wbemidl.h>

namespace ostrel::test {
namespace {

using platform::wmiQueryText;

TEST(WmiQueryText, IsTheQueryOfTheChannelsEvent140AboveTheRecordNumber) {
    struct Case {
        std::string recordNumber;
        std::string expected;
    };
    const Case cases[] = {
        {"0", "SELECT * FROM Win32_NTLogEvent Where Logfile=\"Microsoft-Windows-RemoteDesktopServices-RdpCoreTS/"
              "Operational\" AND EventCode=140 AND RecordNumber > 0"},
        {"4294967295", "SELECT * FROM Win32_NTLogEvent Where Logfile=\"Microsoft-Windows-RemoteDesktopServices-"
                       "RdpCoreTS/Operational\" AND EventCode=140 AND RecordNumber > 4294967295"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wmiQueryText(platform::RdpChannel, c.recordNumber), c.expected) << "record number " << c.recordNumber;
}

// Wine answers ConnectServer and ExecQuery but keeps no Win32_NTLogEvent rows: this shows the
// COM path (locator, services, query, enumeration, ComScope) works end to end, nothing more.
// What the event log itself returns can only be seen on Windows.
// An enumeration that answers every Next with one result, as a WMI service does whose walk was
// cut off (the service restarted, the connection dropped, a timeout). Wine's own enumerations
// never fail, so the walk is given this one.
class BrokenEnumeration final : public IEnumWbemClassObject {
public:
    explicit BrokenEnumeration(HRESULT answer) : m_answer(answer) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Next(long, ULONG, IWbemClassObject** objects, ULONG* returned) override {
        ++calls;
        *objects = nullptr;
        *returned = 0;
        return m_answer;
    }
    HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Skip(long, ULONG) override { return E_NOTIMPL; }

    int calls = 0;

private:
    HRESULT m_answer;
};

TEST(WmiRecordWalk, AWalkThatEndsInAnythingButItsRegularEndRaisesEOleException) {
    struct Case {
        const char* what;
        HRESULT answer;
    };
    const Case cases[] = {
        {"a failure", static_cast<HRESULT>(WBEM_E_TRANSPORT_FAILURE)},
        {"a timeout", static_cast<HRESULT>(WBEM_S_TIMEDOUT)},
        {"success without an object", static_cast<HRESULT>(WBEM_S_NO_ERROR)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BrokenEnumeration objects(c.answer);
        EXPECT_THROW(platform::readRecords(objects), EOleException);
        EXPECT_EQ(objects.calls, 1);
    }
}

TEST(WmiRecordWalk, TheRegularEndIsAnEmptyAnswer) {
    BrokenEnumeration objects(static_cast<HRESULT>(WBEM_S_FALSE));
    EXPECT_TRUE(platform::readRecords(objects).empty());
}

TEST(WmiEventSourcePlumbing, TheComPathRunsEndToEndWithoutAnError) {
    const platform::ComScope com;
    platform::WmiEventSource source;
    std::vector<platform::EventRecord> records;
    try {
        records = source.recordsAbove(0);
    } catch (const EOleException& error) {
        FAIL() << "EOleException " << error.what() << " " << std::hex << error.code();
    }
    if (runningUnderWine()) {
        EXPECT_TRUE(records.empty()) << "Wine now keeps event log rows: make this test look at them";
    }
}

TEST(WmiEventSourcePlumbing, AScanAfterTheFirstInTheSameThreadWorksToo) {
    for (int pass = 0; pass < 2; ++pass) {
        const platform::ComScope com;
        EXPECT_NO_THROW(platform::WmiEventSource().recordsAbove(1000)) << "pass " << pass;
    }
}

} // namespace
} // namespace ostrel::test
