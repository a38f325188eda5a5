#include "support/linux/ThreadBacktraces.h"

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace ostrel::test {

std::string threadBacktraces() {
    // gdb stops this process while it reads the stacks; the deadline keeps a gdb that hangs
    // from holding the test.
    const std::string command = "command -v gdb >/dev/null || { echo 'no gdb here'; exit; }; "
                                "timeout 60 gdb -nx -batch -p " +
                                std::to_string(::getpid()) + " -ex 'thread apply all bt' 2>&1";
    const std::unique_ptr<FILE, int (*)(FILE*)> output(::popen(command.c_str(), "r"), ::pclose);
    if (!output)
        return "gdb could not be started";
    std::string text;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, output.get()))
        text.append(buffer, n);
    return text;
}

} // namespace ostrel::test
