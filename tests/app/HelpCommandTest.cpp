// The help command (button, Ctrl+H): the .chm beside the program through the help service, else
// the manual in the desk's help window at its contents, else nothing. The command line's own
// options.

#include "CommandLine.h"
#include "DeskFixture.h"
#include "HelpTopics.h"

#include <QAction>
#include <QPushButton>
#include <QTest>
#include <QTextStream>

#include <gtest/gtest.h>

namespace {

void touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("<html></html>");
}

} // namespace

TEST(HelpCommand, ChmFirstThenTheManualThenNothing)
{
    QTemporaryDir program;
    Desk d;
    d.programPath = program.filePath(QStringLiteral("desk"));
    TFormMain &f = d.create();
    const QString chm = program.filePath(QStringLiteral("desk.chm"));
    const QString manual = program.filePath(QStringLiteral("zielkron-hilfe/index.html"));
    EXPECT_EQ(f.HelpFile, chm);
    EXPECT_EQ(f.ManualFile, manual);

    // Neither file: nothing at all.
    f.bHilfe->click();
    f.Hilfe1->trigger(); // Ctrl+H
    EXPECT_TRUE(d.fp.help.shown.isEmpty());
    EXPECT_TRUE(d.fp.help.manuals.isEmpty());

    // Only the manual: the help window at the contents, by button and by Ctrl+H.
    touch(manual);
    f.bHilfe->click();
    f.Hilfe1->trigger(); // Ctrl+H
    const QString atContents = manual + QLatin1Char('#') + QString::fromLatin1(help::ContentsAnchor);
    EXPECT_EQ(d.fp.help.manuals, QStringList({atContents, atContents}));
    EXPECT_TRUE(d.fp.help.shown.isEmpty());

    // A help file beside the program is preferred and goes to the help service.
    touch(chm);
    d.fp.help.manuals.clear();
    f.bHilfe->click();
    EXPECT_EQ(d.fp.help.shown, QStringList{chm});
    EXPECT_TRUE(d.fp.help.manuals.isEmpty());

    // A folder of that name is no help file.
    QFile::remove(chm);
    QDir().mkpath(chm);
    d.fp.help.shown.clear();
    f.bHilfe->click();
    EXPECT_TRUE(d.fp.help.shown.isEmpty());
    EXPECT_EQ(d.fp.help.manuals, QStringList{atContents});
}

TEST(HelpCommand, AnInstalledDeskOpensTheManualOfItsInstallation)
{
    QTemporaryDir program;
    Desk d;
    d.programPath = program.filePath(QStringLiteral("bin/zielkron"));
    const QString installed = d.fp.data.installed.filePath(QStringLiteral("zielkron-hilfe/index.html"));
    touch(installed);
    TFormMain &f = d.create();
    EXPECT_EQ(f.ManualFile, installed);
    f.bHilfe->click();
    EXPECT_EQ(d.fp.help.manuals, QStringList{installed + QLatin1Char('#') + QString::fromLatin1(help::ContentsAnchor)});

    // A manual beside the program (a desk run from its build folder) comes first.
    const QString beside = program.filePath(QStringLiteral("bin/zielkron-hilfe/index.html"));
    touch(beside);
    EXPECT_EQ(TFormMain::ManualFileFor(d.programPath, d.fp.data.folders), beside);
}

