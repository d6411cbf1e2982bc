// Export of the results table: tab-separated text, a workbook (.xlsx), semicolon-separated CSV, or
// one result file a heat for meet-management programs (.lif), or the results lists as a PDF document.

#include "FormMain.h"
#include "Workbook.h"

#include "AtomicFile.h"
#include "ResultsList.h"
#include "ResultsSheet.h"
#include "SortGrid.h"
#include "TableFiles.h"
#include "SpinEdit.h"
#include "TextEncoding.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScopeGuard>

#include <exception>
#include <stdexcept>

namespace {

// Through a temporary file beside it: a full disk or a crash never leaves a half-written results
// file in place of the old one. An existing file keeps its permissions.
void writeExport(const QString &fileName, const QByteArray &bytes, platform::FileCalls &files)
{
    QString error;
    if (!platform::writeFileAtomically(fileName, bytes, &error, platform::FileMode::AsBefore, files))
        throw std::runtime_error(QStringLiteral("Die Datei \"%1\" kann nicht geschrieben werden: %2")
                                     .arg(fileName, error)
                                     .toStdString());
}

} // namespace

void TFormMain::bSaveClick()
{
    if (DrawingLists)
        return;
    platform::FileDialogRequest request = SaveDialog1.request();
    if (!platform_.dialogs.saveFile(this, request))
        return;
    request.fileName = platform::withPickedExtension(request.fileName, SaveDialog1.Filter, request.filterIndex, false);
    SaveDialog1.FileName = request.fileName;
    SaveDialog1.FilterIndex = request.filterIndex;
    // The kind follows the picked entry, not its place in the list.
    const QStringList kinds = platform::filterExtensions(SaveDialog1.Filter, request.filterIndex);
    try {
        if (kinds.contains(QLatin1String("csv")))
            ExportCsvFile(request.fileName);
        else if (kinds.contains(QLatin1String("txt")))
            ExportTextFile(request.fileName);
        else if (kinds.contains(QLatin1String("xlsx")))
            ExportExcelFile(request.fileName);
        else if (kinds.contains(QLatin1String("lif")))
            ExportLifFiles(QFileInfo(request.fileName).absolutePath()); // one file a heat, into the folder
        else if (kinds.contains(QLatin1String("pdf")))
            ExportPdfFile(request.fileName);
    } catch (const std::exception &e) {
        ShowError(QString::fromStdString(e.what()));
    }
}

void TFormMain::ExportTextFile(const QString &fileName)
{
    writeExport(fileName, results::textExportOf(Model.record()), platform_.files);
}

void TFormMain::ExportCsvFile(const QString &fileName)
{
    // As the results table writes itself: its own message where the file cannot be written. Written
    // like every other export, through a temporary file renamed over the old one, so that a full disk
    // never leaves a file cut short in place of the one there was.
    const QByteArray bytes = results::csvExportOf(Model.record());
    if (!platform::writeFileAtomically(fileName, bytes, nullptr, platform::FileMode::AsBefore, platform_.files))
        platform_.dialogs.messageBox(this, QStringLiteral("Can't write to file:\r") + fileName, QStringLiteral("Error"),
                                     platform::MessageButtons::Ok, platform::MessageIcon::Error);
}

void TFormMain::ExportPdfFile(const QString &fileName)
{
    // Every entered heat, then the rankings across heats; never an empty document.
    const results::ResultsDocument document = ResultsOfMeeting();
    if (document.heats.empty()) {
        ShowNoResults();
        return;
    }
    // A whole meeting takes a tenth of a second and more: it is drawn page by page with the desk's
    // events in between, so that a race goes on meanwhile. The lists' commands wait for it.
    DrawingLists = true;
    const auto drawn = qScopeGuard([this] { DrawingLists = false; });
    const QByteArray pdf = results::resultsPdf(document, QDateTime::currentDateTime(),
                                               [] { QCoreApplication::processEvents(); });
    writeExport(fileName, pdf, platform_.files);
}

void TFormMain::ExportExcelFile(const QString &fileName)
{
    // 1. The spreadsheet application; without it the error goes straight to the caller.
    const std::unique_ptr<platform::SpreadsheetApplication> excel =
        platform_.spreadsheet.createObject(QStringLiteral("Excel.Application"));
    // 2. Whatever happens from here on, the application quits at the end.
    std::exception_ptr failure;
    try {
        // 3. No code stored in the workbook runs.
        excel->setEnableEvents(false);
        // 4. The existing workbook, or a new one where there is no file yet. A legacy or
        // OpenDocument workbook can only be read, and a file that is no workbook is never replaced.
        const QFileInfo target(fileName);
        const QString suffix = target.suffix().toLower();
        if (suffix == QLatin1String("xls") || suffix == QLatin1String("ods"))
            throw platform::WorkbookError(
                QStringLiteral("In die Datei \"%1\" kann nicht exportiert werden: Arbeitsmappen im Format .%2 werden "
                               "nur gelesen. Bitte als Excel-Arbeitsmappe (.xlsx) exportieren.")
                    .arg(fileName, suffix));
        platform::Workbook *book = nullptr;
        try {
            book = &excel->workbooks().open(fileName, platform::WorkbookLimits::MaxUnpackedBytes,
                                            platform::OpenFor::Writing);
        } catch (const std::exception &e) {
            if (target.exists())
                throw platform::WorkbookError(QString::fromStdString(e.what())
                                              + QStringLiteral("\nDie Datei wird nicht überschrieben."));
            book = &excel->workbooks().add();
        }
        if (!book->isWritable())
            throw platform::WorkbookError(
                QStringLiteral("In die Arbeitsmappe \"%1\" kann nicht exportiert werden: ihr Format wird nur gelesen. "
                               "Bitte als Excel-Arbeitsmappe (.xlsx) exportieren.")
                    .arg(fileName));
        try {
            // 5. Every cell of the table as text, and one more, empty row.
            const std::vector<meeting::Row> table = results::rowsOf(Model.record());
            const int rows = static_cast<int>(table.size());
            const int cols = meeting::kColumns;
            platform::CellBlock values(rows + 1, cols);
            for (int r = 1; r <= rows; ++r)
                for (int c = 1; c <= cols; ++c)
                    values.set(r, c, platform::CellValue::fromText(table[static_cast<std::size_t>(r - 1)][static_cast<std::size_t>(c - 1)]));
            // 6. One write from A1 on; the cells outside the block stay.
            book->worksheet(1).setRangeValue({1, 1}, {rows + 1, cols}, values);
            // 7. Saved under the chosen name.
            if (!fileName.isEmpty())
                book->saveAs(fileName, platform_.files);
        } catch (...) {
            throw std::runtime_error(QStringLiteral("Error lauf Nr.%1").arg(seLauf->Value()).toStdString());
        }
    } catch (...) {
        failure = std::current_exception();
    }
    // 8.
    excel->quit();
    if (failure)
        std::rethrow_exception(failure);
}
