#pragma once

#include <string>

namespace ostrel::test {

// Every thread's stack in this process, as gdb prints it: what a test that found the program
// stuck shows, so that a rare hang names the call it hangs in. Says so where gdb is missing.
std::string threadBacktraces();

} // namespace ostrel::test