TEST(CommandLine, CheckTellsWhereEachFileComesFromAndWhatIsMissing)
{
    fake::DataFolders data;
    QTemporaryDir working;
    const platform::DataFolders folders(working.path(), data.user.path(), data.installed.path());
    const QString program = working.filePath(QStringLiteral("bin/zielkron"));
    for (const QString &name : TFormMain::ListFiles() + TFormMain::CueFiles()) {
        QFile f(data.installed.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("eins\nzwei\n");
    }
    touch(data.installed.filePath(QStringLiteral("zielkron-hilfe/index.html")));
    // The workbook reader as installed: in ../libexec/zielkron from the program.
    const QString reader = working.filePath(QStringLiteral("libexec/zielkron/zielkron-workbook-reader"));
    touch(reader);
    QFile(reader).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QDir().mkpath(working.filePath(QStringLiteral("bin")));
    QFile own(working.filePath(QStringLiteral("Zielkron-na.lst")));
    ASSERT_TRUE(own.open(QIODevice::WriteOnly));
    own.write("DNS\n");
    own.close();

    QString text;
    QTextStream out(&text);
    EXPECT_EQ(checkDataFiles(folders, program, out), 0) << qPrintable(text);
    // As at a start, the operator's folder got its copies first; each file is named with the path
    // it is read from.
    const QString user = data.user.filePath(QStringLiteral("Zielkron-klassen.lst"));
    EXPECT_TRUE(QFileInfo::exists(user));
    EXPECT_TRUE(text.contains(QStringLiteral("Zielkron-klassen.lst: ") + user + QStringLiteral(" (2 Zeilen)\n")))
        << qPrintable(text);
    EXPECT_TRUE(text.contains(QStringLiteral("Zielkron-na.lst: ") + own.fileName() + QStringLiteral(" (1 Zeile)")));
    EXPECT_TRUE(text.contains(QStringLiteral("Handbuch: ") + data.installed.filePath(QStringLiteral("zielkron-hilfe/index.html"))));
    EXPECT_TRUE(text.contains(QStringLiteral("Leseprogramm für Arbeitsmappen: ") + QFileInfo(reader).canonicalFilePath()))
        << qPrintable(text);
    EXPECT_TRUE(text.endsWith(QStringLiteral("Alle Dateien gefunden.\n")));

    // A cue in no folder, and no manual: said, with exit code 1.
    QFile::remove(data.installed.filePath(QStringLiteral("Audio-Stopp.wav")));
    QFile::remove(data.user.filePath(QStringLiteral("Audio-Stopp.wav")));
    QDir(data.installed.filePath(QStringLiteral("zielkron-hilfe"))).removeRecursively();
    QFile::remove(reader);
    const platform::DataFolders withoutInstallation(working.path(), data.user.path(), QString());
    text.clear();
    EXPECT_EQ(checkDataFiles(withoutInstallation, program, out), 1);
    EXPECT_TRUE(text.contains(QStringLiteral("Audio-Stopp.wav: fehlt\n"))) << qPrintable(text);
    EXPECT_TRUE(text.endsWith(QStringLiteral("Es fehlt: Audio-Stopp.wav, Handbuch, Leseprogramm für Arbeitsmappen\n")))
        << qPrintable(text);
    EXPECT_TRUE(parseCommandLine({program, QStringLiteral("--check")}).check);
}

TEST(CommandLine, HelpAndVersionAnswerOtherOptionsAreLeftToQt)
{
    auto run = [](const QStringList &args, QString *printed = nullptr, QString *errors = nullptr) {
        QString out, err;
        QTextStream o(&out), e(&err);
        const std::optional<int> code = answerCommandLine(parseCommandLine(args), QStringLiteral("/usr/bin/zielkron"), o, e);
        if (printed)
            *printed = out;
        if (errors)
            *errors = err;
        return code;
    };
    const QString prog = QStringLiteral("/usr/bin/zielkron");

    QString text;
    EXPECT_EQ(run({prog, QStringLiteral("--help")}, &text), 0);
    for (const char *option : {"--help", "--version", "--check", "--virtual-ports", "--live [ADRESSE:]PORT", "--live-publish URL",
                               "ZIELKRON_VIRTUAL_PORTS=1", "ZIELKRON_DEVICES", "~/.local/share/Tempovia/zielkron"})
        EXPECT_TRUE(text.contains(QString::fromLatin1(option))) << option;
    EXPECT_TRUE(text.startsWith(QStringLiteral("Aufruf: zielkron [Optionen]")));
    EXPECT_EQ(run({prog, QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("-h")}, &text), 0);

    EXPECT_EQ(run({prog, QStringLiteral("--version")}, &text), 0);
    EXPECT_TRUE(text.startsWith(QStringLiteral("zielkron " ZK_EXPECTED_VERSION " (erstellt am 2"))) << qPrintable(text);

    // Qt's options and the desk's working options start the desk.
    EXPECT_EQ(run({prog}), std::nullopt);
    EXPECT_EQ(run({prog, QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--virtual-ports")}),
              std::nullopt);
    const CommandLineOptions live = parseCommandLine({prog, QStringLiteral("--live"), QStringLiteral("8080"),
                                                      QStringLiteral("--virtual-ports")});
    EXPECT_EQ(live.livePort, 8080);
    EXPECT_TRUE(live.virtualPorts);
    EXPECT_EQ(parseCommandLine({prog, QStringLiteral("--live=9000")}).livePort, 9000);
    EXPECT_FALSE(parseCommandLine({prog, QStringLiteral("--"), QStringLiteral("--help")}).help);
    // "--live" takes the next word as its port, even one that looks like an option.
    EXPECT_FALSE(parseCommandLine({prog, QStringLiteral("--live"), QStringLiteral("--help")}).help);

    // A wrong port is refused with a German message and exit code 2.
    QString errors;
    for (const QStringList &args : {QStringList{prog, QStringLiteral("--live"), QStringLiteral("achtzig")},
                                    QStringList{prog, QStringLiteral("--live"), QStringLiteral("-1")},
                                    QStringList{prog, QStringLiteral("--live"), QStringLiteral("65536")},
                                    QStringList{prog, QStringLiteral("--live")},
                                    QStringList{prog, QStringLiteral("--live-publish")}}) {
        EXPECT_EQ(run(args, nullptr, &errors), 2) << qPrintable(args.join(u' '));
        EXPECT_TRUE(errors.contains(QStringLiteral("--live"))) << qPrintable(errors);
    }
    // The fan-out's URL is the next word (checked with the live view's settings), never an option.
    EXPECT_FALSE(parseCommandLine({prog, QStringLiteral("--live-publish"), QStringLiteral("--help")}).help);
    EXPECT_EQ(parseCommandLine({prog, QStringLiteral("--live"), QStringLiteral("65535")}).livePort, 65535);
    // An address before the port, and port 0 for any free port.
    EXPECT_EQ(parseCommandLine({prog, QStringLiteral("--live"), QStringLiteral("127.0.0.1:8081")}).livePort, 8081);
    EXPECT_EQ(parseCommandLine({prog, QStringLiteral("--live"), QStringLiteral("0")}).livePort, 0);
}
