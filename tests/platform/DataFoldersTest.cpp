// Where the desk finds its list files and cues (working folder, the operator's folder, the
// installation) and the copies of the installation's defaults that the operator may edit.

#include "DataFolders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::DataFolders;

namespace {

void write(const QString &folder, const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(folder);
    QFile f(QDir(folder).filePath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

struct Folders {
    QTemporaryDir root;
    QString working = root.filePath(QStringLiteral("meeting"));
    QString user = root.filePath(QStringLiteral("home/.local/share/Tempovia/zielkron"));
    QString installed = root.filePath(QStringLiteral("usr/share/zielkron"));
    DataFolders folders{working, user, installed};
};

} // namespace

TEST(DataFolders, TheWorkingFolderComesFirstThenTheOperatorsThenTheInstallation)
{
    Folders f;
    const QString name = QStringLiteral("Zielkron-klassen.lst");
    write(f.installed, name, "installed");
    EXPECT_EQ(f.folders.find(name), QDir(f.installed).filePath(name));
    write(f.user, name, "user");
    EXPECT_EQ(f.folders.find(name), QDir(f.user).filePath(name));
    write(f.working, name, "working");
    EXPECT_EQ(f.folders.find(name), QDir(f.working).filePath(name));
    EXPECT_EQ(f.folders.readText(name), QStringLiteral("working"));

    // A folder of that name is no file: the search goes on.
    QFile::remove(QDir(f.working).filePath(name));
    QDir().mkpath(QDir(f.working).filePath(name));
    EXPECT_EQ(f.folders.readText(name), QStringLiteral("user"));

    // Another name, in no folder; and folders left empty are skipped.
    EXPECT_EQ(f.folders.find(QStringLiteral("Zielkron-na.lst")), QString());
    EXPECT_EQ(f.folders.readText(QStringLiteral("Zielkron-na.lst")), std::nullopt);
    const DataFolders onlyInstalled(QString(), QString(), f.installed);
    EXPECT_EQ(onlyInstalled.readText(name), QStringLiteral("installed"));
}

TEST(DataFolders, ListsAreDecodedAsEveryFileOfTheDesk)
{
    Folders f;
    write(f.installed, QStringLiteral("a.lst"), "M\xe4nner\r\n");            // Windows-1252
    write(f.installed, QStringLiteral("b.lst"), "\xef\xbb\xbfM\xc3\xa4nner\n"); // UTF-8 with BOM
    EXPECT_EQ(f.folders.readText(QStringLiteral("a.lst")), QString::fromUtf8("Männer\r\n"));
    EXPECT_EQ(f.folders.readText(QStringLiteral("b.lst")), QString::fromUtf8("Männer\n"));
}

TEST(DataFolders, AProgramFindsItsInstallationBesideItsFolderAndItsOwnFolderUnderTheDataHome)
{
    QTemporaryDir home;
    const QByteArray previous = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    const DataFolders folders = DataFolders::forProgram(QStringLiteral("/srv/meeting"), QStringLiteral("/opt/timing/bin/desk"));
    const DataFolders installed = DataFolders::forProgram(QStringLiteral("/srv/meeting"), QStringLiteral("/usr/bin/zielkron"));
    if (previous.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", previous);

    EXPECT_EQ(folders.working(), QStringLiteral("/srv/meeting"));
    // Named after the program, as its settings are: a copy under another name keeps lists of its own.
    EXPECT_EQ(folders.user(), home.filePath(QStringLiteral("Tempovia/desk")));
    EXPECT_EQ(folders.installed(), QStringLiteral("/opt/timing/share/zielkron"));
    EXPECT_EQ(installed.user(), home.filePath(QStringLiteral("Tempovia/zielkron")));
    EXPECT_EQ(installed.installed(), QStringLiteral("/usr/share/zielkron"));
}

TEST(DataFolders, TheOperatorGetsCopiesOfTheDefaultsAndKeepsWhatHeEdited)
{
    Folders f;
    write(f.installed, QStringLiteral("Zielkron-na.lst"), "n.a.\naufg.\n");
    write(f.installed, QStringLiteral("Zielkron-klassen.lst"), "Frauen\n");
    write(f.installed, QStringLiteral("Audio-Start.wav"), "RIFF");
    write(QDir(f.installed).filePath(QStringLiteral("zielkron-hilfe")), QStringLiteral("index.html"), "<html/>");
    QFile::setPermissions(QDir(f.installed).filePath(QStringLiteral("Zielkron-na.lst")),
                          QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);

    // First start: the operator's folder is made, with a copy of every default file.
    EXPECT_EQ(f.folders.provideUserCopies(),
              (QStringList{"Audio-Start.wav", "Zielkron-klassen.lst", "Zielkron-na.lst"}));
    const QString na = QDir(f.user).filePath(QStringLiteral("Zielkron-na.lst"));
    EXPECT_EQ(read(na), "n.a.\naufg.\n");
    EXPECT_FALSE(QFileInfo::exists(QDir(f.user).filePath(QStringLiteral("zielkron-hilfe")))); // a folder is no default
    // The copy of a read-only default is the operator's to edit.
    EXPECT_TRUE(QFile::permissions(na) & QFile::WriteOwner);
    EXPECT_EQ(f.folders.find(QStringLiteral("Zielkron-na.lst")), na);

    // Edited lists survive every later start, also when the installation's defaults change.
    write(f.user, QStringLiteral("Zielkron-na.lst"), "DNS\nDNF\nDQ\n");
    write(f.installed, QStringLiteral("Zielkron-klassen.lst"), "Frauen\nMaenner\n");
    EXPECT_EQ(f.folders.provideUserCopies(), QStringList());
    EXPECT_EQ(read(na), "DNS\nDNF\nDQ\n");
    EXPECT_EQ(read(QDir(f.user).filePath(QStringLiteral("Zielkron-klassen.lst"))), "Frauen\n");

    // A list the operator deleted comes back from the defaults; a new default arrives; a link the
    // operator put in place of a list is left alone, even one that leads nowhere.
    QFile::remove(QDir(f.user).filePath(QStringLiteral("Zielkron-klassen.lst")));
    write(f.installed, QStringLiteral("Zielkron-neu.lst"), "neu\n");
    const QString cue = QDir(f.user).filePath(QStringLiteral("Audio-Start.wav"));
    QFile::remove(cue);
    ASSERT_TRUE(QFile::link(f.root.filePath(QStringLiteral("nowhere")), cue));
    EXPECT_EQ(f.folders.provideUserCopies(), (QStringList{"Zielkron-klassen.lst", "Zielkron-neu.lst"}));
    EXPECT_EQ(QFileInfo(cue).symLinkTarget(), f.root.filePath(QStringLiteral("nowhere")));
}

TEST(DataFolders, WithoutAnInstallationNoFolderIsMadeForTheOperator)
{
    Folders f;
    EXPECT_EQ(f.folders.provideUserCopies(), QStringList()); // no installation's folder at all
    QDir().mkpath(f.installed);
    EXPECT_EQ(f.folders.provideUserCopies(), QStringList()); // an empty one
    EXPECT_FALSE(QFileInfo::exists(f.user));
    EXPECT_EQ(DataFolders(f.working, QString(), f.installed).provideUserCopies(), QStringList());
}
