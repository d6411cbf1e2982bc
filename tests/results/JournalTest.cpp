// The meeting journal: written after every entry and import, atomic on disk, restored at start-up,
// never trusted when damaged.

#include "DeskFixture.h"

#include "DateTimePicker.h"
#include "Journal.h"
#include "SortGrid.h"
#include "SpinEdit.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>

#include <gtest/gtest.h>

using platform::MeetingJournal;

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
            fp.ticks.now = static_cast<std::uint32_t>(f->StartTime) + base + static_cast<std::uint32_t>(i) * 1000;
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
    EXPECT_EQ(next->f->LineCount, 3);
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

TEST(Journal, AWriteCutShortAtAnyPointLeavesThePreviousJournal)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("zielkron.journal"));
    MeetingJournal old;
    old.title = QStringLiteral("alt");
    old.cells.append({0, 0, QStringLiteral("alt")});
    ASSERT_TRUE(platform::writeFileAtomically(path, platform::encodeJournal(old)));
    MeetingJournal fresh = old;
    fresh.title = QStringLiteral("neu");
    fresh.rowCount = 600;
    for (int i = 0; i < 500; ++i)
        fresh.cells.append({i + 2, 2, QStringLiteral("Läufer %1").arg(i)});
    const QByteArray bytes = platform::encodeJournal(fresh);

    for (platform::WriteStage cut : {platform::WriteStage::TempCreated, platform::WriteStage::TempWritten,
                                     platform::WriteStage::TempSynced}) {
        EXPECT_FALSE(platform::writeFileAtomically(path, bytes, nullptr, [cut](platform::WriteStage s) { return s == cut; }));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const auto read = platform::decodeJournal(file.readAll());
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(read->title, QStringLiteral("alt"));
    }
    // A write that runs to its end replaces the journal, leftovers of the cut writes or not.
    ASSERT_TRUE(platform::writeFileAtomically(path, bytes));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto read = platform::decodeJournal(file.readAll());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->title, QStringLiteral("neu"));
    EXPECT_EQ(read->cells.size(), 501);
}

TEST(Journal, EveryEntryAndEveryImportIsWritten)
{
    Meeting m;
    EXPECT_FALSE(QFile::exists(m.f->JournalFile()));
    m.runHeat({QStringLiteral("A")}, 9000);
    auto first = platform::decodeJournal(m.journalBytes());
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->heats, QList<int>{1});
    EXPECT_EQ(first->lastHeat, 1);

    m.writeFile(QStringLiteral("liste.txt"), "Titel\n\n1\t\t100 m\n1.\t7\tNeu\n");
    m.f->ImportTextList(QDir(m.workDir.path()).filePath(QStringLiteral("liste.txt")));
    auto second = platform::decodeJournal(m.journalBytes());
    ASSERT_TRUE(second.has_value());
    EXPECT_TRUE(second->heats.isEmpty());
    bool found = false;
    for (const platform::JournalCell &c : second->cells)
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
