// Workbook start lists and the workbook export through the desk's dialogs, on files in temporary
// folders and the office-suite workbooks of tests/data.

#include "WorkbookDesk.h"

#include "RealPlatform.h"

#include "Label3D.h"
#include "SortGrid.h"
#include "SpinEdit.h"
#include "WorkbookParts.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <zip.h>

#include <cerrno>
#include <sys/stat.h>

TEST(WorkbookList, OfficeSuiteStartListFillsTheTableAndHeatOne)
{
    for (const char *name : {"start.xlsx", "start.ods", "start.xls"}) {
        Books d;
        TFormMain &f = *d.f;
        d.f->Model.recordToWrite().setRowCount(30);
        d.f->SortGrid1->setCells(8, 2, QStringLiteral("beyond column G")); // the grid's own, no cell of the meeting
        f.seLauf->setValue(3);
        d.importList(dataFile(name));
        EXPECT_TRUE(d.fp.dialogs.messages.isEmpty()) << name;
        EXPECT_EQ(f.bOpen->toolTip(), dataFile(name));
        EXPECT_EQ(d.table().RowCount(), 12) << name; // row 13 ends the list; the table shrinks
        EXPECT_EQ(d.table().Cells(0, 1), QStringLiteral("14.05.2027"));
        EXPECT_EQ(d.table().Cells(1, 2), QString()); // an empty cell stays empty
        EXPECT_EQ(d.table().Cells(5, 3), QStringLiteral("12,5"));
        EXPECT_EQ(d.table().Cells(8, 2), QStringLiteral("beyond column G"));
        EXPECT_EQ(f.seLauf->Value(), 1);
        EXPECT_EQ(f.cmb_Disziplin->currentText(), QString::fromUtf8("100 m Hürden"));
        EXPECT_EQ(f.cbKlassen->currentText(), QString::fromUtf8("Männer U20"));
        EXPECT_EQ(f.Line(1)->eNum->text(), QStringLiteral("205"));
        EXPECT_EQ(f.Line(1)->eName->toolTip(), QString::fromUtf8("LG Nord – Süd"));
        EXPECT_EQ(f.Line(1)->ePlatz->Caption(), QString());
        EXPECT_EQ(f.Line(2)->eName->text(), QString::fromUtf8("Zoë Šťastná"));
        EXPECT_EQ(d.fp.spreadsheet.calls,
                  (QStringList{"Create", "EnableEvents", "Workbooks.Open", "Worksheets", "Rows.Count",
                               "Range.End", "Range.Value", "Quit"}));
    }
}

TEST(WorkbookList, ShortListsAndRowsAfterTheGap)
{
    Books d;
    const QString emptyA1 = d.path(QStringLiteral("a1.xlsx"));
    d.makeWorkbook(emptyA1, {{"", "B1"}, {"A2"}});
    d.f->Model.recordToWrite().setRowCount(20);
    d.importList(emptyA1);
    EXPECT_EQ(d.table().RowCount(), 1);
    EXPECT_EQ(d.table().Cells(1, 0), QString()); // nothing written
    ASSERT_EQ(d.fp.dialogs.messages.size(), 1);
    EXPECT_EQ(d.fp.dialogs.messages[0].text, QStringLiteral("Rowsize too small"));

    // A list that starts further down is no list either; rows 1..3 then 5 give three rows.
    const QString gap = d.path(QStringLiteral("gap.xlsx"));
    d.makeWorkbook(gap, {{"T"}, {"D"}, {"1", "", "100 m"}, {}, {"after"}});
    d.importList(gap);
    EXPECT_EQ(d.table().RowCount(), 3);
    EXPECT_EQ(d.table().Cells(2, 2), QStringLiteral("100 m"));
}

