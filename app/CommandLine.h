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
    bool check = false;        // --check
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

namespace platform {
class DataFolders;
}

// "zielkron --check": where a desk started with these data folders finds each of its files, after
// the operator's own folder has been given the installation's defaults as at a start. 0 when every
// file was found, 1 when one is missing.
int checkDataFiles(const platform::DataFolders &folders, const QString &programPath, QTextStream &out);

// Answers --help, --version and a wrong option on 'out' (errors on 'err') before any window
// exists: the exit code when the program is done, nothing when the desk is to start.
std::optional<int> answerCommandLine(const CommandLineOptions &options, const QString &program, QTextStream &out,
                                     QTextStream &err);
