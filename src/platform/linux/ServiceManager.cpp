#include "platform/ServiceManager.h"

#include "common/Errors.h"

namespace ostrel::platform {
namespace {

[[noreturn]] void elsewhere() {
    throw EOSError("The Windows service manager is not here; on Linux install the systemd unit of dist/ instead");
}

} // namespace

void installService(const std::vector<std::string>&) {
    elsewhere();
}

void uninstallService() {
    elsewhere();
}

int runAsService(const std::function<int()>&, const std::function<void()>&) {
    elsewhere();
}

} // namespace ostrel::platform
