// The timing desk: the main window, then the information window, then the message loop.

#include "CfgDialog.h"
#include "FormInfo.h"
#include "FormMain.h"
#include "RealPlatform.h"

#include <QApplication>
#include <QDir>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tempovia"));

    const QStringList cues = {QStringLiteral("Audio-Auf-Platz.wav"), QStringLiteral("Audio-Fertig.wav"),
                              QStringLiteral("Audio-Start.wav"), QStringLiteral("Audio-Start-Fehl.wav"),
                              QStringLiteral("Audio-Stopp.wav")};
    platform::RealPlatform real(cues, QDir::currentPath());
    platform::Platform services = real.bundle();

    TFormMain formMain(services);
    TCfgDialog cfgDialog(formMain.AvailablePorts, &formMain);
    formMain.CfgDialog = &cfgDialog;
    TFormInfo formInfo(&formMain);
    formMain.FormInfo = &formInfo;
    formMain.show();
    return QApplication::exec();
}
