#pragma once
// Where the desk finds the files it reads by name (the list files and the sound cues), in this
// order: the working folder, so that a meeting folder of the operator's own (and build/run) keeps
// its own lists; the operator's own folder (~/.local/share/Tempovia/<program>), where the lists are
// edited; the defaults of the installation (<prefix>/share/zielkron beside <prefix>/bin).

#include <QString>
#include <QStringList>

#include <optional>

namespace platform {

class DataFolders {
public:
    // An empty folder is skipped.
    DataFolders(QString working, QString user, QString installed);
    // The folders of a program file started in workingFolder: the operator's own folder under
    // $XDG_DATA_HOME (else ~/.local/share), named after the program as its settings are; the
    // installation's folder at ../share/zielkron from the program's folder.
    static DataFolders forProgram(const QString &workingFolder, const QString &programFile);
    // Only the current folder, whatever it is at the time of a look-up.
    static const DataFolders &currentFolderOnly();

    const QString &working() const { return working_; }
    const QString &user() const { return user_; }
    const QString &installed() const { return installed_; }

    // The path of the first readable file of this name in the working, the operator's and the
    // installation's folder; empty when none holds one.
    QString find(const QString &name) const;
    // That file's text, decoded (UTF-8 or Windows-1252); nothing when there is none or it cannot
    // be read.
    std::optional<QString> readText(const QString &name) const;

    // Copies every file of the installation's folder that the operator's folder lacks into it (made
    // when missing), so that the operator can edit the lists. A file already there is never
    // replaced, whatever it holds. Returns the names copied; a copy that fails is left out, silently.
    QStringList provideUserCopies() const;

private:
    QString working_;
    QString user_;
    QString installed_;
};

} // namespace platform
