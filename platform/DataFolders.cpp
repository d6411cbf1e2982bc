#include "DataFolders.h"

#include "TextEncoding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace platform {

DataFolders::DataFolders(QString working, QString user, QString installed)
    : working_(std::move(working)), user_(std::move(user)), installed_(std::move(installed))
{
}

DataFolders DataFolders::forProgram(const QString &workingFolder, const QString &programFile)
{
    const QFileInfo program(programFile);
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return DataFolders(workingFolder,
                       dataHome.isEmpty() ? QString()
                                          : QDir(dataHome).filePath(QStringLiteral("Tempovia/")
                                                                    + program.completeBaseName()),
                       QDir::cleanPath(program.absolutePath() + QStringLiteral("/../share/zielkron")));
}

const DataFolders &DataFolders::currentFolderOnly()
{
    static const DataFolders folders(QStringLiteral("."), QString(), QString());
    return folders;
}

QString DataFolders::find(const QString &name) const
{
    for (const QString *folder : {&working_, &user_, &installed_}) {
        if (folder->isEmpty())
            continue;
        const QString path = QDir(*folder).filePath(name);
        const QFileInfo info(path);
        if (info.isFile() && info.isReadable())
            return path;
    }
    return {};
}

std::optional<QString> DataFolders::readText(const QString &name) const
{
    const QString path = find(name);
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return decodeText(bytes);
}

QStringList DataFolders::provideUserCopies() const
{
    if (user_.isEmpty() || installed_.isEmpty())
        return {};
    const QFileInfoList defaults = QDir(installed_).entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
    if (defaults.isEmpty() || !QDir().mkpath(user_))
        return {};
    QStringList copied;
    for (const QFileInfo &source : defaults) {
        const QString target = QDir(user_).filePath(source.fileName());
        const QFileInfo existing(target);
        if (existing.exists() || existing.isSymLink())
            continue;
        // QFile::copy writes a temporary file and renames it without replacing: a file that
        // appeared meanwhile stays as it is, and a failed copy leaves nothing behind.
        if (!QFile::copy(source.filePath(), target))
            continue;
        // The copy is the operator's to edit, whatever the installed file's permissions.
        QFile::setPermissions(target, QFile::permissions(target) | QFile::ReadOwner | QFile::WriteOwner);
        copied << source.fileName();
    }
    return copied;
}

} // namespace platform