TEST(WorkbookList, BadFilesAndLimitsLeaveTheTableAndQuit)
{
    QTemporaryDir dir;
    const QString huge = dir.filePath(QStringLiteral("huge.xlsx"));
    {
        QFile f(huge);
        f.open(QIODevice::WriteOnly);
        f.resize(2 * 1024 * 1024 + 1);
    }
    // 2,001 filled rows in a few bytes: one row repeated.
    const QString many = dir.filePath(QStringLiteral("many.ods"));
    writeOds(many, R"(<table:table-row table:number-rows-repeated="2001"><table:table-cell office:value-type="string">)"
                   R"(<text:p>x</text:p></table:table-cell></table:table-row>)");
    // A small file whose content unpacks to more than a start list may take: 5 MB of text that
    // packs about 4:1.
    const QString wide = dir.filePath(QStringLiteral("wide.ods"));
    {
        std::string letters(5u << 20, 'a');
        std::uint32_t seed = 1;
        for (char &ch : letters) {
            seed = seed * 1103515245u + 12345u;
            ch = static_cast<char>('a' + (seed >> 16) % 3);
        }
        writeOds(wide, R"(<table:table-row><table:table-cell office:value-type="string"><text:p>)" + letters
                           + R"(</text:p></table:table-cell></table:table-row>)",
                 {}, 1);
    }
    // A zip bomb, entity expansion through a DOCTYPE, a truncated archive.
    const QString bomb = dir.filePath(QStringLiteral("bomb.ods"));
    writeOds(bomb, std::string(64u << 20, ' '));
    const QString doctype = dir.filePath(QStringLiteral("doctype.ods"));
    writeOds(doctype, R"(<table:table-row><table:table-cell office:value-type="string"><text:p>&x;</text:p></table:table-cell></table:table-row>)",
             R"(<?xml version="1.0"?><!DOCTYPE d [<!ENTITY x "xxxxxxxx">]>)");
    const QString truncated = dir.filePath(QStringLiteral("truncated.xlsx"));
    QFile::copy(dataFile("start.xlsx"), truncated);
    QFile::resize(truncated, 3000);
    const QString locked = dataFile("locked.ods");
    const QString text = dir.filePath(QStringLiteral("liste.xlsx"));
    {
        QFile f(text);
        f.open(QIODevice::WriteOnly);
        f.write("1;;Anna\r\n");
    }
    struct Case {
        QString file;
        QString words;
    };
    for (const Case &c : {Case{huge, QStringLiteral("zu groß")}, Case{many, QStringLiteral("2001 Zeilen")},
                          Case{wide, QStringLiteral("mehr als 4 MB")},
                          Case{bomb, QStringLiteral("entpackt")}, Case{doctype, QStringLiteral("DOCTYPE")},
                          Case{truncated, QStringLiteral("beschädigt")}, Case{locked, QStringLiteral("Kennwort")},
                          Case{text, QStringLiteral("keine Arbeitsmappe")},
                          Case{dir.filePath(QStringLiteral("fehlt.xlsx")), QStringLiteral("nicht gefunden")}}) {
        Books d;
        fillTable(*d.f, 9);
        const QList<QStringList> before = d.rows();
        d.importList(c.file);
        ASSERT_EQ(d.errors().size(), 1) << c.file.toStdString();
        EXPECT_TRUE(d.errors()[0].contains(c.file)) << d.errors()[0].toStdString();
        EXPECT_TRUE(d.errors()[0].contains(c.words)) << d.errors()[0].toStdString();
        EXPECT_EQ(d.rows(), before);
        EXPECT_EQ(d.fp.spreadsheet.calls.last(), QStringLiteral("Quit"));
    }
    // Exactly 2,000 rows still load.
    const QString limit = dir.filePath(QStringLiteral("limit.ods"));
    writeOds(limit, R"(<table:table-row table:number-rows-repeated="2000"><table:table-cell office:value-type="string">)"
                    R"(<text:p>x</text:p></table:table-cell></table:table-row>)");
    Books d;
    d.importList(limit);
    EXPECT_TRUE(d.errors().isEmpty()) << d.errors().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(d.table().RowCount(), 2000);
    EXPECT_EQ(d.table().Cells(0, 1999), QStringLiteral("x"));
}

