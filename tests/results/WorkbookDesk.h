#pragma once
// The desk with workbook start lists and exports: a fixture that answers the open and save dialogs
// with files in its own temporary folder, and helpers that write workbooks.

#include "DeskFixture.h"

#include "SortGrid.h"
#include "Workbook.h"

#include <QAction>
#include <QFile>

#include <gtest/gtest.h>
#include <zip.h>

namespace {

inline QString dataFile(const char *name) { return QStringLiteral(ZK_TEST_DATA "/") + QLatin1String(name); }

struct Books : Desk {
    TFormMain *f;
    explicit Books(int lanes = 2)
    {
        key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 0}, {"Port2", 0},
                 {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 2}, {"Monitor", 0}, {"Title", "T"},
                 {"LineCount", lanes}, {"Accuracy", 2}};
        f = &create();
    }
    QString path(const QString &name) const { return QDir(workDir.path()).filePath(name); }
    void choose(const QString &file, int type)
    {
        fp.dialogs.fileAnswers.push_back([file, type](platform::FileDialogRequest &r) {
            r.fileName = file;
            r.filterIndex = type;
            return true;
        });
    }
    void importList(const QString &file)
    {
        choose(file, 2);
        f->mStartList->trigger();
    }
    void exportTo(const QString &file, int type = 2)
    {
        choose(file, type);
        f->mExport->trigger();
    }
    TSortGrid &table() { return *f->SortGrid1; }
    QList<QStringList> rows()
    {
        QList<QStringList> out;
        for (int r = 0; r < table().RowCount(); ++r)
            out << table().Rows(r).Text().split(QStringLiteral("\r\n")).mid(0, 7);
        return out;
    }
    // Writes a workbook with the engine: the given texts from A1 on.
    void makeWorkbook(const QString &file, const QList<QStringList> &texts, int firstRow = 1)
    {
        platform::SpreadsheetApplication app;
        platform::Workbook &book = app.workbooks().add();
        const int n = static_cast<int>(texts.size());
        platform::CellBlock block(n, 7);
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < texts[r].size(); ++c)
                block.set(r + 1, c + 1, platform::CellValue::fromText(texts[r][c]));
        book.worksheet(1).setRangeValue({firstRow, 1}, {firstRow + n - 1, 7}, block);
        book.saveAs(file);
    }
    QStringList errors() const
    {
        QStringList out;
        for (const fake::MessageCall &m : fp.dialogs.messages)
            if (m.icon == platform::MessageIcon::Error)
                out << m.text;
        return out;
    }
};

inline void writeOds(const QString &path, const std::string &rows, const std::string &prolog = {}, int level = 0)
{
    const std::string content = prolog +
        R"(<office:document-content xmlns:office="o" xmlns:table="t" xmlns:text="x"><office:body><office:spreadsheet>)"
        R"(<table:table>)" + rows + R"(</table:table></office:spreadsheet></office:body></office:document-content>)";
    int error = 0;
    zip_t *z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(z, nullptr);
    const zip_int64_t index = zip_file_add(z, "content.xml", zip_source_buffer(z, content.data(), content.size(), 0), 0);
    if (level > 0)
        zip_set_file_compression(z, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, static_cast<zip_uint32_t>(level));
    ASSERT_EQ(zip_close(z), 0);
}

// A table of a few rows and one whose lane rows have other texts, for unchanged-table checks.
inline void fillTable(TFormMain &f, int rows)
{
    meeting::Record &t = f.Model.recordToWrite();
    t.setRowCount(rows);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < 7; ++c)
            if ((r + c) % 3 != 0)
                t.setCell(c, r, QStringLiteral("r%1c%2").arg(r).arg(c));
    f.ShowTable();
}

} // namespace
