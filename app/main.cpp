// The timing desk: the main window, then the settings dialog and the information window, then the
// message loop.

#include "CfgDialog.h"
#include "CommandLine.h"
#include "FormInfo.h"
#include "FormMain.h"
#include "GuardedApplication.h"
#include "HelpWindow.h"
#include "Language.h"
#include "LiveView.h"
#include "RealPlatform.h"
#include "Workbook.h"

#include <QDir>
#include <QProcessEnvironment>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <functional>

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

    // --check needs no display: where the files of a desk started here would come from.
    if (options.check) {
        QCoreApplication core(argc, argv);
        QTextStream out(stdout);
        return checkDataFiles(
            platform::DataFolders::forProgram(QDir::currentPath(), QCoreApplication::applicationFilePath()),
            QCoreApplication::applicationFilePath(), out);
    }

    platform::GuardedApplication::prepareDisplay();
    platform::GuardedApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tempovia"));
    // The desk's icon on its windows, and its desktop entry (zielkron.desktop) for the taskbar.
    QApplication::setWindowIcon(TFormInfo::DeskIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("zielkron"));
    // German everywhere, Qt's own buttons and dialogs included; numbers, dates and times as the
    // user's locale writes them, or as in Germany when none was chosen. Before any window exists.
    InstallGermanQtTexts(app);
    if (const std::optional<QLocale> formats = FormatLocaleFor(QProcessEnvironment::systemEnvironment()))
        QLocale::setDefault(*formats);

    // The list files and cues: from the working folder, the operator's own folder (given the
    // installation's defaults that it lacks, for editing) or the installation.
    platform::DataFolders data =
        platform::DataFolders::forProgram(QDir::currentPath(), QCoreApplication::applicationFilePath());
    data.provideUserCopies();
    // --virtual-ports or ZIELKRON_VIRTUAL_PORTS=1: only the virtual lines of the devices folder are
    // ports; no real serial device is ever opened (training with the simulator, demonstrations,
    // scripts and tests that start the program).
    const bool virtualPortsOnly = options.virtualPorts || qgetenv("ZIELKRON_VIRTUAL_PORTS") == "1";
    // Every outside workbook is read by the reader program that came with the desk.
    platform::WorkbookEngine workbooks;
    workbooks.reader.program = platform::defaultReaderProgram();
    platform::RealPlatform real(workbooks, TFormMain::CueFiles(), std::move(data), virtualPortsOnly);
    // The manual beside the program opens in the desk's help window; a .chm file goes to the
    // desktop's handler.
    ManualHelpViewer help(real.bundle().help);
    real.useHelpViewer(help);
    platform::Platform services = real.bundle();

    TFormMain formMain(services);
    // Another desk runs on this meeting's journal: this one has said so and ends untouched.
    if (!formMain.OwnsJournal())
        return 1;
    // From here on an error that escapes a command is shown in the desk's error box and the desk
    // goes on: the meeting in its table is never lost to an exception.
    platform::GuardedApplication::setReporter([&formMain](const QString &text) { formMain.ShowError(text); });
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
    formMain.OfferJournalRestore();
    // The help window is made ready while no race runs, so that a help request during a race only
    // shows it (loading and laying out the manual takes a few dozen milliseconds).
    std::function<void()> prepareHelp = [&] {
        if (formMain.RunMask() != 0) {
            QTimer::singleShot(5000, &formMain, prepareHelp);
            return;
        }
        help.prepare(&formMain, formMain.ManualFile);
    };
    QTimer::singleShot(1500, &formMain, prepareHelp);
    const int result = QApplication::exec();
    platform::GuardedApplication::setReporter(nullptr);
    return result;
}
