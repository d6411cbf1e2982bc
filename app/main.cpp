// The timing desk: the main window, then the information window, then the message loop.

#include "CfgDialog.h"
#include "CommandLine.h"
#include "FormInfo.h"
#include "FormMain.h"
#include "HelpWindow.h"
#include "RealPlatform.h"

#include <QApplication>
#include <QDir>
#include <QTextStream>

int main(int argc, char *argv[])
{
    // --help, --version and a wrongly used option are answered before any window exists.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLineOptions options = parseCommandLine(arguments);
    {
        QTextStream out(stdout);
        QTextStream err(stderr);
        if (const std::optional<int> code = answerCommandLine(options, arguments.value(0), out, err))
            return *code;
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tempovia"));

    const QStringList cues = {QStringLiteral("Audio-Auf-Platz.wav"), QStringLiteral("Audio-Fertig.wav"),
                              QStringLiteral("Audio-Start.wav"), QStringLiteral("Audio-Start-Fehl.wav"),
                              QStringLiteral("Audio-Stopp.wav")};
    platform::RealPlatform real(cues, QDir::currentPath());
    // The manual beside the program opens in the desk's help window; a .chm file goes to the
    // desktop's handler.
    ManualHelpViewer help(real.bundle().help);
    real.useHelpViewer(help);
    platform::Platform services = real.bundle();

    TFormMain formMain(services);
    TCfgDialog cfgDialog(formMain.AvailablePorts, &formMain);
    formMain.CfgDialog = &cfgDialog;
    TFormInfo formInfo(&formMain);
    formMain.FormInfo = &formInfo;
    formMain.show();
    return QApplication::exec();
}