namespace {

// A table as an entered meeting holds it: every row has its first cell, some cells are empty.
void fillMeeting(TFormMain &f, int rows)
{
    meeting::Record &t = f.Model.recordToWrite();
    t.setRowCount(rows);
    for (int r = 0; r < rows; ++r) {
        t.setRow(r, {});
        t.setCell(0, r, r == 0 ? QString::fromUtf8("Kreismeisterschaften Łódź") : QStringLiteral("%1.").arg(r));
        if (r % 4 != 0)
            t.setCell(2, r, QString::fromUtf8("Jürgen Groß %1").arg(r));
        if (r % 3 == 1)
            t.setCell(5, r, QStringLiteral("10,%1").arg(r + 10));
        if (r % 5 == 2)
            t.setCell(6, r, QStringLiteral(" "));
    }
    f.ShowTable();
}

} // namespace

TEST(WorkbookExport, NewFileHoldsTheTableAndComesBackTheSame)
{
    Books d;
    fillMeeting(*d.f, 20);
    const QList<QStringList> table = d.rows();
    d.exportTo(d.path(QStringLiteral("ergebnis"))); // typed without extension
    const QString file = d.path(QStringLiteral("ergebnis.xlsx"));
    ASSERT_TRUE(QFileInfo(file).isFile());
    EXPECT_TRUE(d.fp.dialogs.messages.isEmpty());
    EXPECT_EQ(d.fp.spreadsheet.calls, (QStringList{"Create", "EnableEvents", "Workbooks.Open", "Workbooks.Add",
                                                   "Worksheets", "Range.Value=", "SaveAs", "Quit"}));
    {
        platform::SpreadsheetApplication app;
        platform::Worksheet &sheet = app.workbooks().open(file).worksheet(1);
        const platform::CellBlock block = sheet.rangeValue({1, 1}, {30, 10});
        EXPECT_EQ(sheet.usedRowCount(), 20); // A1:G21, the last row empty
        for (int r = 1; r <= 20; ++r)
            for (int c = 1; c <= 7; ++c)
                EXPECT_EQ(platform::cellText(block.at(r, c)), d.table().Cells(c - 1, r - 1)) << r << "," << c;
        EXPECT_EQ(block.at(2, 6).type, platform::CellValue::Type::Text); // "10,21" stays a text
    }
    fillTable(*d.f, 25);
    d.importList(file);
    EXPECT_EQ(d.rows(), table);
}

TEST(WorkbookExport, ExistingWorkbookKeepsItsOtherSheetAndCells)
{
    Books d;
    const QString file = d.path(QStringLiteral("keep.xlsx"));
    ASSERT_TRUE(QFile::copy(dataFile("keep.xlsx"), file));
    QFile::setPermissions(file, QFile::permissions(file) | QFileDevice::WriteOwner);
    fillMeeting(*d.f, 2);
    d.exportTo(file);
    EXPECT_TRUE(d.fp.dialogs.messages.isEmpty());
    platform::SpreadsheetApplication app;
    const platform::CellBlock block = app.workbooks().open(file).worksheet(1).rangeValue({1, 1}, {40, 8});
    EXPECT_EQ(platform::cellText(block.at(1, 1)), QString::fromUtf8("Kreismeisterschaften Łódź"));
    EXPECT_EQ(platform::cellText(block.at(1, 8)), QStringLiteral("H1 beside"));
    EXPECT_EQ(platform::cellText(block.at(2, 2)), QString()); // inside A1:G3: replaced
    EXPECT_EQ(platform::cellText(block.at(3, 1)), QString()); // the empty last row of the block
    EXPECT_EQ(platform::cellText(block.at(3, 8)), QStringLiteral("10"));
    EXPECT_EQ(platform::cellText(block.at(30, 1)), QStringLiteral("A30 below"));
    const platform::ZipReader zip(file, file);
    EXPECT_EQ(zip.read("xl/worksheets/sheet2.xml"), platform::ZipReader(dataFile("keep.xlsx"), {}).read("xl/worksheets/sheet2.xml"));
    EXPECT_NE(zip.read("xl/workbook.xml")->find(R"(name="Ergebnisse")"), std::string::npos);
}

