// Export of the results table: tab-separated text or semicolon-separated CSV.

#include "FormMain.h"

#include "SortGrid.h"
#include "TextEncoding.h"

#include <QFile>
#include <QGuiApplication>

#include <stdexcept>

namespace {

// The file pattern of the picked entry of a filter "A (*.txt)|*.txt|B (*.csv)|*.csv|".
QString patternOf(const QString &filter, int index)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    const int at = 2 * (index - 1) + 1;
    return index >= 1 && at < parts.size() ? parts[at].trimmed().toLower() : QString();
}

} // namespace

void TFormMain::bSaveClick()
{
    platform::FileDialogRequest request = SaveDialog1.request();
    if (!platform_.dialogs.saveFile(this, request))
        return;
    SaveDialog1.FileName = request.fileName;
    SaveDialog1.FilterIndex = request.filterIndex;
    // The kind follows the picked entry, not its place in the list.
    const QString pattern = patternOf(SaveDialog1.Filter, request.filterIndex);
    try {
        if (pattern == QLatin1String("*.csv"))
            SortGrid1->SaveToCSV(request.fileName);
        else if (pattern == QLatin1String("*.txt"))
            ExportTextFile(request.fileName);
    } catch (const std::exception &e) {
        ShowError(QString::fromStdString(e.what()));
    }
}

void TFormMain::ExportTextFile(const QString &fileName)
{
    // Every row whose first cell is filled, each cell followed by a TAB (an empty cell as one
    // blank), each row ended by CR LF. The title needs no line of its own: row 0 holds it.
    const TSortGrid *table = SortGrid1;
    QString content;
    for (int r = 0; r < table->RowCount(); ++r) {
        if (table->Cells(0, r).isEmpty())
            continue;
        for (int c = 0; c < table->ColCount(); ++c) {
            const QString text = table->Cells(c, r);
            content += text.isEmpty() ? QStringLiteral(" ") : text;
            content += QLatin1Char('\t');
        }
        content += QStringLiteral("\r\n");
    }
    const QByteArray bytes = platform::encodeText(content);
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error(QStringLiteral("Die Datei \"%1\" kann nicht erstellt werden: %2")
                                     .arg(fileName, file.errorString())
                                     .toStdString());
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw std::runtime_error(QStringLiteral("Fehler beim Schreiben von \"%1\": %2")
                                     .arg(fileName, file.errorString())
                                     .toStdString());
}
