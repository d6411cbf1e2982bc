// Files written beside the desk: in the order handed in, each whole, a failure told once per run.

#include "FakePlatform.h"
#include "FileWriteQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(FileWriteQueue, EveryFileInTheOrderHandedInAndAFailureToldOncePerRun)
{
    QTemporaryDir dir;
    fake::Files files;
    std::mutex mutex;
    QStringList told;
    platform::FileWriteQueue queue(files);
    queue.setErrorHandler([&](const QString &path, const QString &error) {
        std::lock_guard<std::mutex> lock(mutex);
        told << QFileInfo(path).fileName() + QStringLiteral(": ") + error;
    });

    // None overtakes another: the second write of a file is the one that stays.
    queue.write(dir.filePath(QStringLiteral("a.lif")), "eins");
    queue.write(dir.filePath(QStringLiteral("b.lif")), "zwei");
    queue.write(dir.filePath(QStringLiteral("a.lif")), "drei");
    ASSERT_TRUE(queue.flush());
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("a.lif"))), QByteArray("drei"));
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("b.lif"))), QByteArray("zwei"));

    // A full disk: told at the first failure, not at the next; told again after a success.
    files.failure = [](const QString &call) { return call.startsWith(QStringLiteral("write ")) ? ENOSPC : 0; };
    queue.write(dir.filePath(QStringLiteral("c.lif")), "vier");
    queue.write(dir.filePath(QStringLiteral("d.lif")), "fünf");
    EXPECT_FALSE(queue.flush());
    files.failure = nullptr;
    queue.write(dir.filePath(QStringLiteral("e.lif")), "sechs");
    EXPECT_TRUE(queue.flush());
    files.failure = [](const QString &call) { return call.startsWith(QStringLiteral("write ")) ? ENOSPC : 0; };
    queue.write(dir.filePath(QStringLiteral("f.lif")), "sieben");
    EXPECT_FALSE(queue.flush());
    // A file with its own answer gets it there, written or not, and the handler hears nothing.
    QStringList answers;
    queue.write(dir.filePath(QStringLiteral("g.lif")), "acht", [&answers](const QString &error) { answers << error; });
    queue.flush();
    files.failure = nullptr;
    queue.write(dir.filePath(QStringLiteral("h.lif")), "neun", [&answers](const QString &error) { answers << error; });
    queue.flush();
    const QString full = QString::fromLocal8Bit(std::strerror(ENOSPC));
    EXPECT_EQ(answers, (QStringList{full, QString()}));
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(told, (QStringList{"c.lif: " + full, "f.lif: " + full}));
    }
    // Nothing half-written is left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"a.lif", "b.lif", "e.lif", "h.lif"}));
}

TEST(FileWriteQueue, EndingWritesWhatIsPending)
{
    QTemporaryDir dir;
    {
        platform::FileWriteQueue queue;
        for (int i = 0; i < 20; ++i)
            queue.write(dir.filePath(QStringLiteral("%1.lif").arg(i)), QByteArray::number(i));
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 20);
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("19.lif"))), QByteArray("19"));
}
