// The meeting journal: written after every entry and import, atomic on disk, restored at start-up,
// never trusted when damaged.

#include "DeskFixture.h"

#include "DateTimePicker.h"
#include "Journal.h"
#include "JournalFile.h"
#include "SortGrid.h"
#include "SpinEdit.h"

#include <QAction>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QThread>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

using results::MeetingJournal;

namespace {

struct Meeting : Desk {
    TFormMain *f;
    explicit Meeting(int lanes = 3)
    {
        key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 1}, {"Port1", 0}, {"Port2", 0},
                 {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0},
                 {"Title", QString::fromUtf8("Hallenmeeting Göttingen")}, {"LineCount", lanes}, {"Accuracy", 2}};
        f = &create();
    }
    // Runs heat h with the given names; lane i stops after base + i * 1000 ms.
    void runHeat(const QStringList &names, std::uint32_t base)
    {
        for (int i = 1; i <= names.size(); ++i)
            f->Line(i)->eName->setText(names[i - 1]);
        f->mStart->trigger();
        for (int i = 1; i <= names.size(); ++i) {
            fp.ticks.now = static_cast<std::uint32_t>(f->Model.desk().start) + base + static_cast<std::uint32_t>(i) * 1000;
            f->StopEntry(i)->trigger();
        }
        f->mEintragen->trigger();
    }
    QByteArray journalBytes()
    {
        EXPECT_TRUE(f->FlushJournal());
        QFile file(f->JournalFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QStringList table() const
    {
        QStringList out;
        for (int r = 0; r < f->SortGrid1->RowCount(); ++r)
            for (int c = 0; c < 7; ++c)
                out << f->SortGrid1->Cells(c, r);
        return out;
    }
};

// A second desk that starts with the first one's journal in its settings folder.
std::unique_ptr<Meeting> restartWith(const QByteArray &journal, int lanes = 3)
{
    auto next = std::make_unique<Meeting>(lanes);
    QFile out(next->f->JournalFile());
    EXPECT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(journal);
    return next;
}

} // namespace

TEST(Journal, RestoreBringsBackTheMeetingWithUmlautsAndLongTimes)
{
    Meeting m;
    m.f->DateTimePicker1->setDate(QDate(2026, 12, 8));
    m.runHeat({QString::fromUtf8("Jürgen Weiß"), QString::fromUtf8("Zoë Ørsted"), QStringLiteral("Li 李")}, 60000);
    m.runHeat({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}, 9000);
    m.f->seLauf->setValue(5);
    m.runHeat({QStringLiteral("D"), QStringLiteral("E"), QStringLiteral("F")}, 9000);
    const QByteArray journal = m.journalBytes();
    const QStringList before = m.table();
    ASSERT_EQ(m.f->SortGrid1->Cells(5, 3), QStringLiteral("1:01,00 "));

    auto next = restartWith(journal, 8); // settings of the crashed run were never saved
    next->fp.dialogs.answers.push_back(platform::MbYes);
    next->f->OfferJournalRestore();
    ASSERT_EQ(next->fp.dialogs.messages.size(), 1);
    const QString question = next->fp.dialogs.messages[0].text;
    EXPECT_TRUE(question.startsWith(QStringLiteral("Letzte Veranstaltung wiederherstellen?")));
    EXPECT_TRUE(question.contains(QString::fromUtf8("Hallenmeeting Göttingen")));
    EXPECT_TRUE(question.contains(QString::fromUtf8("Eingetragene Läufe: 3")));
    EXPECT_TRUE(question.contains(QStringLiteral("Datum: 08.12.2026"))) << qPrintable(question);
    static const QRegularExpression saved(QStringLiteral("Gesichert: \\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d\n"));
    EXPECT_TRUE(question.contains(saved)) << qPrintable(question);
    EXPECT_EQ(next->f->Model.lanes(), 3);
    EXPECT_EQ(next->table(), before);
    EXPECT_EQ(next->f->seLauf->Value(), 6);
    EXPECT_EQ(next->f->eTitle->text(), QString::fromUtf8("Hallenmeeting Göttingen"));
    // Heat 1 looked at again shows its athletes and times.
    next->f->seLauf->setValue(1);
    EXPECT_EQ(next->f->Line(1)->eName->text(), QString::fromUtf8("Jürgen Weiß"));
    EXPECT_EQ(next->f->Line(3)->eName->text(), QStringLiteral("Li 李"));
    EXPECT_EQ(next->f->Line(1)->LabelTime->Tag(), 61000);
}

