// Start-list import: a text file whose lines have the layout of the results table fills the table
// row for row; then heat 1 is loaded onto the lanes.

#include "FormMain.h"

#include "SortGrid.h"
#include "SpinEdit.h"
#include "TextEncoding.h"

#include <QFile>
#include <QPushButton>

void TFormMain::bOpenClick()
{
    platform::FileDialogRequest request = OpenDialog1.request();
    if (!platform_.dialogs.openFile(this, request))
        return;
    OpenDialog1.FileName = request.fileName;
    bOpen->setToolTip(request.fileName);
    seLauf->setValue(1);
    if (request.filterIndex == 1)
        ImportTextList(request.fileName);
    // Index 2, the workbook, is offered only where a workbook engine is present.
}

void TFormMain::ImportTextList(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return;
    const QStringList lines = platform::splitLines(platform::decodeText(bytes));
    TSortGrid *table = SortGrid1;
    for (int i = 0; i < lines.size(); ++i) {
        if (i >= table->RowCount())
            table->setRowCount(i + 1);
        // Fields are split at TABs when the line has one, else at semicolons; quotes mean nothing.
        QString line = lines[i];
        const QChar separator = line.contains(QLatin1Char('\t')) ? QLatin1Char('\t') : QLatin1Char(';');
        line.replace(separator, QLatin1Char('\n'));
        table->Rows(i).setText(line);
    }
    // A start list begins a meeting: no heat of it has been entered yet.
    EnteredHeats.clear();
    LastEnteredHeat = 0;
    WriteJournal();
    seLaufChange();
}
