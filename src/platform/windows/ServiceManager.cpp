#include "platform/ServiceManager.h"

#include "common/Errors.h"
#include "platform/windows/CommandLine.h"
#include "platform/windows/SystemErrors.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WindowsApi.h"

#include <chrono>
#include <memory>
#include <thread>
#include <type_traits>

namespace ostrel::platform {
namespace {

struct ServiceHandleClose {
    void operator()(SC_HANDLE handle) const { ::CloseServiceHandle(handle); }
};
// Owns one handle of the service manager or of a service and closes it on every path.
using ServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleClose>;

[[noreturn]] void fail(const std::string& what) {
    throw EOSError(failureText(what, ::GetLastError()));
}

ServiceHandle openManager(DWORD access) {
    ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, access));
    if (!manager)
        fail("Cannot reach the service manager");
    return manager;
}

std::wstring ownExecutable() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0)
            fail("Cannot find the program's own file");
        if (length < name.size())
            return name.substr(0, length);
        name.resize(name.size() * 2);
    }
}

// What the running service shares with the service manager's threads. One service per process.
struct RunningService {
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    SERVICE_STATUS status{};
    const std::function<int()>* run = nullptr;
    const std::function<void()>* onStop = nullptr;
    int exitCode = 0;
    bool started = false;
};
RunningService g_service;

void report(DWORD state, DWORD waitHintMilliseconds = 0) {
    g_service.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_service.status.dwCurrentState = state;
    g_service.status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    g_service.status.dwWaitHint = waitHintMilliseconds;
    if (state == SERVICE_RUNNING || state == SERVICE_STOPPED)
        g_service.status.dwCheckPoint = 0;
    else
        ++g_service.status.dwCheckPoint;
    ::SetServiceStatus(g_service.statusHandle, &g_service.status);
}

DWORD WINAPI onControl(DWORD control, DWORD, void*, void*) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        // The end takes as long as the slowest block under way; the hint keeps the manager waiting.
        report(SERVICE_STOP_PENDING, 30'000);
        (*g_service.onStop)();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI serviceMain(DWORD, wchar_t**) {
    g_service.started = true;
    g_service.statusHandle = ::RegisterServiceCtrlHandlerExW(toUtf16(ServiceName).c_str(), onControl, nullptr);
    if (!g_service.statusHandle)
        return;
    report(SERVICE_START_PENDING, 10'000);
    report(SERVICE_RUNNING);
    try {
        g_service.exitCode = (*g_service.run)();
    } catch (...) {
        g_service.exitCode = 1;
    }
    g_service.status.dwWin32ExitCode = g_service.exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    g_service.status.dwServiceSpecificExitCode = static_cast<DWORD>(g_service.exitCode);
    report(SERVICE_STOPPED);
}

} // namespace

void installService(const std::vector<std::string>& arguments) {
    std::vector<std::wstring> wide{toUtf16(AsServiceOption)};
    for (const std::string& argument : arguments)
        wide.push_back(toUtf16(argument));
    const std::wstring binaryPath = commandLine(ownExecutable(), wide);
    const ServiceHandle manager = openManager(SC_MANAGER_CREATE_SERVICE);
    const std::wstring name = toUtf16(ServiceName);
    // Local system: the guard changes the firewall and the registry below HKEY_LOCAL_MACHINE.
    const ServiceHandle service(::CreateServiceW(manager.get(), name.c_str(), L"RDP-Ostrel guard", SERVICE_ALL_ACCESS,
                                                 SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                                 binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service)
        fail("Cannot register the service " + std::string(ServiceName));
    SERVICE_DESCRIPTIONW description{
        const_cast<wchar_t*>(L"Blocks addresses that fail Remote Desktop logons, in the Windows Firewall.")};
    ::ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description);
}

void uninstallService() {
    const ServiceHandle manager = openManager(SC_MANAGER_CONNECT);
    const ServiceHandle service(
        ::OpenServiceW(manager.get(), toUtf16(ServiceName).c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service)
        fail("Cannot open the service " + std::string(ServiceName));
    SERVICE_STATUS status{};
    if (::ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        // The guard ends in order (honeypot awaited, firewall queue applied); give it the time.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (::QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    if (!::DeleteService(service.get()))
        fail("Cannot remove the service " + std::string(ServiceName));
}

int runAsService(const std::function<int()>& run, const std::function<void()>& onStop) {
    g_service.run = &run;
    g_service.onStop = &onStop;
    std::wstring name = toUtf16(ServiceName);
    const SERVICE_TABLE_ENTRYW table[] = {{name.data(), serviceMain}, {nullptr, nullptr}};
    // Returns once the service has stopped; fails at once when no service manager started us.
    if (!::StartServiceCtrlDispatcherW(table))
        fail("Cannot run as the service " + std::string(ServiceName));
    return g_service.exitCode;
}

} // namespace ostrel::platform
