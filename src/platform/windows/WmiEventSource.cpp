#include "platform/windows/WmiEventSource.h"

#include "platform/windows/ComValues.h"
#include "platform/windows/SystemErrors.h"
#include "platform/windows/VariantText.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WindowsApi.h"

#include <wbemidl.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace ostrel::platform {
namespace {

constexpr long ForwardOnly = WBEM_FLAG_FORWARD_ONLY; // 32, as the scripting interface takes it

ComPtr<IWbemServices> connectCimv2() {
    ComPtr<IWbemLocator> locator;
    checkCom(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&locator)),
             "CoCreateInstance(WbemLocator)");
    ComPtr<IWbemServices> services;
    // The local machine under its loopback name, the current user's own rights: WMI takes no
    // user name or password for a local connection.
    const Bstr path("\\\\localhost\\root\\CIMV2");
    checkCom(locator->ConnectServer(path.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services),
             "IWbemLocator::ConnectServer");
    // The services object of the WMI service is a proxy into another process; calls through it
    // must impersonate the caller. An in-process provider has no proxy to set up.
    const HRESULT blanket =
        ::CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                            RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (blanket != E_NOINTERFACE)
        checkCom(blanket, "CoSetProxyBlanket");
    return services;
}

Variant property(IWbemClassObject& object, const wchar_t* name) {
    Variant value;
    const std::string call = "IWbemClassObject::Get(" + toUtf8(name) + ")";
    checkCom(object.Get(name, 0, value.receive(), nullptr, nullptr), call.c_str());
    return value;
}

} // namespace

std::string wmiQueryText(const std::string& channel, const std::string& recordNumber) {
    const char dq = '"';
    return "SELECT * FROM Win32_NTLogEvent Where Logfile=" + std::string(1, dq) + channel + dq +
           " AND EventCode=140 AND RecordNumber > " + recordNumber;
}

WmiEventSource::WmiEventSource(std::string channel) : m_channel(std::move(channel)) {}

std::vector<EventRecord> WmiEventSource::recordsAbove(std::int64_t recordNumber) {
    const ComPtr<IWbemServices> services = connectCimv2();
    const Bstr language("WQL");
    const Bstr query(wmiQueryText(m_channel, std::to_string(recordNumber)));
    ComPtr<IEnumWbemClassObject> objects;
    checkCom(services->ExecQuery(language.get(), query.get(), ForwardOnly, nullptr, &objects),
             "IWbemServices::ExecQuery");
    return readRecords(*objects.Get());
}

std::vector<EventRecord> readRecords(IEnumWbemClassObject& objects) {
    std::vector<EventRecord> records;
    for (;;) {
        ComPtr<IWbemClassObject> object;
        ULONG fetched = 0;
        const HRESULT next = objects.Next(WBEM_INFINITE, 1, &object, &fetched);
        // WBEM_S_FALSE with nothing fetched is the one regular end. Anything else that brings no
        // object is a walk cut short: the records read so far are not all there are, and a scan
        // that took them would move its mark past records it never saw.
        if (next == WBEM_S_FALSE && fetched == 0)
            break;
        checkCom(next, "IEnumWbemClassObject::Next");
        if (next != WBEM_S_NO_ERROR || fetched != 1 || !object)
            throw comError("IEnumWbemClassObject::Next (no object)", next == WBEM_S_NO_ERROR ? E_UNEXPECTED : next);
        const Variant number = property(*object.Get(), L"RecordNumber");
        const Variant data = property(*object.Get(), L"Data");
        const Variant strings = property(*object.Get(), L"InsertionStrings");
        records.push_back(eventRecordOf(number.get(), data.get(), strings.get()));
    }
    return records;
}

} // namespace ostrel::platform
