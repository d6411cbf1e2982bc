#include "CommandLine.h"

#include "DataFolders.h"
#include "FormMain.h"
#include "TextEncoding.h"
#include "Version.h"
#include "Workbook.h"

#include <QFileInfo>
#include <QTextStream>

CommandLineOptions parseCommandLine(const QStringList &arguments)
{
    CommandLineOptions options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (arg == QLatin1String("--"))
            break;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options.help = true;
        } else if (arg == QLatin1String("--version")) {
            options.version = true;
        } else if (arg == QLatin1String("--check")) {
            options.check = true;
        } else if (arg == QLatin1String("--virtual-ports")) {
            options.virtualPorts = true;
        } else if (arg == QLatin1String("--live-publish") || arg.startsWith(QLatin1String("--live-publish="))) {
            // The URL itself is read and checked with the live view's settings.
            const bool joined = arg.size() > 14;
            if (!joined && i + 1 < arguments.size())
                ++i;
            else if (!joined && options.error.isEmpty())
                options.error = QStringLiteral("Zu --live-publish fehlt die Adresse des Verteilers.");
        } else if (arg == QLatin1String("--live") || arg.startsWith(QLatin1String("--live="))) {
            QString value;
            if (arg.size() > 6) {
                value = arg.mid(7);
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            }
            // "PORT" or "ADDRESS:PORT" (the address the live view listens on).
            bool ok = false;
            const int port = value.mid(value.lastIndexOf(QLatin1Char(':')) + 1).toInt(&ok);
            // Port 0 asks the system for any free port (scripts and tests use it).
            if (!ok || port < 0 || port > 65535) {
                if (options.error.isEmpty())
                    options.error = value.isEmpty()
                                        ? QStringLiteral("Zu --live fehlt die Portnummer (0 bis 65535).")
                                        : QStringLiteral("Ungültige Portnummer für --live: %1 (erlaubt: 0 bis 65535).")
                                              .arg(value);
            } else {
                options.livePort = port;
            }
        }
    }
    return options;
}

QString commandLineHelp(const QString &program)
{
    // Also the source of the manual page (tools/man-page.sh): "Heading:" opens a section, "  TERM  text"
    // is an item whose text goes on in lines indented further, other lines are running text.
    const QString name = QFileInfo(program).fileName();
    return QStringLiteral(
               "Aufruf: %1 [Optionen]\n"
               "Zeitnahmepult für Kurzstreckenläufe in der Leichtathletik.\n"
               "\n"
               "Optionen:\n"
               "  -h, --help         diese Hilfe zeigen und beenden\n"
               "      --version      Version und Erstellungsdatum zeigen und beenden\n"
               "      --check        zeigen, woher das Pult seine Listen, Signaltöne und sein Handbuch\n"
               "                     liest, und beenden (Rückgabewert 1, wenn etwas fehlt)\n"
               "      --virtual-ports\n"
               "                     nur die Einträge des Geräteordners als Schnittstellen nutzen,\n"
               "                     nie ein echtes Gerät (Übung mit dem Simulator, Vorführung);\n"
               "                     gleichwertig: Umgebungsvariable ZIELKRON_VIRTUAL_PORTS=1\n"
               "      --live [ADRESSE:]PORT\n"
               "                     die Live-Anzeige im Netz auf diesem Port anbieten (0: ein freier Port),\n"
               "                     mit ADRESSE nur dort (127.0.0.1: nur auf diesem Rechner);\n"
               "                     gilt nur für diesen Programmlauf und wird nicht gespeichert\n"
               "      --live-publish URL\n"
               "                     jeden Stand der Live-Anzeige an einen Verteiler für viele Zuschauer\n"
               "                     senden (nginx mit nchan, z. B. http://127.0.0.1/verteiler);\n"
               "                     gilt nur für diesen Programmlauf und wird nicht gespeichert\n"
               "Weitere Optionen von Qt (z. B. -platform offscreen) werden an Qt weitergereicht.\n"
               "\n"
               "Dateien:\n"
               "Die Listen Zielkron-Disziplinen.lst, Zielkron-klassen.lst und Zielkron-na.lst und die\n"
               "Signaltöne Audio-*.wav liest das Pult aus dem ersten dieser Ordner, der sie enthält:\n"
               "  ./                 dem Arbeitsordner, in dem es gestartet wurde\n"
               "  ~/.local/share/Tempovia/%1\n"
               "                     dem eigenen Ordner: beim ersten Start mit Kopien der mitgelieferten\n"
               "                     Dateien angelegt; hier werden die Listen bearbeitet\n"
               "  /usr/share/zielkron\n"
               "                     den mitgelieferten Dateien\n"
               "Die Einstellungen stehen in ~/.config/Tempovia/%1.ini, die Sicherung der\n"
               "Veranstaltung in ~/.config/Tempovia/%1.journal.\n"
               "\n"
               "Umgebungsvariablen:\n"
               "  ZIELKRON_DEVICES        Geräteordner mit den Verknüpfungen com1 … com16\n"
               "                          (Vorgabe: ~/.config/Tempovia/devices)\n"
               "  ZIELKRON_VIRTUAL_PORTS  1 = wie --virtual-ports\n"
               "\n"
               "Handbuch:\n"
               "Das Handbuch öffnet im Pult die Taste Strg+H oder die Schaltfläche \"Hilfe\".\n")
        .arg(name);
}

