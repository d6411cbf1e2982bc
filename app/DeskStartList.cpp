// Start-list import: a text file or the first worksheet of a workbook, whose lines or rows have the
// layout of the results table, fills the table row for row; then heat 1 is loaded onto the lanes.

#include "FormMain.h"
#include "Workbook.h"

#include "JournalFile.h"
#include "SortGrid.h"
#include "SpinEdit.h"
#include "TextEncoding.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPushButton>

#include <algorithm>
#include <exception>

namespace {

// The largest start list the desk reads. A meeting holds at most 100 heats of up to ten lanes, a
// block of eleven rows each after the title and date rows: 1,102 rows, a few kilobytes (1,302
// with the twelve lanes a stored setting may give). A file
// far beyond is the wrong file; it is refused before anything reaches the table, so that picking
// it during a race never stalls the desk: the largest list accepted loads in a few milliseconds.
struct StartListLimit {
    static constexpr qint64 Bytes = 2 * 1024 * 1024;
    static constexpr int Rows = 2000;
    // A workbook's parts together, unpacked: a workbook of 2,000 rows takes well under 2 MB.
    static constexpr std::size_t UnpackedBytes = 4 * 1024 * 1024;
};
// Every table a start list makes fits in the meeting journal.
static_assert(StartListLimit::Rows <= results::JournalLimits::Rows);

QString megabytes(qint64 bytes) { return QLocale().toString(double(bytes) / (1024 * 1024), 'f', 1); }

} // namespace

void TFormMain::bOpenClick()
{
    platform::FileDialogRequest request = OpenDialog1.request();
    if (!platform_.dialogs.openFile(this, request))
        return;
    request.fileName = platform::withPickedExtension(request.fileName, OpenDialog1.Filter, request.filterIndex, true);
    OpenDialog1.FileName = request.fileName;
    bOpen->setToolTip(request.fileName);
    // A list loaded while a race is on the desk keeps the heat number, so that the race is entered
    // into the heat it runs for.
    if (!RaceOnDesk())
        seLauf->setValue(1);
    // The kind follows the picked entry.
    const QStringList kinds = platform::filterExtensions(OpenDialog1.Filter, request.filterIndex);
    if (kinds.contains(QLatin1String("txt"))) {
        ImportTextList(request.fileName);
    } else if (kinds.contains(QLatin1String("xlsx"))) {
        try {
            ImportExcelList(request.fileName);
        } catch (const std::exception &e) {
            platform_.dialogs.messageBox(this, QString::fromStdString(e.what()),
                                         QGuiApplication::applicationDisplayName(), platform::MessageButtons::Ok,
                                         platform::MessageIcon::Error);
        }
    } else if (kinds.contains(QLatin1String("evt"))) {
        ImportEvtList(request.fileName);
    }
}

