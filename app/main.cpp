// The timing desk: the main window, then the information window, then the message loop.

#include "CfgDialog.h"
#include "FormInfo.h"
#include "FormMain.h"
#include "LiveView.h"
#include "RealPlatform.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

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

    // The live results view: from the settings, or for this run from "--live PORT".
    live::LiveView liveView(formMain);
    QString liveMessage;
    if (!live::LiveView::ParseOption(QApplication::arguments(), formMain.LiveSettings, liveMessage)) {
        std::fprintf(stderr, "%s\n", qPrintable(liveMessage));
        return 2;
    }
    liveView.apply();
    if (liveView.isServing())
        std::printf("Live-Anzeige: http://%s:%d/\n",
                    qPrintable(live::LiveView::Addresses(formMain.LiveSettings.Bind).value(0)), liveView.port());
    std::fflush(stdout);
    formMain.show();
    return QApplication::exec();
}
