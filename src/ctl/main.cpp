// rdp-ostrel-ctl: the guard's blocks and set-up from the command line.
#include "common/ErrorReport.h"
#include "ctl/Commands.h"
#include "ctl/CtlOptions.h"
#include "ctl/CtlSession.h"
#include "ctl/SetupCheck.h"
#include "platform/System.h"

#include <iostream>

#ifndef OSTREL_VERSION
#define OSTREL_VERSION "unknown"
#endif
#ifndef OSTREL_INSTALLED_CONFIG
#define OSTREL_INSTALLED_CONFIG ""
#endif

int main(int argc, char* argv[]) {
    using ostrel::CtlOptions;
    CtlOptions options;
    try {
        options = ostrel::parseCtlOptions({argv + 1, argv + argc}, ostrel::platform::executableFolder(),
                                          OSTREL_INSTALLED_CONFIG);
    } catch (const ostrel::CtlUsageError& error) {
        std::cerr << "rdp-ostrel-ctl: " << error.what() << "\nTry 'rdp-ostrel-ctl --help'.\n";
        return ostrel::ExitUsage;
    }
    try {
        switch (options.command) {
        case CtlOptions::Command::Help:
            std::cout << ostrel::ctlUsage();
            return ostrel::ExitDone;
        case CtlOptions::Command::Version:
            std::cout << "rdp-ostrel-ctl " OSTREL_VERSION "\n";
            return ostrel::ExitDone;
        case CtlOptions::Command::Check:
            return ostrel::checkSetup(options, std::cout);
        default:
            break;
        }
        ostrel::CtlSession session(options, std::cout);
        switch (options.command) {
        case CtlOptions::Command::List:
            return ostrel::listBlocks(session, options, std::cout);
        case CtlOptions::Command::Unblock:
            return ostrel::unblockAddress(session, options, std::cout);
        case CtlOptions::Command::Block:
            return ostrel::blockAddress(session, options, std::cout);
        default:
            return ostrel::ExitUsage;
        }
    } catch (...) {
        std::cerr << "rdp-ostrel-ctl: " << ostrel::errorReportText(std::current_exception()) << "\n";
        return ostrel::ExitFailed;
    }
}