void TFormMain::ImportTextList(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // A real start list is a few kilobytes: anything far beyond is refused before it is read, so
    // that a wrong file picked during a race never stalls the desk or fills its memory.
    if (file.size() > StartListLimit::Bytes) {
        ShowError(QStringLiteral("Die Startliste \"%1\" ist zu groß (%2 MB). Eine Startliste darf höchstens %3 MB "
                                 "groß sein; sie wurde nicht geladen.")
                      .arg(fileName, megabytes(file.size()), megabytes(StartListLimit::Bytes)));
        return;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return;
    const QStringList lines = platform::splitLines(platform::decodeText(bytes));
    if (lines.size() > StartListLimit::Rows) {
        ShowError(QStringLiteral("Die Startliste \"%1\" hat %2 Zeilen. Eine Startliste darf höchstens %3 Zeilen "
                                 "haben (100 Läufe mit je 10 Bahnen brauchen 1102); sie wurde nicht geladen.")
                      .arg(fileName, QString::number(lines.size()), QString::number(StartListLimit::Rows)));
        return;
    }
    // Entered heats that are on no disk are replaced only when the operator says so.
    if (!KeepJournalBeforeImport())
        return;
    meeting::Record &table = Model.recordToWrite();
    if (lines.size() > table.rowCount())
        table.setRowCount(static_cast<int>(lines.size()));
    for (int i = 0; i < lines.size(); ++i) {
        // Fields are split at TABs when the line has one, else at semicolons; quotes mean nothing.
        // They fill the row's cells from the first on, an empty field as one blank; a NUL ends
        // the line, fields beyond the seventh are left out.
        QString line = lines[i];
        if (const qsizetype nul = line.indexOf(QChar(0)); nul >= 0)
            line.truncate(nul);
        const QChar separator = line.contains(QLatin1Char('\t')) ? QLatin1Char('\t') : QLatin1Char(';');
        line.replace(separator, QLatin1Char('\n'));
        meeting::Row row;
        std::size_t next = 0;
        for (const QString &field : platform::splitLines(line)) {
            if (next == row.size())
                break;
            row[next++] = field.isEmpty() ? QStringLiteral(" ") : field;
        }
        table.setRow(i, row);
    }
    ShowTable();
    BeginStartListMeeting();
}

void TFormMain::ImportExcelList(const QString &fileName)
{
    // 1. The spreadsheet application; without it the error goes straight to the caller.
    const std::unique_ptr<platform::SpreadsheetApplication> excel =
        platform_.spreadsheet.createObject(QStringLiteral("Excel.Application"));
    // 2. Whatever happens from here on, the application quits and the columns fit their texts.
    std::exception_ptr failure;
    try {
        // 3. No code stored in the workbook runs.
        excel->setEnableEvents(false);
        const QFileInfo info(fileName);
        if (info.isFile() && info.size() > StartListLimit::Bytes)
            throw platform::WorkbookError(
                QStringLiteral("Die Startliste \"%1\" ist zu groß (%2 MB). Eine Startliste darf höchstens %3 MB groß sein.")
                    .arg(fileName, megabytes(info.size()), megabytes(StartListLimit::Bytes)));
        // 4., 5. The workbook, its first worksheet and the rows it can hold.
        platform::Workbook &book = excel->workbooks().open(fileName, StartListLimit::UnpackedBytes);
        platform::Worksheet &sheet = book.worksheet(1);
        const int count = sheet.rowCount();
        // The list ends before the first row whose column A is empty: only its rows count, and
        // only they are read. Whatever stands beyond them or beside column G is never looked at.
        const int listRows = sheet.leadingFilledRows(1);
        if (listRows > StartListLimit::Rows)
            throw platform::WorkbookError(
                QStringLiteral("Die Startliste \"%1\" hat %2 Zeilen. Eine Startliste darf höchstens %3 Zeilen "
                               "haben (100 Läufe mit je 10 Bahnen brauchen 1102).")
                    .arg(fileName, QString::number(listRows), QString::number(StartListLimit::Rows)));
        // 6. Columns A to G of the list's rows, in one read.
        const platform::CellBlock values = sheet.rangeValue({1, 1}, {std::max(listRows, 1), 7});
        // 7. The list ends before the first row whose column A is empty.
        int n = 0;
        while (n < std::min(count, listRows) && !platform::cellText(values.at(n + 1, 1)).isEmpty())
            ++n;
        // 8. The table takes exactly the list's rows; entered heats that are on no disk are
        // replaced only when the operator says so.
        if (KeepJournalBeforeImport()) {
            meeting::Record &table = Model.recordToWrite();
            table.setRowCount(n);
            for (int r = 1; r <= n; ++r) {
                meeting::Row row;
                for (int c = 1; c <= 7; ++c)
                    row[static_cast<std::size_t>(c - 1)] = platform::cellText(values.at(r, c));
                table.setRow(r - 1, row);
            }
            ShowTable();
            BeginStartListMeeting();
        }
    } catch (...) {
        failure = std::current_exception();
    }
    // 9. Quit discards the workbook unsaved.
    excel->quit();
    SortGrid1->AutoSizeColumns(false);
    if (failure)
        std::rethrow_exception(failure);
}
