// rdp-ostrel: the operator window of the guard. Everything it needs lives next to the
// executable: Config.ini and the event channel folder "Eventlog".
#include "common/ErrorReport.h"
#include "common/LogLine.h"
#include "main/TerminationSignals.h"
#include "main/Tmain_f.h"
#include "main/VisualStyle.h"
#include "platform/FirewallCommand.h"
#include "platform/InterfaceAddresses.h"
#include "platform/System.h"
#include "platform/portable/ChannelFileSource.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    ostrel::useRegionalFormats();
    application.setApplicationName(ostrel::ApplicationTitle);

    if (!ostrel::applyVisualStyle(application, "Light"))
        QMessageBox::critical(nullptr, ostrel::ApplicationTitle, ostrel::missingStyleMessage("Light"));

    namespace platform = ostrel::platform;
    ostrel::Tmain_f main_f(ostrel::Tmain_f::Setup{
        platform::executableFolder() / "Config.ini",
        platform::eventlogFolder(),
        &platform::makeFirewallCommand,
        &platform::AdapterIPAddress,
    });
    // Asked to stop, the program ends as when its window is closed, also from within a modal box.
    ostrel::TerminationSignals termination([&main_f] {
        main_f.close();
        QCoreApplication::quit();
    });
    main_f.show();
    return application.exec();
}