TEST(Journal, NoKeepsTheJournalAsADatedBackup)
{
    Meeting m;
    m.runHeat({QStringLiteral("A")}, 9000);
    const QByteArray journal = m.journalBytes();
    auto next = restartWith(journal);
    next->fp.dialogs.answers.push_back(platform::MbNo);
    next->f->OfferJournalRestore();
    EXPECT_FALSE(QFile::exists(next->f->JournalFile()));
    const QFileInfo info(next->f->JournalFile());
    const QStringList kept = info.absoluteDir().entryList({QStringLiteral("*.journal")}, QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    QFile backup(info.absoluteDir().filePath(kept[0]));
    ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
    EXPECT_EQ(backup.readAll(), journal);
    EXPECT_EQ(next->f->SortGrid1->Cells(2, 3), QString());
}

TEST(Journal, ADamagedJournalIsNeverTrustedAndKeptForInspection)
{
    Meeting m;
    m.runHeat({QStringLiteral("A"), QStringLiteral("B")}, 9000);
    const QByteArray journal = m.journalBytes();
    QByteArray foreign = journal;
    foreign[foreign.size() - 20] = foreign[foreign.size() - 20] == 'x' ? 'y' : 'x';
    for (const QByteArray &damaged : {journal.left(journal.size() - 7), foreign, QByteArray("\x01\x02garbage")}) {
        auto next = restartWith(damaged);
        next->f->OfferJournalRestore();
        ASSERT_EQ(next->fp.dialogs.messages.size(), 1);
        EXPECT_EQ(next->fp.dialogs.messages[0].icon, platform::MessageIcon::Error);
        EXPECT_TRUE(next->fp.dialogs.messages[0].text.contains(QString::fromUtf8("beschädigt")));
        EXPECT_EQ(next->f->SortGrid1->Cells(2, 3), QString());
        EXPECT_FALSE(QFile::exists(next->f->JournalFile()));
        const QDir folder = QFileInfo(next->f->JournalFile()).absoluteDir();
        const QStringList kept = folder.entryList({QStringLiteral("*beschaedigt*")}, QDir::Files);
        ASSERT_EQ(kept.size(), 1);
        QFile file(folder.filePath(kept[0]));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), damaged);
    }
}

TEST(Journal, EveryEntryAndEveryImportIsWritten)
{
    Meeting m;
    EXPECT_FALSE(QFile::exists(m.f->JournalFile()));
    m.runHeat({QStringLiteral("A")}, 9000);
    auto first = results::decodeJournal(m.journalBytes());
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->heats, QList<int>{1});
    EXPECT_EQ(first->lastHeat, 1);

    m.writeFile(QStringLiteral("liste.txt"), "Titel\n\n1\t\t100 m\n1.\t7\tNeu\n");
    m.f->ImportTextList(QDir(m.workDir.path()).filePath(QStringLiteral("liste.txt")));
    auto second = results::decodeJournal(m.journalBytes());
    ASSERT_TRUE(second.has_value());
    EXPECT_TRUE(second->heats.isEmpty());
    bool found = false;
    for (const results::JournalCell &c : second->cells)
        found |= c.row == 3 && c.col == 2 && c.text == QStringLiteral("Neu");
    EXPECT_TRUE(found);
}

