// The journal on disk: its format and what the reader refuses, the durable write watched through
// the fake file calls, the writer thread, and the lock that gives the journal to one desk at a time.

#include "FakePlatform.h"
#include "Journal.h"
#include "JournalFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using results::JournalFormat;
using results::MeetingJournal;

namespace {

// A journal around a body, with the length and checksum it needs to be looked at.
QByteArray sealed(const QByteArray &body, int version = 2)
{
    return "ZIELKRON-JOURNAL " + QByteArray::number(version) + '\n' + QByteArray::number(body.size()) + '\n'
           + QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() + '\n' + body;
}

const QByteArray kValues = "title\tT\n"
                           "date\t14.05.2027\n"
                           "written\t2027-05-14T15:30:12.000\n"
                           "lanes\t3\n"
                           "lastHeat\t2\n"
                           "heats\t1,2\n"
                           "rowCount\t13\n"
                           "colCount\t7\n";

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

MeetingJournal meetingOf(const QString &title, int cells)
{
    MeetingJournal j;
    j.title = title;
    j.written = QDateTime(QDate(2027, 5, 14), QTime(15, 30));
    j.rowCount = cells + 2;
    j.cells.append({0, 0, title});
    for (int i = 0; i < cells; ++i)
        j.cells.append({i + 2, 2, QStringLiteral("Läufer %1").arg(i)});
    return j;
}

// The recorded calls of one kind, in order.
QStringList callsOn(const fake::Files &files, const QString &op)
{
    QStringList out;
    for (const QString &call : files.calls())
        if (call.startsWith(op + QLatin1Char(' ')))
            out << call;
    return out;
}

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

TEST(JournalFormat, EveryTextComesBackAndAFullMeetingIsRead)
{
    MeetingJournal j;
    j.title = QStringLiteral("Back\\slash\tTab");
    j.date = QStringLiteral("14.05.2027");
    j.written = QDateTime(QDate(2027, 5, 14), QTime(15, 30, 12, 345));
    j.lanes = 12;
    j.rowCount = results::JournalLimits::Rows; // the longest start list
    for (int h = 1; h <= results::JournalLimits::Heats; ++h)
        j.heats.append(h);
    j.lastHeat = 100;
    j.cells.append({0, 0, QStringLiteral("Zeile\nzwei\r\ndrei")});
    j.cells.append({3, 2, QString::fromUtf8("Jürgen \\n Weiß\t李")});
    j.cells.append({1999, 6, QStringLiteral("\\")});
    QString why;
    const auto back = results::decodeJournal(results::encodeJournal(j), &why);
    ASSERT_TRUE(back.has_value()) << why.toStdString();
    EXPECT_EQ(back->title, j.title);
    EXPECT_EQ(back->date, j.date);
    EXPECT_EQ(back->written, j.written);
    EXPECT_EQ(back->lanes, 12);
    EXPECT_EQ(back->heats, j.heats);
    EXPECT_EQ(back->rowCount, 2000);
    ASSERT_EQ(back->cells.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(back->cells[i].row, j.cells[i].row);
        EXPECT_EQ(back->cells[i].col, j.cells[i].col);
        EXPECT_EQ(back->cells[i].text, j.cells[i].text);
    }
    // One line a value and one a cell: a line break in a text never splits a line.
    EXPECT_EQ(results::encodeJournal(j).count('\n'), 3 + 8 + 3);
}

TEST(JournalFormat, WhatTheDeskCouldNotHaveWrittenIsRefused)
{
    ASSERT_TRUE(results::decodeJournal(sealed(kValues + "cell\t0\t0\tT\ncell\t3\t2\tAnna\n")).has_value());
    const QList<QByteArray> refused = {
        // A cell beyond the row count it ends with, or a second row count after the cells.
        QByteArray(kValues).replace("rowCount\t13", "rowCount\t600") + "cell\t500\t2\tx\nrowCount\t13\n",
        kValues + "cell\t13\t0\tx\n",
        kValues + "cell\t0\t7\tx\n",
        kValues + "cell\t-1\t0\tx\n",
        // Counts beyond the desk's limits.
        QByteArray(kValues).replace("rowCount\t13", "rowCount\t10000000"),
        QByteArray(kValues).replace("rowCount\t13", "rowCount\t2001"),
        QByteArray(kValues).replace("rowCount\t13", "rowCount\t0"),
        QByteArray(kValues).replace("colCount\t7", "colCount\t64"),
        QByteArray(kValues).replace("lanes\t3", "lanes\t13"),
        QByteArray(kValues).replace("heats\t1,2", "heats\t1,2,101"),
        // Heats that contradict each other.
        QByteArray(kValues).replace("heats\t1,2", "heats\t1,1,2"),
        QByteArray(kValues).replace("heats\t1,2", "heats\t1,3"),
        QByteArray(kValues).replace("heats\t1,2", "heats\t"),
        // Cells twice or out of order, an empty cell, a value missing, twice or unknown.
        kValues + "cell\t3\t2\tA\ncell\t3\t2\tB\n",
        kValues + "cell\t4\t0\tA\ncell\t3\t2\tB\n",
        kValues + "cell\t3\t2\t\n",
        QByteArray(kValues).replace("date\t14.05.2027\n", ""),
        kValues + "title\tX\n",
        kValues + "extra\t1\n",
        QByteArray(kValues).replace("written\t2027-05-14T15:30:12.000", "written\tgestern"),
        QByteArray(kValues).replace("lanes\t3", "lanes\t+3"),
        kValues + "cell\t0\t0\tbad \\x escape\n",
        kValues + "cell\t0\t0\tno line end",
    };
    for (const QByteArray &body : refused) {
        QString why;
        EXPECT_FALSE(results::decodeJournal(sealed(body), &why).has_value()) << body.toStdString();
        EXPECT_FALSE(why.isEmpty());
    }
    // A file far beyond any journal is not taken apart.
    QString why;
    EXPECT_FALSE(results::decodeJournal(QByteArray(results::JournalLimits::Bytes + 1, 'x'), &why).has_value());
    EXPECT_EQ(why, QString::fromUtf8("Datei zu groß"));
}

TEST(JournalFormat, OlderAndNewerFormatsAreToldApartFromDamage)
{
    // The first builds wrote format 1 with a JSON body.
    const QByteArray json = sealed(R"({"title": "Alt", "lanes": 8, "cells": [[0, 0, "Alt"]]})", 1);
    EXPECT_EQ(results::journalFormat(json), JournalFormat::Older);
    QString why;
    EXPECT_FALSE(results::decodeJournal(json, &why).has_value());
    EXPECT_EQ(why, QString::fromUtf8("älteres Format"));
    // Later builds wrote the current lines under format 1: still read.
    const QByteArray lines = sealed(kValues + "cell\t0\t0\tT\n", 1);
    EXPECT_EQ(results::journalFormat(lines), JournalFormat::Current);
    EXPECT_TRUE(results::decodeJournal(lines).has_value());
    EXPECT_EQ(results::journalFormat(results::encodeJournal(meetingOf(QStringLiteral("T"), 1))), JournalFormat::Current);

    EXPECT_EQ(results::journalFormat(sealed("whatever comes\n", 5)), JournalFormat::Newer);
    EXPECT_EQ(results::journalFormat(sealed(kValues, 0)), JournalFormat::Unknown);
    EXPECT_EQ(results::journalFormat("\x01\x02garbage"), JournalFormat::Unknown);
    EXPECT_EQ(results::journalFormat("ZIELKRON-JOURNALX 1\n1\n1\n"), JournalFormat::Unknown);
}

TEST(JournalFormat, OriginsOfMeetingProgramHeatsComeBackAndOnlyFormatThreeCarriesThem)
{
    // Without origins the journal is format 2, as before, so that an older build still reads it.
    MeetingJournal j = meetingOf(QStringLiteral("T"), 2);
    EXPECT_TRUE(results::encodeJournal(j).startsWith("ZIELKRON-JOURNAL 2\n"));

    j.origins.insert(1, {5, 1, 2, false, {{1, {QStringLiteral("Hoffmann, Jr."), QStringLiteral("Lukas")}}}});
    j.origins.insert(100, {999999, 0, 7, true,
                           {{2, {QString::fromUtf8("Weiß\t\\"), QString()}}, {12, {QString(), QStringLiteral("Zoë")}}}});
    j.origins.insert(3, {12, 2, 1, false, {}});
    const QByteArray bytes = results::encodeJournal(j);
    EXPECT_TRUE(bytes.startsWith("ZIELKRON-JOURNAL 3\n"));
    EXPECT_EQ(results::journalFormat(bytes), JournalFormat::Current);
    QString why;
    const auto back = results::decodeJournal(bytes, &why);
    ASSERT_TRUE(back.has_value()) << why.toStdString();
    EXPECT_EQ(back->origins, j.origins);
    EXPECT_EQ(back->cells.size(), j.cells.size());

    const QByteArray origin = "origin\t1\t5\t1\t2\t0\nname\t1\tAlt\tAnna\n";
    const QByteArray cell = "cell\t0\t0\tT\n";
    ASSERT_TRUE(results::decodeJournal(sealed(kValues + origin + cell, 3)).has_value());
    EXPECT_FALSE(results::decodeJournal(sealed(kValues + origin + cell, 2)).has_value()); // not in format 2
    const QList<QByteArray> refused = {
        kValues + cell + origin, // after the cells
        kValues + "name\t1\tAlt\tAnna\n" + cell, // a name without its heat
        kValues + "origin\t2\t5\t1\t2\t0\norigin\t1\t5\t1\t1\t0\n", // heats out of order
        kValues + "origin\t1\t5\t1\t2\t0\norigin\t1\t5\t1\t3\t0\n", // a heat twice
        kValues + "origin\t101\t5\t1\t2\t0\n",
        kValues + "origin\t1\t1000000\t1\t2\t0\n",
        kValues + "origin\t1\t5\t1\t2\t2\n",
        kValues + "origin\t1\t5\t1\t2\n",
        kValues + "origin\t1\t5\t1\t2\t0\nname\t13\tAlt\tAnna\n",
        kValues + "origin\t1\t5\t1\t2\t0\nname\t2\tA\tB\nname\t2\tC\tD\n",
        kValues + "origin\t1\t5\t1\t2\t0\nname\t1\t\t\n",
        kValues + "origin\t1\t5\t1\t2\t0\nname\t1\tAlt\n",
    };
    for (const QByteArray &body : refused)
        EXPECT_FALSE(results::decodeJournal(sealed(body, 3)).has_value()) << body.toStdString();
}

TEST(JournalWrite, FlushedToTheDiskBeforeAndAfterTheRename)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("zielkron.journal"));
    fake::Files files;
    {
        platform::JournalWriter writer(path, files);
        writer.write(results::encodeJournal(meetingOf(QStringLiteral("neu"), 3)));
        ASSERT_TRUE(writer.flush());
    }
    const QStringList calls = files.calls();
    const QStringList renames = callsOn(files, QStringLiteral("rename"));
    ASSERT_EQ(renames.size(), 1);
    const QString temp = renames[0].split(QLatin1Char(' '))[1];
    EXPECT_EQ(renames[0], QStringLiteral("rename %1 %2").arg(temp, path));
    EXPECT_TRUE(QFileInfo(temp).fileName().startsWith(QStringLiteral(".zielkron.journal.")));
    const qsizetype rename = calls.indexOf(renames[0]);
    const qsizetype dataSynced = calls.indexOf(QStringLiteral("fsync ") + temp);
    const qsizetype folderSynced = calls.lastIndexOf(QStringLiteral("fsync ") + dir.path());
    EXPECT_GE(dataSynced, 0);
    EXPECT_LT(dataSynced, rename);
    EXPECT_GT(folderSynced, rename);
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(results::decodeJournal(readFile(path))->title, QStringLiteral("neu"));
}