TEST(WorkbookExport, FilesThatMustNotBeWrittenStayUntouched)
{
    Books d;
    fillMeeting(*d.f, 5);
    const QString legacy = d.path(QStringLiteral("alt.xls"));
    ASSERT_TRUE(QFile::copy(dataFile("start.xls"), legacy));
    const QString notes = d.path(QStringLiteral("notizen.xlsx"));
    d.writeFile(QStringLiteral("notizen.xlsx"), "Bahn 3 Startblock locker\r\n");
    auto bytes = [](const QString &f) {
        QFile file(f);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    };
    const QByteArray legacyBefore = bytes(legacy);

    d.exportTo(legacy);
    d.exportTo(notes);
    ASSERT_EQ(d.errors().size(), 2);
    EXPECT_TRUE(d.errors()[0].contains(legacy) && d.errors()[0].contains(QStringLiteral(".xlsx"))) << d.errors()[0].toStdString();
    EXPECT_TRUE(d.errors()[1].contains(notes) && d.errors()[1].contains(QStringLiteral("nicht überschrieben")))
        << d.errors()[1].toStdString();
    EXPECT_EQ(bytes(legacy), legacyBefore);
    EXPECT_EQ(bytes(notes), QByteArray("Bahn 3 Startblock locker\r\n"));
    EXPECT_EQ(d.fp.spreadsheet.calls.last(), QStringLiteral("Quit"));
    EXPECT_EQ(QDir(d.workDir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // no temporary left

    // A failure while writing names the heat.
    d.f->seLauf->setValue(4);
    d.exportTo(d.path(QStringLiteral("no/folder/ergebnis.xlsx")));
    ASSERT_EQ(d.errors().size(), 3);
    EXPECT_EQ(d.errors()[2], QStringLiteral("Error lauf Nr.4"));
    EXPECT_EQ(d.fp.spreadsheet.calls.last(), QStringLiteral("Quit"));

    // Without the application, the automation error itself.
    d.fp.spreadsheet.registered = false;
    d.exportTo(d.path(QStringLiteral("x.xlsx")));
    ASSERT_EQ(d.errors().size(), 4);
    EXPECT_TRUE(d.errors()[3].contains(QStringLiteral("Klassenzeichenfolge")));
}

TEST(WorkbookDialogs, TypedNamesGetThePickedTypesExtension)
{
    Books d;
    d.f->Model.recordToWrite().setRowCount(3);
    d.exportTo(d.path(QStringLiteral("liste")), 3);
    EXPECT_TRUE(QFileInfo(d.path(QStringLiteral("liste.csv"))).isFile());
    EXPECT_EQ(d.f->SaveDialog1.FileName, d.path(QStringLiteral("liste.csv")));
    d.exportTo(d.path(QStringLiteral("liste.v2")), 1); // an extension of its own is kept
    EXPECT_TRUE(QFileInfo(d.path(QStringLiteral("liste.v2"))).isFile());

    // The open dialog's workbook entry finds the type under which the file exists.
    ASSERT_TRUE(QFile::copy(dataFile("start.ods"), d.path(QStringLiteral("meldung.ods"))));
    d.importList(d.path(QStringLiteral("meldung")));
    EXPECT_EQ(d.f->bOpen->toolTip(), d.path(QStringLiteral("meldung.ods")));
    EXPECT_EQ(d.table().RowCount(), 12);

    using platform::withPickedExtension;
    const QString filter = d.f->OpenDialog1.Filter;
    EXPECT_EQ(platform::filterExtensions(filter, 2), (QStringList{"xlsx", "xls", "ods"}));
    EXPECT_EQ(withPickedExtension(QStringLiteral("/x/neu"), filter, 2, false), QStringLiteral("/x/neu.xlsx"));
    EXPECT_EQ(withPickedExtension(QStringLiteral("/x/neu"), filter, 1, true), QStringLiteral("/x/neu.txt"));
    EXPECT_EQ(withPickedExtension(QStringLiteral("/x/neu"), QStringLiteral("Alle|*.*"), 1, false), QStringLiteral("/x/neu"));
}

TEST(WorkbookDialogs, RealDialogSuffixFollowsThePickedType)
{
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    platform::FileDialogRequest request;
    request.filter = QStringLiteral("Textdatei (*.txt)|*.txt|MS Excel (*.xlsx)|*.xlsx|CSV (*.csv)|*.csv|");
    request.filterIndex = 3;
    request.defaultExt = QStringLiteral("txt");
    platform::configureFileDialog(dialog, request, true);
    EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("csv"));
    emit dialog.filterSelected(dialog.nameFilters().at(1));
    EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("xlsx"));
    request.filter = QStringLiteral("Alle (*.*)|*.*");
    request.filterIndex = 1;
    platform::configureFileDialog(dialog, request, true);
    EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("txt"));
}

