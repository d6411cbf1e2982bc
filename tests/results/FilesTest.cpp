// Start-list import and export through the dialogs, on files in a temporary folder.

#include "DeskFixture.h"

#include "DateTimePicker.h"

#include "Label3D.h"
#include "SortGrid.h"
#include "SpinEdit.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cerrno>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

struct Files : Desk {
    TFormMain *f;
    explicit Files(int lanes = 8, bool spreadsheet = true)
    {
        fp.spreadsheet.registered = spreadsheet;
        key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 0}, {"Port2", 0},
                 {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "T"},
                 {"LineCount", lanes}, {"Accuracy", 2}};
        f = &create();
    }
    QString path(const QString &name) { return QDir(workDir.path()).filePath(name); }
    // Answers the next file dialog with a file and a file type.
    void choose(const QString &file, int type)
    {
        fp.dialogs.fileAnswers.push_back([file, type](platform::FileDialogRequest &r) {
            r.fileName = file;
            r.filterIndex = type;
            return true;
        });
    }
    QByteArray read(const QString &name)
    {
        QFile file(path(name));
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }
    TSortGrid &table() { return *f->SortGrid1; }
};

} // namespace

TEST(StartList, TextLinesFillTheTableRowForRow)
{
    Files d(2);
    TFormMain &f = *d.f;
    d.f->Model.recordToWrite().setRowCount(20);
    d.f->Model.recordToWrite().setCell(3, 15, QStringLiteral("kept"));
    d.writeFile(QStringLiteral("start.txt"),
                "Kreismeisterschaften\r\n"
                "\r\n"
                "1\t\t100 m H\xfcrden;Zeit\tM\xe4nner\r\n"      // TAB wins over ';', code page bytes
                "1.;;Anna \"Anni\" Meyer;;LG Nord\r\n"          // semicolons, an empty field
                "2.;205;Ben Berg;;;;;x;y\r\n");                 // nine fields: seven are kept
    f.seLauf->setValue(3);
    d.choose(d.path(QStringLiteral("start.txt")), 1);
    f.mStartList->trigger();
    EXPECT_EQ(f.bOpen->toolTip(), d.path(QStringLiteral("start.txt")));
    EXPECT_EQ(f.seLauf->Value(), 1);
    EXPECT_EQ(d.table().RowCount(), 20); // never shrinks
    EXPECT_EQ(d.table().Cells(0, 0), QStringLiteral("Kreismeisterschaften"));
    EXPECT_EQ(d.table().Cells(2, 2), QString::fromUtf8("100 m Hürden;Zeit"));
    EXPECT_EQ(d.table().Cells(1, 3), QStringLiteral(" "));
    EXPECT_EQ(d.table().Cells(2, 3), QStringLiteral("Anna \"Anni\" Meyer"));
    EXPECT_EQ(d.table().Cells(6, 4), QStringLiteral(" "));
    EXPECT_EQ(d.table().Cells(3, 15), QStringLiteral("kept"));
    // Heat 1 is on the lanes.
    EXPECT_EQ(f.cmb_Disziplin->currentText(), QString::fromUtf8("100 m Hürden;Zeit"));
    EXPECT_EQ(f.cbKlassen->currentText(), QString::fromUtf8("Männer"));
    EXPECT_EQ(f.Line(1)->eName->text(), QStringLiteral("Anna \"Anni\" Meyer"));
    EXPECT_EQ(f.Line(1)->eNum->text(), QStringLiteral(" "));
    EXPECT_EQ(f.Line(1)->eName->toolTip(), QStringLiteral("LG Nord"));
    EXPECT_EQ(f.Line(2)->eNum->text(), QStringLiteral("205"));
}

TEST(StartList, GrowsTheTableAndCancelChangesNothing)
{
    Files d;
    QByteArray lines;
    for (int i = 0; i < 30; ++i)
        lines += "x" + QByteArray::number(i) + "\n";
    d.writeFile(QStringLiteral("long.txt"), lines);
    d.f->mStartList->trigger(); // cancelled
    EXPECT_EQ(d.table().RowCount(), 13);
    EXPECT_EQ(d.f->bOpen->toolTip(), QStringLiteral("Alt+O"));
    d.choose(d.path(QStringLiteral("long.txt")), 1);
    d.f->bOpen->click();
    EXPECT_EQ(d.table().RowCount(), 30);
    EXPECT_EQ(d.table().Cells(0, 29), QStringLiteral("x29"));
    // A missing file ends the import silently.
    d.choose(d.path(QStringLiteral("missing.txt")), 1);
    d.f->bOpen->click();
    EXPECT_TRUE(d.fp.dialogs.messages.isEmpty());
}

