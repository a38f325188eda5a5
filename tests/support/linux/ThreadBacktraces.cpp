#include "support/linux/ThreadBacktraces.h"

#include "platform/linux/ChildProcess.h"
#include "support/TempFolder.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace ostrel::test {

std::string threadBacktraces() {
    // gdb stops this process while it walks the stacks, so its output goes to a file read once
    // it has let go: a pipe this process drains would fill and hold both for good. The deadline
    // keeps a gdb that hangs from holding the test.
    const TempFolder folder;
    const std::filesystem::path file = folder / "stacks.txt";
    try {
        platform::runProcess({"sh", "-c",
                              "exec gdb -nx -batch -p " + std::to_string(::getpid()) +
                                  " -ex 'thread apply all bt' >'" + file.string() + "' 2>&1"},
                             {}, std::chrono::seconds(60));
    } catch (const std::exception& error) {
        return std::string("no stacks: ") + error.what();
    }
    std::ostringstream text;
    text << std::ifstream(file).rdbuf();
    return text.str(); // without gdb, the shell's word that it is missing
}

} // namespace ostrel::test
