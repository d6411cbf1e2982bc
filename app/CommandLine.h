#pragma once
// The desk's own command-line options. Options it does not know (those of Qt, such as
// "-platform offscreen") are left to QApplication.

#include <QString>
#include <QStringList>

#include <optional>

class QTextStream;

struct CommandLineOptions {
    bool help = false;         // --help, -h
    bool version = false;      // --version
    bool virtualPorts = false; // --virtual-ports
    std::optional<int> livePort; // --live PORT (1..65535)
    QString error;             // a known option used wrongly; empty when all is well
};

// Reads the arguments (the program name first, as in argv). "--" ends the options.
CommandLineOptions parseCommandLine(const QStringList &arguments);

// The text of "zielkron --help", in German.
QString commandLineHelp(const QString &program);
// The line of "zielkron --version".
QString versionLine(const QString &program);

// Answers --help, --version and a wrong option on 'out' (errors on 'err') before any window
// exists: the exit code when the program is done, nothing when the desk is to start.
std::optional<int> answerCommandLine(const CommandLineOptions &options, const QString &program, QTextStream &out,
                                     QTextStream &err);