TEST(StartList, ListsBeyondTheLimitAreRefusedBeforeAnythingIsRead)
{
    Files d;
    d.f->Model.recordToWrite().setCell(2, 3, QStringLiteral("vorher"));
    d.f->ShowTable();
    // Just over 2 MB, and just over 2,000 lines.
    QByteArray big(2 * 1024 * 1024 + 1, 'x');
    big[0] = 'T';
    d.writeFile(QStringLiteral("gross.txt"), big);
    QByteArray many;
    for (int i = 0; i < 2001; ++i)
        many += "1\t2\n";
    d.writeFile(QStringLiteral("lang.txt"), many);
    for (const char *name : {"gross.txt", "lang.txt"}) {
        d.fp.dialogs.messages.clear();
        d.f->ImportTextList(d.path(QString::fromLatin1(name)));
        ASSERT_EQ(d.fp.dialogs.messages.size(), 1) << name;
        EXPECT_EQ(d.fp.dialogs.messages[0].icon, platform::MessageIcon::Error);
        EXPECT_TRUE(d.fp.dialogs.messages[0].text.contains(QString::fromLatin1(name)));
        EXPECT_TRUE(d.fp.dialogs.messages[0].text.contains(QStringLiteral("nicht geladen")));
        EXPECT_EQ(d.table().RowCount(), 13) << name;
        EXPECT_EQ(d.table().Cells(2, 3), QStringLiteral("vorher"));
        EXPECT_EQ(d.table().Cells(0, 0), QString());
    }
    EXPECT_TRUE(d.fp.dialogs.messages[0].text.contains(QStringLiteral("2001 Zeilen")));
    // Exactly 2,000 lines still load, every one of them.
    many.chop(8);
    many.append("7\t8\n");
    d.writeFile(QStringLiteral("grenze.txt"), many);
    d.fp.dialogs.messages.clear();
    d.f->ImportTextList(d.path(QStringLiteral("grenze.txt")));
    EXPECT_TRUE(d.fp.dialogs.messages.isEmpty());
    EXPECT_EQ(d.table().RowCount(), 2000);
    EXPECT_EQ(d.table().Cells(1, 1998), QStringLiteral("2"));
    EXPECT_EQ(d.table().Cells(0, 1999), QStringLiteral("7"));
    EXPECT_EQ(d.table().Cells(1, 1999), QStringLiteral("8"));
}

TEST(Export, TextFileWritesEveryRowWithAFirstCell)
{
    Files d(2);
    TFormMain &f = *d.f;
    f.DateTimePicker1->setChecked(false); // the rows are written without a date, too
    f.Line(1)->eName->setText(QString::fromUtf8("Jürgen Groß"));
    f.mStart->trigger();
    d.fp.ticks.now += 10230;
    f.StopEntry(1)->trigger();
    f.mStop->trigger();
    f.mEintragen->trigger();
    d.f->Model.recordToWrite().setCell(2, 9, QStringLiteral("no first cell: not written"));
    d.choose(d.path(QStringLiteral("ergebnis.txt")), 1);
    f.mExport->trigger();
    const QByteArray text = d.read(QStringLiteral("ergebnis.txt"));
    const QList<QByteArray> lines = text.split('\n');
    ASSERT_EQ(text.count("\r\n"), 4); // title, heat header, two lanes
    EXPECT_TRUE(lines[0].startsWith("T\t \t \t \t \t \t \t\r"));
    EXPECT_EQ(lines[2], QByteArray("1.\t \tJ\xfcrgen Gro\xdf\t \t \t10,23 \t1\t\r"));
    EXPECT_EQ(lines[1].count('\t'), 7);
    EXPECT_FALSE(text.contains("not written"));
    EXPECT_EQ(d.fp.dialogs.fileRequests.last().filter, f.SaveDialog1.Filter);
}