TEST(JournalWrite, ACrashAtAnyCallLeavesThePreviousJournal)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("zielkron.journal"));
    ASSERT_TRUE(platform::writeFileAtomically(path, results::encodeJournal(meetingOf(QStringLiteral("alt"), 1))));
    const QByteArray bytes = results::encodeJournal(meetingOf(QStringLiteral("neu"), 500));

    for (const char *at : {"open", "write", "fstat", "fsync", "close", "rename"}) {
        fake::Files files;
        files.crash = [at](const QString &call) { return call.startsWith(QLatin1String(at)); };
        EXPECT_FALSE(platform::writeFileAtomically(path, bytes, nullptr, platform::FileMode::Private, files)) << at;
        const auto read = results::decodeJournal(readFile(path));
        ASSERT_TRUE(read.has_value()) << at;
        EXPECT_EQ(read->title, QStringLiteral("alt")) << at;
    }
    // A write that runs to its end replaces the journal, leftovers of the crashed ones or not.
    ASSERT_TRUE(platform::writeFileAtomically(path, bytes));
    EXPECT_EQ(results::decodeJournal(readFile(path))->cells.size(), 501);
}

TEST(JournalWrite, AFullDiskIsToldAndLeavesNoTemporaryFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ergebnis.txt"));
    ASSERT_TRUE(platform::writeFileAtomically(path, "alt"));
    for (const char *at : {"write", "fsync", "rename"}) {
        fake::Files files;
        files.failure = [at](const QString &call) { return call.startsWith(QLatin1String(at)) ? ENOSPC : 0; };
        QString error;
        EXPECT_FALSE(platform::writeFileAtomically(path, "neu", &error, platform::FileMode::AsBefore, files)) << at;
        EXPECT_EQ(error, QString::fromLocal8Bit(std::strerror(ENOSPC))) << at;
        EXPECT_EQ(readFile(path), QByteArray("alt"));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("ergebnis.txt")});
    }
}

