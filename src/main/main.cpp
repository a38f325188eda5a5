// rdp-ostrel: the operator window of the guard. Everything it needs lives next to the
// executable: Config.ini and the event channel folder "Eventlog".
#include "main/ErrorReport.h"
#include "main/TerminationSignals.h"
#include "main/Tmain_f.h"
#include "main/VisualStyle.h"
#include "platform/platform.h"

#include <QApplication>
#include <QMessageBox>
#include <clocale>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // Log lines carry the date and time in the user's regional format; numbers in text stay
    // in the one form every reader expects.
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    application.setApplicationName(ostrel::ApplicationTitle);

    if (!ostrel::applyVisualStyle(application, "Light"))
        QMessageBox::critical(nullptr, ostrel::ApplicationTitle, ostrel::missingStyleMessage("Light"));

    namespace platform = ostrel::platform;
    ostrel::Tmain_f main_f(ostrel::Tmain_f::Setup{
        platform::executableFolder() / "Config.ini",
        platform::eventlogFolder(),
        // Only the program's own nftables table is ever touched.
        [](ostrel::Operator& op) { return platform::makeNftablesFirewall(op); },
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