TEST(Export, CsvByThePickedEntryAndErrorsShown)
{
    Files d(8, false);
    TFormMain &f = *d.f;
    d.f->Model.recordToWrite().setRowCount(20);
    d.choose(d.path(QStringLiteral("ergebnis.csv")), 2); // no workbook entry: CSV is the second
    f.bSave->click();
    const QByteArray csv = d.read(QStringLiteral("ergebnis.csv"));
    EXPECT_EQ(csv.count("\r\n"), 20);
    EXPECT_EQ(csv.count(';'), 20 * 6);
    EXPECT_EQ(f.SaveDialog1.FilterIndex, 2); // kept for the next start

    // A disk that fills up while the file is written: the table's own message, the old file whole.
    d.fp.files.failure = [](const QString &call) { return call.startsWith(QStringLiteral("write")) ? ENOSPC : 0; };
    f.Model.recordToWrite().setRowCount(40);
    d.choose(d.path(QStringLiteral("ergebnis.csv")), 2);
    f.bSave->click();
    d.fp.files.failure = nullptr;
    ASSERT_EQ(d.fp.dialogs.messages.size(), 1);
    EXPECT_EQ(d.fp.dialogs.messages[0].text, QStringLiteral("Can't write to file:\r") + d.path(QStringLiteral("ergebnis.csv")));
    EXPECT_EQ(d.read(QStringLiteral("ergebnis.csv")), csv);
    d.fp.dialogs.messages.clear();

    d.choose(d.path(QStringLiteral("no/folder/ergebnis.txt")), 1);
    f.bSave->click();
    ASSERT_EQ(d.fp.dialogs.messages.size(), 1);
    EXPECT_EQ(d.fp.dialogs.messages[0].icon, platform::MessageIcon::Error);
    EXPECT_TRUE(d.fp.dialogs.messages[0].text.contains(QStringLiteral("ergebnis.txt")));
    f.bSave->click(); // cancelled: nothing
    EXPECT_EQ(d.fp.dialogs.messages.size(), 1);
}

TEST(StartList, ALoadDuringARaceFillsTheTableAndLeavesTheLanesAloneUntilTheReset)
{
    Files d(2);
    TFormMain &f = *d.f;
    d.writeFile(QStringLiteral("start.txt"), "Sportfest\n\n1\t\t100 m\tFrauen\n1.\t7\tAnna Alt\n2.\t8\tBea Berg\n"
                                             "2\t\t100 m\tFrauen\n1.\t9\tCarla Christ\n2.\t10\tDora Dorn\n");
    f.seLauf->setValue(2);
    f.mStart->trigger();
    d.fp.ticks.now += 500;
    f.StopEntry(1)->trigger();
    ASSERT_EQ(f.Line(1)->LabelTime->Tag(), 500);

    d.choose(d.path(QStringLiteral("start.txt")), 1);
    f.mStartList->trigger();
    EXPECT_EQ(d.table().Cells(2, 6), QStringLiteral("Carla Christ")); // the table has the list
    EXPECT_EQ(f.seLauf->Value(), 2);                                   // the heat being run stays
    EXPECT_EQ(f.Line(1)->LabelTime->Tag(), 500);                       // the lanes are the race's
    EXPECT_EQ(f.Line(1)->LabelTime->text(), QStringLiteral("0,50 "));
    EXPECT_EQ(f.Line(1)->ePlatz->Caption(), QStringLiteral("1"));
    EXPECT_EQ(f.Line(2)->LabelTime->Tag(), 0);
    EXPECT_TRUE(f.StopEntry(2)->isEnabled()); // lane 2 still runs and can be stopped
    d.fp.ticks.now += 200;
    f.StopEntry(2)->trigger();
    EXPECT_EQ(f.Line(2)->LabelTime->text(), QStringLiteral("0,70 "));

    // Entered into heat 2 with both times; then heat 3 comes from the list (empty here).
    f.bProtokollClick();
    const int header = TFormMain::HeatHeaderRow(2, 2);
    EXPECT_EQ(d.table().Cells(5, header + 1), QStringLiteral("0,50 "));
    EXPECT_EQ(d.table().Cells(5, header + 2), QStringLiteral("0,70 "));
    EXPECT_EQ(f.seLauf->Value(), 3);

    // A reset after a load during a race puts the list's heat on the lanes.
    f.seLauf->setValue(1);
    f.mStart->trigger();
    d.writeFile(QStringLiteral("new.txt"), "Sportfest\n\n1\t\t100 m\tFrauen\n1.\t7\tAnna Neu\n");
    d.choose(d.path(QStringLiteral("new.txt")), 1);
    f.mStartList->trigger();
    EXPECT_EQ(f.Line(1)->eName->text(), QStringLiteral("Anna Alt"));
    f.bFehlStartClick();
    EXPECT_EQ(f.Line(1)->eName->text(), QStringLiteral("Anna Neu"));
    EXPECT_EQ(f.Line(1)->LabelTime->Tag(), 0);
}