TEST(Journal, AFailedWriteIsToldAndAStartListNeverDestroysEnteredHeats)
{
    {
        Meeting m;
        // Something in the way of the journal: a folder under its name.
        ASSERT_TRUE(QDir().mkpath(m.f->JournalFile() + QStringLiteral("/blockiert")));
        m.runHeat({QStringLiteral("A")}, 9000);
        EXPECT_FALSE(m.f->FlushJournal());
        QCoreApplication::processEvents();
        ASSERT_EQ(m.fp.dialogs.messages.size(), 1);
        EXPECT_EQ(m.fp.dialogs.messages[0].icon, platform::MessageIcon::Error);
        EXPECT_TRUE(m.fp.dialogs.messages[0].text.contains(QStringLiteral("Sicherung der Veranstaltung")));
    }
    Meeting m;
    m.runHeat({QString::fromUtf8("Jürgen")}, 9000);
    const QByteArray entered = m.journalBytes();
    m.writeFile(QStringLiteral("liste.txt"), "Neu\n\n1\t\t100 m\n");
    m.f->ImportTextList(QDir(m.workDir.path()).filePath(QStringLiteral("liste.txt")));
    m.f->FlushJournal();
    const QDir folder = QFileInfo(m.f->JournalFile()).absoluteDir();
    const QStringList kept = folder.entryList({QStringLiteral("*vor-startliste*")}, QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    QFile copy(folder.filePath(kept[0]));
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), entered);
}

TEST(Journal, ASecondDeskSaysSoAndNeverTouchesTheFirstDesksJournal)
{
    Meeting m;
    m.runHeat({QStringLiteral("A")}, 9000);
    const QByteArray journal = m.journalBytes();
    {
        // Started by the same user while the first desk runs: the same settings and journal.
        TFormMain second(m.fp.bundle(), m.programPath);
        EXPECT_FALSE(second.OwnsJournal());
        ASSERT_EQ(m.fp.dialogs.messages.size(), 1);
        EXPECT_TRUE(m.fp.dialogs.messages[0].text.startsWith(QString::fromUtf8("Zielkron läuft bereits")));
        EXPECT_EQ(m.fp.dialogs.messages[0].icon, platform::MessageIcon::Warning);
        second.OfferJournalRestore(); // asks nothing, moves nothing
        second.WriteJournal();
        EXPECT_EQ(m.fp.dialogs.messages.size(), 1);
        EXPECT_TRUE(second.FlushJournal());
    }
    EXPECT_TRUE(m.fp.settings.writeOrder.isEmpty()); // it ended without saving its settings
    EXPECT_EQ(m.journalBytes(), journal);

    // The first desk goes on as before.
    m.runHeat({QStringLiteral("B")}, 9000);
    const auto both = results::decodeJournal(m.journalBytes());
    ASSERT_TRUE(both.has_value());
    EXPECT_EQ(both->heats, (QList<int>{1, 2}));
    // Once it has ended, the next desk owns the journal and offers it.
    m.destroy();
    TFormMain &next = m.create();
    EXPECT_TRUE(next.OwnsJournal());
    m.fp.dialogs.answers.push_back(platform::MbNo);
    next.OfferJournalRestore();
    EXPECT_TRUE(m.fp.dialogs.messages.last().text.startsWith(QStringLiteral("Letzte Veranstaltung wiederherstellen?")));
}

TEST(Journal, AFailedLastWriteIsShownBeforeTheDeskCloses)
{
    Meeting m;
    m.f->show();
    m.runHeat({QStringLiteral("A")}, 9000);
    EXPECT_TRUE(m.f->close()); // on disk: only the close question
    EXPECT_EQ(m.fp.dialogs.messages.size(), 1);

    // A full disk that is slow to say so: closing waits for the writer.
    m.fp.files.failure = [](const QString &call) {
        if (!call.startsWith(QStringLiteral("write ")))
            return 0;
        QThread::msleep(100);
        return ENOSPC;
    };
    m.f->show();
    m.fp.dialogs.messages.clear();
    m.runHeat({QStringLiteral("B")}, 9000);
    EXPECT_FALSE(m.f->close()); // "Programm beenden?" Yes, the warning's default No
    ASSERT_EQ(m.fp.dialogs.messages.size(), 2);
    const fake::MessageCall &warning = m.fp.dialogs.messages[1];
    EXPECT_EQ(warning.buttons, platform::MessageButtons::YesNoDefaultNo);
    EXPECT_EQ(warning.icon, platform::MessageIcon::Warning);
    EXPECT_TRUE(warning.text.contains(QStringLiteral("nicht gesichert")));
    EXPECT_TRUE(warning.text.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))));
    EXPECT_TRUE(m.f->isVisible());
    // The export is offered at once.
    ASSERT_EQ(m.fp.dialogs.fileRequests.size(), 1);
    EXPECT_EQ(m.fp.dialogs.fileRequests[0].filter, m.f->SaveDialog1.Filter);

    // Exported elsewhere, or not wanted: the operator closes anyway.
    m.fp.dialogs.answers = {platform::MbYes, platform::MbYes};
    EXPECT_TRUE(m.f->close());
}