TEST(JournalWrite, TwoWritersOfOneFileNeverShareATemporaryFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ergebnis.txt"));
    // A file that merely lies where a fixed temporary name would be is left alone.
    const QString bystander = path + QStringLiteral(".tmp");
    ASSERT_TRUE(platform::writeFileAtomically(bystander, "fremd"));
    platform::ReplacementFile first(path, platform::FileMode::AsBefore);
    platform::ReplacementFile second(path, platform::FileMode::AsBefore);
    ASSERT_TRUE(first.isValid() && second.isValid());
    EXPECT_NE(first.path(), second.path());
    ASSERT_TRUE(first.write("eins") && second.write("zwei"));
    ASSERT_TRUE(first.commit());
    ASSERT_TRUE(second.commit());
    EXPECT_EQ(readFile(path), QByteArray("zwei"));
    EXPECT_EQ(readFile(bystander), QByteArray("fremd"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST(JournalWriter, EndingWritesWhatIsPending)
{
    QTemporaryDir dir;
    for (int i = 0; i < 20; ++i) {
        const QString path = dir.filePath(QStringLiteral("j%1.journal").arg(i));
        {
            platform::JournalWriter writer(path);
            writer.write(results::encodeJournal(meetingOf(QStringLiteral("erst"), 1)));
            writer.write(results::encodeJournal(meetingOf(QStringLiteral("zuletzt"), 2)));
        }
        const auto read = results::decodeJournal(readFile(path));
        ASSERT_TRUE(read.has_value()) << i;
        EXPECT_EQ(read->title, QStringLiteral("zuletzt"));
    }
}

TEST(JournalLock, OneHolderAtATimeAndFreeAgainWhenItGoes)
{
    QTemporaryDir dir;
    const QString journal = dir.filePath(QStringLiteral("zielkron.journal"));
    auto first = std::make_unique<platform::JournalLock>(journal);
    EXPECT_EQ(first->state(), platform::JournalLock::State::Held);
    {
        // A second descriptor on the lock file, as a second desk opens it.
        platform::JournalLock second(journal);
        EXPECT_EQ(second.state(), platform::JournalLock::State::HeldElsewhere);
    }
    first.reset();
    platform::JournalLock third(journal);
    EXPECT_EQ(third.state(), platform::JournalLock::State::Held);
    EXPECT_TRUE(QFile::exists(platform::JournalLock::lockFile(journal)));
    // Without a folder to hold a lock file no lock is taken, and none can be taken elsewhere.
    platform::JournalLock nowhere(dir.filePath(QStringLiteral("fehlt/zielkron.journal")));
    EXPECT_EQ(nowhere.state(), platform::JournalLock::State::Unavailable);
    EXPECT_FALSE(nowhere.error().isEmpty());
}

TEST(JournalLock, TheKernelDropsTheLockOfADeskThatDied)
{
    QTemporaryDir dir;
    const QString journal = dir.filePath(QStringLiteral("zielkron.journal"));
    const QByteArray lockFile = QFile::encodeName(platform::JournalLock::lockFile(journal));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t desk = ::fork();
    ASSERT_GE(desk, 0);
    if (desk == 0) {
        // The other desk: system calls only, as the child of a process with threads.
        const int fd = ::open(lockFile.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
        const char locked = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? '1' : '0';
        if (::write(ready[1], &locked, 1) == 1)
            ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char locked = 0;
    ASSERT_EQ(::read(ready[0], &locked, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(locked, '1');
    EXPECT_EQ(platform::JournalLock(journal).state(), platform::JournalLock::State::HeldElsewhere);

    ::kill(desk, SIGKILL);
    ASSERT_EQ(::waitpid(desk, nullptr, 0), desk);
    EXPECT_EQ(platform::JournalLock(journal).state(), platform::JournalLock::State::Held);
}

TEST(JournalFormat, LaneTimesKeptToTheMillisecondComeBackInFormatThreeOnly)
{
    MeetingJournal j = meetingOf(QStringLiteral("T"), 11); // rows 0 .. 12
    j.millis.insert(3, 10231);
    j.millis.insert(12, 86400000);
    const QByteArray bytes = results::encodeJournal(j);
    EXPECT_TRUE(bytes.startsWith("ZIELKRON-JOURNAL 3\n")); // an older build could not keep them
    QString why;
    const auto back = results::decodeJournal(bytes, &why);
    ASSERT_TRUE(back.has_value()) << why.toStdString();
    EXPECT_EQ(back->millis, j.millis);

    const QByteArray cell = "cell\t0\t0\tT\n";
    const QByteArray origin = "origin\t1\t5\t1\t2\t0\n";
    ASSERT_TRUE(results::decodeJournal(sealed(kValues + origin + "millis\t2\t10231\n" + cell, 3)).has_value());
    EXPECT_FALSE(results::decodeJournal(sealed(kValues + "millis\t2\t10231\n" + cell, 2)).has_value());
    const QList<QByteArray> refused = {
        kValues + cell + "millis\t2\t10231\n",                  // after the cells
        kValues + "millis\t2\t10231\n" + origin,                // before the origins
        kValues + "millis\t3\t1\nmillis\t2\t1\n",               // rows out of order
        kValues + "millis\t2\t1\nmillis\t2\t2\n",               // a row twice
        kValues + "millis\t2\t0\n",                              // no time
        kValues + "millis\t2\t86400001\n",                       // beyond a day
        kValues + "millis\t99999\t10231\n",                      // outside the table
        kValues + "millis\t2\n",
    };
    for (const QByteArray &body : refused)
        EXPECT_FALSE(results::decodeJournal(sealed(body, 3)).has_value()) << body.toStdString();
}

TEST(JournalFormat, RaceLogsComeBackInFormatFourAfterTheTimes)
{
    MeetingJournal j = meetingOf(QStringLiteral("T"), 11);
    const QString note = QStringLiteral("Signal COM5 unterbrochen 12:03:44,120\u201312:03:51,870");
    j.raceLogs.insert(1, {note, QStringLiteral("Signal COM2 unterbrochen 12:04:00,000\u2013")});
    j.raceLogs.insert(100, {QStringLiteral("A\tB\\C\nD")}); // escaped like any text
    const QByteArray bytes = results::encodeJournal(j);
    EXPECT_TRUE(bytes.startsWith("ZIELKRON-JOURNAL 4\n")); // no older build knows them
    QString why;
    const auto back = results::decodeJournal(bytes, &why);
    ASSERT_TRUE(back.has_value()) << why.toStdString();
    EXPECT_EQ(back->raceLogs, j.raceLogs);

    const QByteArray time = "time\t2\t10231\t2\t0\t0\n";
    const QByteArray log = "racelog\t1\tSignal COM5 unterbrochen 12:03:44,120\xe2\x80\x93\n";
    const QByteArray cell = "cell\t0\t0\tT\n";
    ASSERT_TRUE(results::decodeJournal(sealed(kValues + time + log + cell, 4)).has_value());
    EXPECT_FALSE(results::decodeJournal(sealed(kValues + log + cell, 3)).has_value()); // not before format 4
    const QList<QByteArray> refused = {
        kValues + cell + log,                          // after the cells
        kValues + log + time,                          // before the times
        kValues + "racelog\t2\tA\nracelog\t1\tB\n",    // heats out of order
        kValues + "racelog\t0\tA\n",
        kValues + "racelog\t101\tA\n",
        kValues + "racelog\t1\t\n",                    // an empty note
        kValues + "racelog\t1\n",
        kValues + "racelog\t1\t" + QByteArray(201, 'x') + '\n', // longer than the desk writes
    };
    for (const QByteArray &body : refused)
        EXPECT_FALSE(results::decodeJournal(sealed(body, 4)).has_value()) << body.toStdString();

    // More notes than a journal holds are cut, never refused: the desk's journal stays readable.
    meeting::Record record;
    record.raceLogs.insert(3, QStringList(meeting::kMaxRaceNotes + 5, QString(250, QLatin1Char('y'))));
    const MeetingJournal kept = results::journalOf(record, QStringLiteral("T"), QDateTime());
    ASSERT_EQ(kept.raceLogs.value(3).size(), meeting::kMaxRaceNotes);
    EXPECT_EQ(kept.raceLogs.value(3).first().size(), results::JournalLimits::RaceNoteLength);
}