TEST(WorkbookExport, LibreOfficeOpensTheSavedWorkbook)
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        GTEST_SKIP() << "LibreOffice (soffice) is not installed: the check that it opens the export is skipped";
    Books d;
    fillMeeting(*d.f, 12);
    const QString file = d.path(QStringLiteral("keep.xlsx"));
    ASSERT_TRUE(QFile::copy(dataFile("keep.xlsx"), file));
    QFile::setPermissions(file, QFile::permissions(file) | QFileDevice::WriteOwner);
    d.exportTo(file);
    ASSERT_TRUE(d.fp.dialogs.messages.isEmpty());

    QTemporaryDir out;
    QProcess office;
    office.start(soffice, {QStringLiteral("-env:UserInstallation=file://") + out.filePath(QStringLiteral("profile")),
                           QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                           QStringLiteral("csv:Text - txt - csv (StarCalc):59,34,76,1"), QStringLiteral("--outdir"),
                           out.path(), file});
    ASSERT_TRUE(office.waitForFinished(120000));
    QFile csv(out.filePath(QStringLiteral("keep.csv")));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly)) << office.readAllStandardError().toStdString();
    const QStringList lines = QString::fromUtf8(csv.readAll()).split(QStringLiteral("\n"), Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 30);
    for (int r = 0; r < 12; ++r) {
        QStringList cells = lines[r].trimmed().split(QLatin1Char(';')).mid(0, 7);
        for (QString &cell : cells)
            if (cell.size() >= 2 && cell.startsWith(QLatin1Char('"')) && cell.endsWith(QLatin1Char('"')))
                cell = cell.mid(1, cell.size() - 2); // text cells come quoted
        QStringList expected;
        for (int c = 0; c < 7; ++c)
            expected << d.table().Cells(c, r);
        EXPECT_EQ(cells, expected) << r;
    }
    EXPECT_TRUE(lines[0].trimmed().endsWith(QStringLiteral("\"H1 beside\""))) << lines[0].toStdString();
    EXPECT_TRUE(lines[29].startsWith(QStringLiteral("\"A30 below\""))) << lines[29].toStdString();
}

TEST(WorkbookExport, OnTheDiskBeforeItReplacesTheOldFileAndKeepsItsMode)
{
    Books d;
    fillMeeting(*d.f, 5);
    const QString file = d.path(QStringLiteral("ergebnis.xlsx"));
    d.exportTo(file);
    ASSERT_TRUE(QFileInfo(file).isFile());
    // The new workbook is flushed, renamed over the target, and the folder flushed after.
    const QStringList calls = d.fp.files.calls();
    qsizetype rename = 0;
    while (rename < calls.size() && !calls[rename].startsWith(QStringLiteral("rename ")))
        ++rename;
    ASSERT_LT(rename, calls.size());
    const QString temp = calls[rename].split(QLatin1Char(' '))[1];
    EXPECT_EQ(calls[rename], QStringLiteral("rename %1 %2").arg(temp, file));
    const qsizetype dataSynced = calls.indexOf(QStringLiteral("fsync ") + temp);
    EXPECT_GE(dataSynced, 0);
    EXPECT_LT(dataSynced, rename);
    EXPECT_GT(calls.indexOf(QStringLiteral("fsync ") + d.workDir.path(), rename), rename);

    // An existing workbook keeps its permissions.
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0640), 0);
    fillMeeting(*d.f, 6);
    d.exportTo(file);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // A flush that fails is told, and the workbook before stays whole.
    const QByteArray before = [&file] {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    d.fp.files.failure = [](const QString &call) { return call.startsWith(QStringLiteral("fsync ")) ? EIO : 0; };
    fillMeeting(*d.f, 7);
    d.exportTo(file);
    ASSERT_EQ(d.errors().size(), 1);
    QFile after(file);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), before);
    EXPECT_EQ(QDir(d.workDir.path()).entryList({QStringLiteral(".ergebnis*")}, QDir::Files | QDir::Hidden), QStringList());
}