TEST(Journal, AnImportOverHeatsOnNoDiskAsksFirstAndKeepsThemByDefault)
{
    Meeting m;
    m.writeFile(QStringLiteral("liste.txt"), "Neu\n\n1\t\t100 m\n1.\t7\tNeu\n");
    const QString list = QDir(m.workDir.path()).filePath(QStringLiteral("liste.txt"));
    auto asked = [&m] {
        const fake::MessageCall &q = m.fp.dialogs.messages.last();
        return q.buttons == platform::MessageButtons::YesNoDefaultNo && q.text.contains(QStringLiteral("nicht gesichert"))
               && q.text.contains(QStringLiteral("trotzdem laden?"));
    };

    // The journal cannot be written: the entered heat is in memory only.
    m.fp.files.failure = [](const QString &call) { return call.startsWith(QStringLiteral("write ")) ? ENOSPC : 0; };
    m.runHeat({QString::fromUtf8("Jürgen")}, 9000);
    EXPECT_FALSE(m.f->FlushJournal());
    QCoreApplication::processEvents(); // the writer's own report
    m.fp.dialogs.messages.clear();
    m.f->ImportTextList(list);
    ASSERT_EQ(m.fp.dialogs.messages.size(), 1);
    EXPECT_TRUE(asked());
    EXPECT_EQ(m.f->SortGrid1->Cells(2, 3), QString::fromUtf8("Jürgen"));
    EXPECT_EQ(m.f->Model.record().entered, QList<int>{1});

    // The journal is fine, but its copy cannot be made.
    m.fp.files.failure = [](const QString &call) {
        return call.startsWith(QStringLiteral("open ")) && call.contains(QStringLiteral("vor-startliste")) ? ENOSPC : 0;
    };
    m.f->WriteJournal();
    ASSERT_TRUE(m.f->FlushJournal());
    m.f->ImportTextList(list);
    ASSERT_EQ(m.fp.dialogs.messages.size(), 2);
    EXPECT_TRUE(asked());
    EXPECT_EQ(m.f->SortGrid1->Cells(2, 3), QString::fromUtf8("Jürgen"));

    // Yes loads the list all the same.
    m.fp.dialogs.answers.push_back(platform::MbYes);
    m.f->ImportTextList(list);
    EXPECT_EQ(m.f->SortGrid1->Cells(2, 3), QStringLiteral("Neu"));
}

TEST(Journal, AJournalOfAnOlderOrNewerBuildIsNotCalledDamaged)
{
    auto sealed = [](const QByteArray &body, int version) {
        return "ZIELKRON-JOURNAL " + QByteArray::number(version) + '\n' + QByteArray::number(body.size()) + '\n'
               + QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() + '\n' + body;
    };
    const struct {
        QByteArray bytes;
        const char *said;
        const char *kept;
    } cases[] = {
        {sealed(R"({"title": "Alt", "lanes": 8, "cells": [[0, 0, "Alt"]]})", 1), "älteren", "aelteres-format"},
        {sealed("title\tNeu\nsomething new\n", 5), "neueren", "neueres-format"},
    };
    for (const auto &c : cases) {
        auto next = restartWith(c.bytes);
        next->f->OfferJournalRestore();
        ASSERT_EQ(next->fp.dialogs.messages.size(), 1);
        const QString text = next->fp.dialogs.messages[0].text;
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.said))) << text.toStdString();
        EXPECT_FALSE(text.contains(QString::fromUtf8("beschädigt"))) << text.toStdString();
        EXPECT_EQ(next->fp.dialogs.messages[0].icon, platform::MessageIcon::Warning);
        EXPECT_EQ(next->f->SortGrid1->Cells(0, 0), QString());
        const QDir folder = QFileInfo(next->f->JournalFile()).absoluteDir();
        const QStringList kept = folder.entryList({QStringLiteral("*%1*").arg(QLatin1String(c.kept))}, QDir::Files);
        ASSERT_EQ(kept.size(), 1);
        QFile file(folder.filePath(kept[0]));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), c.bytes);
    }
}