QString versionLine(const QString &program)
{
    return QStringLiteral("%1 %2 (erstellt am %3)\n")
        .arg(QFileInfo(program).fileName(), QString::fromLatin1(build::Version), QString::fromLatin1(build::Date));
}

int checkDataFiles(const platform::DataFolders &folders, const QString &programPath, QTextStream &out)
{
    const QStringList copied = folders.provideUserCopies();
    out << QStringLiteral("Das Pult liest seine Dateien aus dem ersten dieser Ordner, der sie enthält:\n")
        << QStringLiteral("  Arbeitsordner:  %1\n").arg(folders.working())
        << QStringLiteral("  eigener Ordner: %1\n").arg(folders.user())
        << QStringLiteral("  mitgeliefert:   %1\n").arg(folders.installed());
    if (!copied.isEmpty())
        out << QStringLiteral("In den eigenen Ordner kopiert: %1\n").arg(copied.join(QStringLiteral(", ")));
    out << '\n';

    QStringList missing;
    const auto report = [&](const QString &name, const QString &path, const QString &detail) {
        out << name << ": " << (path.isEmpty() ? QStringLiteral("fehlt") : path + detail) << '\n';
        if (path.isEmpty())
            missing << name;
    };
    for (const QString &list : TFormMain::ListFiles()) {
        const std::optional<QString> text = folders.readText(list);
        const qsizetype lines = text ? platform::splitLines(*text).size() : 0;
        report(list, text ? folders.find(list) : QString(),
               QStringLiteral(" (%1 %2)").arg(lines).arg(lines == 1 ? QStringLiteral("Zeile") : QStringLiteral("Zeilen")));
    }
    for (const QString &cue : TFormMain::CueFiles())
        report(cue, folders.find(cue), QString());
    const QString manual = TFormMain::ManualFileFor(programPath, folders);
    report(QStringLiteral("Handbuch"), QFileInfo(manual).isFile() ? manual : QString(), QString());
    // Without it no workbook start list can be read.
    report(QStringLiteral("Leseprogramm für Arbeitsmappen"),
           platform::readerProgramFor(QFileInfo(programPath).absolutePath()), QString());

    out << '\n'
        << (missing.isEmpty() ? QStringLiteral("Alle Dateien gefunden.\n")
                              : QStringLiteral("Es fehlt: %1\n").arg(missing.join(QStringLiteral(", "))));
    out.flush();
    return missing.isEmpty() ? 0 : 1;
}

std::optional<int> answerCommandLine(const CommandLineOptions &options, const QString &program, QTextStream &out,
                                     QTextStream &err)
{
    if (options.help) {
        out << commandLineHelp(program);
        out.flush();
        return 0;
    }
    if (options.version) {
        out << versionLine(program);
        out.flush();
        return 0;
    }
    if (!options.error.isEmpty()) {
        err << QFileInfo(program).fileName() << ": " << options.error << '\n'
            << QStringLiteral("Mehr mit: %1 --help\n").arg(QFileInfo(program).fileName());
        err.flush();
        return 2;
    }
    return std::nullopt;
}
