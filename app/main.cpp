// The timing desk: the main window, then the settings dialog and the information window, then the
// message loop.

#include "CfgDialog.h"
#include "FormInfo.h"
#include "FormMain.h"
#include "GuardedApplication.h"
#include "RealPlatform.h"

#include <QDir>

namespace {

// --virtual-ports or ZIELKRON_VIRTUAL_PORTS=1: only the virtual lines of the devices folder are
// ports; no real serial device is ever opened (training with the simulator, demonstrations,
// scripts and tests that start the program).
bool virtualPortsOnly(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "--virtual-ports") == 0)
            return true;
    return qgetenv("ZIELKRON_VIRTUAL_PORTS") == "1";
}

} // namespace

int main(int argc, char *argv[])
{
    platform::GuardedApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tempovia"));

    const QStringList cues = {QStringLiteral("Audio-Auf-Platz.wav"), QStringLiteral("Audio-Fertig.wav"),
                              QStringLiteral("Audio-Start.wav"), QStringLiteral("Audio-Start-Fehl.wav"),
                              QStringLiteral("Audio-Stopp.wav")};
    platform::RealPlatform real(cues, QDir::currentPath(), virtualPortsOnly(argc, argv));
    platform::Platform services = real.bundle();

    TFormMain formMain(services);
    // From here on an error that escapes a command is shown in the desk's error box and the desk
    // goes on: the meeting in its table is never lost to an exception.
    platform::GuardedApplication::setReporter([&formMain](const QString &text) { formMain.ShowError(text); });
    TCfgDialog cfgDialog(formMain.AvailablePorts, &formMain);
    formMain.CfgDialog = &cfgDialog;
    TFormInfo formInfo(&formMain);
    formMain.FormInfo = &formInfo;
    formMain.show();
    formMain.OfferJournalRestore();
    const int result = QApplication::exec();
    platform::GuardedApplication::setReporter(nullptr);
    return result;
}
