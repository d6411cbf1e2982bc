// The grid's cell store, row views, size changes, auto-sizing and the semicolon-separated writer.

#include "FakePlatform.h"
#include "SortGrid.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

#include <malloc.h>

namespace {

struct Grid {
    fake::Dialogs dialogs;
    TSortGrid g;
    Grid(int cols = 7, int rows = 13)
    {
        g.setDialogs(&dialogs);
        g.setColCount(cols);
        g.setRowCount(rows);
        dialogs.messages.clear();
    }
};

QByteArray readAll(const QString &file)
{
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

} // namespace

TEST(GridStore, CellsAreKeptWhateverTheCounts)
{
    Grid t;
    TSortGrid &g = t.g;
    EXPECT_EQ(g.Cells(3, 7), QString());
    g.setCells(3, 7, QStringLiteral("x"));
    g.setCells(3, 7, QString());
    EXPECT_EQ(g.Cells(3, 7), QString());
    EXPECT_EQ(g.store().cellCount(), 0u);

    g.setCells(2, 20, QStringLiteral("beyond"));
    EXPECT_EQ(g.RowCount(), 13);
    EXPECT_EQ(g.Cells(2, 20), QStringLiteral("beyond"));
    g.setRowCount(21);
    EXPECT_EQ(g.Cells(2, 20), QStringLiteral("beyond"));

    for (int r = 10; r < 20; ++r)
        g.setCells(0, r, QString::number(r));
    g.setRowCount(10);
    g.setRowCount(20);
    for (int r = 10; r < 20; ++r)
        EXPECT_EQ(g.Cells(0, r), QString::number(r));

    EXPECT_THROW(g.Cells(-1, 0), EListError);
    try {
        g.setCells(0, -3, QStringLiteral("x"));
        FAIL();
    } catch (const EListError &e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (-3)");
    }
    // Memory grows with the cells written: a cell at row 100000 does not cost 100000 rows.
    g.setCells(6, 100000, QStringLiteral("far"));
    EXPECT_LT(g.store().overheadBytes(), 200000u);
}

TEST(GridStore, FarRowsCostAsLittleAsNearOnes)
{
    Grid t;
    TSortGrid &g = t.g;
    const std::size_t heapBefore = mallinfo2().uordblks;
    g.setCells(1, 100000000, QStringLiteral("far"));
    g.setCells(2, std::numeric_limits<int>::max(), QStringLiteral("last"));
    // Two rows, each with its page and section: a few kilobytes, not a table of the row index.
    EXPECT_LT(g.store().overheadBytes(), 16u * 1024u);
    EXPECT_LT(mallinfo2().uordblks - heapBefore, 64u * 1024u);
    EXPECT_EQ(g.Cells(1, 100000000), QStringLiteral("far"));
    EXPECT_EQ(g.Cells(2, std::numeric_limits<int>::max()), QStringLiteral("last"));
    EXPECT_EQ(g.Cells(1, 99999999), QString());
    EXPECT_EQ(g.Cells(1, 100000001), QString());

    // Rows written out of order, near and far, keep their places.
    for (int r : {5000, 3, 70000, 4096, 4095, 1 << 20, 12})
        g.setCells(0, r, QString::number(r));
    for (int r : {3, 12, 4095, 4096, 5000, 70000, 1 << 20})
        EXPECT_EQ(g.Cells(0, r), QString::number(r));
    EXPECT_EQ(g.store().cellCount(), 9u);
    g.Cols(0).Clear();
    EXPECT_EQ(g.store().cellCount(), 2u);
    g.Rows(100000000).Clear();
    EXPECT_EQ(g.Cells(1, 100000000), QString());
    EXPECT_EQ(g.store().cellCount(), 1u);
}

TEST(GridStore, RowViewsTextAddAndAssign)
{
    Grid t(4, 5);
    TSortGrid &g = t.g;
    g.setCells(5, 2, QStringLiteral("past the columns"));
    g.Rows(2).setText(QStringLiteral("a\n\nb"));
    EXPECT_EQ(g.Cells(0, 2), QStringLiteral("a"));
    EXPECT_EQ(g.Cells(1, 2), QStringLiteral(" "));
    EXPECT_EQ(g.Cells(2, 2), QStringLiteral("b"));
    EXPECT_EQ(g.Cells(3, 2), QString());
    EXPECT_EQ(g.Cells(5, 2), QString()); // the clear takes every stored cell of the row

    g.Rows(2).setText(QStringLiteral("a\r\nb\n"));
    EXPECT_EQ(g.Cells(1, 2), QStringLiteral("b"));
    EXPECT_EQ(g.Cells(2, 2), QString());
    g.Rows(2).setText(QStringLiteral("1\r2\n3\r\n4\n5\n6"));
    EXPECT_EQ(g.Cells(3, 2), QStringLiteral("4"));
    EXPECT_EQ(g.Cells(4, 2), QString()); // surplus lines dropped
    g.Rows(2).setText(QStringLiteral("x") + QChar(0) + QStringLiteral("\ny"));
    EXPECT_EQ(g.Cells(0, 2), QStringLiteral("x"));
    EXPECT_EQ(g.Cells(1, 2), QString()); // the NUL ended the text

    EXPECT_EQ(g.Rows(3).Add(QString()), 0);
    EXPECT_EQ(g.Cells(0, 3), QStringLiteral(" "));
    g.Rows(3).Assign(QStringList{"p", "q"});
    EXPECT_EQ(g.Cells(0, 3), QStringLiteral("p"));
    EXPECT_EQ(g.Cells(1, 3), QStringLiteral("q"));
    g.Rows(4).Assign(g.Rows(3));
    EXPECT_EQ(g.Cells(1, 4), QStringLiteral("q"));
    EXPECT_EQ(g.Cols(1).Count(), 5);
    EXPECT_EQ(g.Cols(1).Get(4), QStringLiteral("q"));
    EXPECT_THROW(g.Rows(1).Insert(0, QStringLiteral("x")), EListError);
    try {
        g.Cols(1).Delete(0);
        FAIL();
    } catch (const EListError &e) {
        EXPECT_STREQ(e.what(), "Cannot insert or delete rows from grid");
    }
    EXPECT_EQ(&g.Rows(3), &g.Rows(3)); // views are kept
}

TEST(GridSize, ChangesAndTheirFollowUp)
{
    Grid t(7, 13);
    TSortGrid &g = t.g;
    int modified = 0, sizeChanges = 0, oldRows = -1;
    g.OnModified = [&](TSortGrid *) { ++modified; };
    g.OnSizeChanged = [&](TSortGrid *, int, int rows) {
        ++sizeChanges;
        oldRows = rows;
    };
    g.setModified(false);
    modified = 0;
    g.setRowCount(13);
    EXPECT_EQ(sizeChanges, 0);
    g.setRowCount(20);
    EXPECT_EQ(sizeChanges, 1);
    EXPECT_EQ(oldRows, 13);
    EXPECT_TRUE(g.Modified());
    EXPECT_EQ(modified, 1);
    EXPECT_EQ(g.Col(), 0);
    EXPECT_EQ(g.Row(), 1);
    EXPECT_EQ(g.RowHeights(19), 24);

    g.setRowCount(0);
    EXPECT_EQ(g.RowCount(), 1);
    EXPECT_EQ(g.FixedRows(), 0);
    ASSERT_EQ(t.dialogs.messages.size(), 1);
    EXPECT_EQ(t.dialogs.messages[0].text, QStringLiteral("Rowsize too small"));
    EXPECT_EQ(t.dialogs.messages[0].icon, platform::MessageIcon::None);
    EXPECT_EQ(t.dialogs.messages[0].buttons, platform::MessageButtons::Ok);
    g.setRowCount(0); // again: the change runs again
    EXPECT_EQ(t.dialogs.messages.size(), 2);
    g.setRowCount(1); // equal: nothing
    EXPECT_EQ(t.dialogs.messages.size(), 2);

    // Inside the update bracket the counts change at once and the rest waits; brackets nest.
    const int before = sizeChanges;
    g.BeginUpdate();
    g.BeginUpdate();
    EXPECT_TRUE(g.NowUpdating());
    g.setRowCount(30);
    EXPECT_EQ(g.RowCount(), 30);
    EXPECT_EQ(sizeChanges, before);
    g.EndUpdate();
    EXPECT_TRUE(g.NowUpdating());
    g.EndUpdate();
    EXPECT_FALSE(g.NowUpdating());
    g.EndUpdate(); // one too many: nothing
    EXPECT_FALSE(g.NowUpdating());
    EXPECT_EQ(g.RowHeights(29), 24);
    EXPECT_EQ(g.RowFormats().size(), 30u);
}

TEST(GridSize, AFailingFollowUpRestoresTheOldCounts)
{
    Grid t(7, 13);
    TSortGrid &g = t.g;
    bool fail = true;
    g.OnSizeChanged = [&](TSortGrid *, int, int) {
        if (fail) {
            fail = false;
            throw std::runtime_error("refused");
        }
    };
    EXPECT_THROW(g.setRowCount(40), std::runtime_error);
    EXPECT_EQ(g.RowCount(), 13);
    EXPECT_EQ(g.RowFormats().size(), 13u);
}

TEST(GridGeometry, ErrorsAndNavigation)
{
    Grid t(7, 13);
    TSortGrid &g = t.g;
    EXPECT_THROW(g.setColWidths(7, 10), EGridError);
    EXPECT_THROW(g.setFixedCols(-1), EGridError);
    try {
        g.setFixedCols(7);
        FAIL();
    } catch (const EGridError &e) {
        EXPECT_STREQ(e.what(), "Fixed column count must be less than column count");
    }
    g.GotoCell(99, 99, true);
    EXPECT_EQ(g.Col(), 6);
    EXPECT_EQ(g.Row(), 12);
    EXPECT_EQ(g.SelectedRows(), std::vector<int>{12});
    g.GotoCell(-5, -5, false);
    EXPECT_EQ(g.Col(), 0);
    EXPECT_EQ(g.Row(), 1);
    g.setCells(2, 5, QStringLiteral("x"));
    EXPECT_FALSE(g.IsRowEmpty(5));
    g.setCells(8, 6, QStringLiteral("beyond the columns"));
    EXPECT_TRUE(g.IsRowEmpty(6));
    g.ScrollToCell(0, 12);
    EXPECT_GE(g.TopRow(), 1);
    EXPECT_LE(g.TopRow(), 11);
}

TEST(GridAutoSize, HiddenAndEmptyColumns)
{
    Grid t(3, 4);
    TSortGrid &g = t.g;
    g.setColWidths(1, -1);
    g.setCells(0, 0, QStringLiteral("Lauf"));
    g.setCells(0, 2, QStringLiteral("Wilhelmine Musterfrau"));
    int changes = 0;
    g.OnColumnWidthsChanged = [&](TSortGrid *) { ++changes; };
    g.AutoSizeColumns(false);
    const QFontMetrics fm(g.font());
    EXPECT_EQ(g.ColWidths(0), fm.horizontalAdvance(QLatin1Char('X')) + fm.horizontalAdvance(QStringLiteral("Wilhelmine Musterfrau")));
    EXPECT_EQ(g.ColWidths(1), -1);
    EXPECT_EQ(g.ColWidths(2), fm.horizontalAdvance(QStringLiteral("xx")));
    EXPECT_EQ(changes, 2);
    EXPECT_FALSE(g.NowUpdating());
    g.AutoSizeCol(1, true);
    EXPECT_EQ(g.ColWidths(1), fm.horizontalAdvance(QStringLiteral("xx")));
}

TEST(GridCsv, WritesEveryCellUnquotedInTheCodePage)
{
    QTemporaryDir dir;
    Grid t(2, 2);
    TSortGrid &g = t.g;
    g.setCells(0, 0, QStringLiteral("a"));
    g.setCells(1, 1, QStringLiteral("x;y"));
    g.setCells(1, 5, QStringLiteral("beyond"));
    const QString file = dir.filePath(QStringLiteral("t.csv"));
    g.SaveToCSV(file);
    EXPECT_EQ(readAll(file), QByteArray("a;\r\n;x;y\r\n"));

    g.setCells(0, 1, QString::fromUtf8("Jürgen \"Jo\" Groß"));
    g.SaveToCSV(file);
    EXPECT_EQ(readAll(file), QByteArray("a;\r\nJ\xfcrgen \"Jo\" Gro\xdf;x;y\r\n"));
    g.setCells(0, 1, QString::fromUtf8("Łukasz"));
    g.SaveToCSV(file);
    EXPECT_EQ(readAll(file), QString::fromUtf8("a;\r\nŁukasz;x;y\r\n").toUtf8()); // no name is lost
    EXPECT_TRUE(t.dialogs.messages.isEmpty());

    const QString missing = dir.filePath(QStringLiteral("no/such/folder/t.csv"));
    g.SaveToCSV(missing);
    ASSERT_EQ(t.dialogs.messages.size(), 1);
    EXPECT_EQ(t.dialogs.messages[0].text, QStringLiteral("Can't write to file:\r") + missing);
    EXPECT_EQ(t.dialogs.messages[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(t.dialogs.messages[0].icon, platform::MessageIcon::Error);
    EXPECT_FALSE(QFile::exists(missing));

    Grid wide(7, 20);
    const QString table = dir.filePath(QStringLiteral("table.csv"));
    wide.g.SaveToCSV(table);
    const QByteArray bytes = readAll(table);
    EXPECT_EQ(bytes.count("\r\n"), 20);
    EXPECT_EQ(bytes.count(';'), 20 * 6);
}
