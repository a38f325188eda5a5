#include "platform/System.h"

#include "common/Errors.h"

#include <cerrno>
#include <cstring>
#include <system_error>
#include <unistd.h>

namespace ostrel::platform {

std::filesystem::path executableFolder() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        throw EInOutError("Cannot find the program's own file: " + error.message());
    return executable.parent_path();
}

std::string machineName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        throw EInOutError(std::string("Cannot read the machine's name: ") + std::strerror(errno));
    return name;
}

std::uint32_t currentProcessId() {
    return static_cast<std::uint32_t>(::getpid());
}

std::tm localTime(std::time_t moment) {
    std::tm local{};
    ::localtime_r(&moment, &local);
    return local;
}

} // namespace ostrel::platform