TEST(StartList, StartNumbersStandAsTheListWritesThem)
{
    Files d(2);
    TFormMain &f = *d.f;
    d.writeFile(QStringLiteral("start.txt"), "T\n\n1\t\t100 m\n1.\tb4\tAnna\n2.\tM-12\tBen\n");
    f.ImportTextList(d.path(QStringLiteral("start.txt")));
    EXPECT_EQ(f.Line(1)->eNum->text(), QStringLiteral("b4"));
    EXPECT_EQ(f.Line(2)->eNum->text(), QStringLiteral("M-12"));

    // What the operator adds is still digits only, and what was there stays.
    QLineEdit *num = f.Line(1)->eNum;
    num->end(false);
    QGuiApplication::clipboard()->setText(QStringLiteral("x7"));
    num->paste();
    EXPECT_EQ(num->text(), QStringLiteral("b47"));
    QTest::keyClick(num, Qt::Key_Backspace);
    QTest::keyClick(num, Qt::Key_Backspace);
    QTest::keyClicks(num, QStringLiteral("5a"));
    EXPECT_EQ(num->text(), QStringLiteral("b5"));

    // The entry writes the numbers back as they stand.
    f.mEintragen->trigger();
    EXPECT_EQ(d.table().Cells(1, 3), QStringLiteral("b5"));
    EXPECT_EQ(d.table().Cells(1, 4), QStringLiteral("M-12"));
}

TEST(Export, AnExistingFileKeepsItsPermissionsAndANewOneGetsTheUsualOnes)
{
    Files d(2);
    auto mode = [](const QString &file) {
        struct stat st {};
        return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
    };
    const mode_t before = ::umask(027);
    d.choose(d.path(QStringLiteral("neu.txt")), 1);
    d.f->mExport->trigger();
    EXPECT_EQ(mode(d.path(QStringLiteral("neu.txt"))), 0640u);

    d.writeFile(QStringLiteral("geteilt.txt"), "alt");
    ::chmod(QFile::encodeName(d.path(QStringLiteral("geteilt.txt"))).constData(), 0664);
    d.choose(d.path(QStringLiteral("geteilt.txt")), 1);
    d.f->mExport->trigger();
    ::umask(before);
    EXPECT_EQ(mode(d.path(QStringLiteral("geteilt.txt"))), 0664u);
    EXPECT_NE(d.read(QStringLiteral("geteilt.txt")), QByteArray("alt"));
    EXPECT_TRUE(d.fp.dialogs.messages.isEmpty());
}

TEST(Export, RoundedUpTimesGoOutAsShownAndTruncatedOnesAsBefore)
{
    Files d(2);
    TFormMain &f = *d.f;
    f.DateTimePicker1->setChecked(false);
    auto race = [&](int first, int second) {
        f.mStart->trigger();
        const std::uint32_t start = d.fp.ticks.now;
        d.fp.ticks.now = start + static_cast<std::uint32_t>(first);
        f.StopEntry(1)->trigger();
        d.fp.ticks.now = start + static_cast<std::uint32_t>(second);
        f.StopEntry(2)->trigger();
        f.mEintragen->trigger();
    };
    race(10231, 10239); // heat 1, truncated
    d.choose(d.path(QStringLiteral("aus.txt")), 1);
    f.mExport->trigger();
    const QByteArray truncated = d.read(QStringLiteral("aus.txt"));
    EXPECT_TRUE(truncated.contains("1.\t \t \t \t \t10,23 \t1\t\r\n2.\t \t \t \t \t10,23 \t2\t\r\n")) << truncated.constData();

    f.Model.setRoundUp(true);
    race(10231, 10240); // heat 2, rounded up
    d.choose(d.path(QStringLiteral("an.txt")), 1);
    f.mExport->trigger();
    const QByteArray rounded = d.read(QStringLiteral("an.txt"));
    // Heat 1 stays byte for byte as it was entered; heat 2 went out rounded up, the tie unmarked.
    EXPECT_TRUE(rounded.startsWith(truncated)) << rounded.constData();
    EXPECT_TRUE(rounded.contains("1.\t \t \t \t \t10,24 \t1\t\r\n2.\t \t \t \t \t10,24 \t2\t\r\n")) << rounded.constData();
    EXPECT_EQ(rounded.count("10,23 "), 2);
}
