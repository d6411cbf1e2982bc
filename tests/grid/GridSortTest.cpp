// Sorting and filtering of the grid.

#include "FakePlatform.h"
#include "SortGrid.h"

#include <QApplication>

#include <gtest/gtest.h>

namespace {

// A grid whose column 0 holds the given texts in rows 1.., column 1 the original row number.
struct Sorted {
    fake::Dialogs dialogs;
    TSortGrid g;
    explicit Sorted(const QStringList &texts, int cols = 2)
    {
        g.setDialogs(&dialogs);
        g.setColCount(cols);
        g.setRowCount(static_cast<int>(texts.size()) + 1);
        g.setCells(0, 0, QStringLiteral("Kopf"));
        for (int i = 0; i < texts.size(); ++i) {
            g.setCells(0, i + 1, texts[i]);
            g.setCells(1, i + 1, QString::number(i + 1));
        }
    }
    QStringList column(int c) const
    {
        QStringList out;
        for (int r = 1; r < g.RowCount(); ++r)
            out << g.Cells(c, r);
        return out;
    }
};

} // namespace

TEST(GridSort, AutomaticStyleDetectsGermanNumbersAndFallsBackToText)
{
    Sorted s({"10,5", "9", "11"});
    s.g.SortOptions.SortStyle = ssAutomatic;
    s.g.SortByColumn(0);
    EXPECT_EQ(s.g.SortOptions.SortStyle, ssNumeric);
    EXPECT_EQ(s.column(0), (QStringList{"9", "10,5", "11"}));
    EXPECT_EQ(s.g.Cells(0, 0), QStringLiteral("Kopf")); // row 0 never moves

    Sorted t({"10,5", "9", "", "11"});
    t.g.SortOptions.SortStyle = ssAutomatic;
    t.g.SortByColumn(0);
    EXPECT_EQ(t.g.SortOptions.SortStyle, ssNormal);
    EXPECT_EQ(t.column(0), (QStringList{"", "10,5", "11", "9"}));
}

TEST(GridSort, StableInBothDirections)
{
    Sorted s({"b", "a", "b", "a"});
    s.g.SortByColumn(0);
    EXPECT_EQ(s.column(1), (QStringList{"2", "4", "1", "3"}));
    Sorted d({"b", "a", "b", "a"});
    d.g.SortOptions.SortDirection = sdDescending;
    d.g.SortByColumn(0);
    EXPECT_EQ(d.column(1), (QStringList{"1", "3", "2", "4"}));
}

TEST(GridSort, CaseFoldingOfAToZOnlyAndBytesAboveAscii)
{
    Sorted s({"zebra", "Apfel", QString::fromUtf8("Äpfel"), "apfel"});
    s.g.SortByColumn(0);
    EXPECT_EQ(s.column(0), (QStringList{"Apfel", "apfel", "zebra", QString::fromUtf8("Äpfel")}));
    Sorted c({"zebra", "apfel", QString::fromUtf8("Äpfel"), "Apfel"});
    c.g.SortOptions.SortCaseSensitive = true;
    c.g.SortByColumn(0);
    EXPECT_EQ(c.column(0), (QStringList{"Apfel", "apfel", "zebra", QString::fromUtf8("Äpfel")}));
    EXPECT_EQ(c.g.Cells(0, 1), QStringLiteral("Apfel")); // the cells keep their case
}

TEST(GridSort, ExtendedNumericComparison)
{
    Sorted s({"Lauf 10", "Lauf 9", "10 m", "9 m", "A12", "A9"});
    s.g.SortOptions.SortStyle = ssNumericExtended;
    s.g.SortByColumn(0);
    const QStringList order = s.column(0);
    EXPECT_LT(order.indexOf("Lauf 9"), order.indexOf("Lauf 10"));
    EXPECT_LT(order.indexOf("9 m"), order.indexOf("10 m"));
    EXPECT_LT(order.indexOf("A9"), order.indexOf("A12"));
    using gridsort::extendedNumericCompare;
    EXPECT_EQ(extendedNumericCompare(QString(), QString()), 0);
    EXPECT_LT(extendedNumericCompare(QString(), QStringLiteral("1")), 0);
    EXPECT_GT(extendedNumericCompare(QStringLiteral("1"), QString()), 0);
    EXPECT_LT(extendedNumericCompare(QStringLiteral("07"), QStringLiteral("7")), 0);
    EXPECT_GT(extendedNumericCompare(QStringLiteral("7"), QStringLiteral("07")), 0);
    EXPECT_EQ(extendedNumericCompare(QStringLiteral("x"), QStringLiteral("x")), 0);
}

TEST(GridSort, SecondaryIndexSelectionAndNotifications)
{
    TSortGrid g;
    g.setColCount(4);
    g.setRowCount(5);
    const char *rows[4][4] = {{"x", "b", "1", "3"}, {"x", "a", "2", "9"}, {"x", "b", "3", "1"}, {"x", "a", "4", "2"}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            g.setCells(c, r + 1, QString::fromLatin1(rows[r][c]));
    g.setCells(5, 1, QStringLiteral("stays in row 1"));
    g.GotoCell(0, 2, false); // row 2 ("a", 2) selected
    g.SortOptions.SecondaryIndex = QStringLiteral("3,1");
    int before = -1, after = -1;
    g.OnBeforeSort = [&](TSortGrid *, int &col) { before = col; };
    g.OnAfterSort = [&](TSortGrid *, int col) { after = col; };
    g.SortOptions.Compare = [](const QString &, const QString &) { return 0; };
    g.SortByColumn(1);
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);
    QStringList order;
    for (int r = 1; r <= 4; ++r)
        order << g.Cells(2, r);
    EXPECT_EQ(order, (QStringList{"4", "2", "3", "1"})); // by column 1, then column 3
    EXPECT_EQ(g.Row(), 2);                                // the selected row moved along
    EXPECT_EQ(g.SelectedRows(), std::vector<int>{2});
    EXPECT_EQ(g.Cells(2, 2), QStringLiteral("2"));
    EXPECT_EQ(g.Cells(5, 1), QStringLiteral("stays in row 1")); // beyond the columns
    EXPECT_FALSE(g.SortOptions.Compare);                         // cleared after the sort
    EXPECT_FALSE(g.NowUpdating());
}

TEST(GridSort, FailuresAndSwitchedOff)
{
    Sorted s({"b", "a"});
    s.g.SortOptions.SecondaryIndex = QStringLiteral("x");
    EXPECT_THROW(s.g.SortByColumn(0), EConvertError);
    EXPECT_FALSE(s.g.NowUpdating());
    EXPECT_EQ(s.column(0), (QStringList{"b", "a"}));
    s.g.SortOptions.SecondaryIndex.clear();
    EXPECT_THROW(s.g.SortByColumn(5), EListError);
    EXPECT_EQ(s.column(0), (QStringList{"b", "a"}));

    Sorted off({"b", "a"});
    off.g.SortOptions.CanSort = false;
    off.g.SortOptions.SortCol = 1;
    off.g.SortByColumn(0);
    EXPECT_EQ(off.g.SortOptions.SortCol, 1);
    EXPECT_EQ(off.column(0), (QStringList{"b", "a"}));

    Sorted custom({"b", "c", "a"});
    custom.g.SortOptions.SortStyle = ssCustom; // without a function: byte-wise
    custom.g.SortByColumn(0);
    EXPECT_EQ(custom.column(0), (QStringList{"a", "b", "c"}));
}

TEST(GridFilter, OnOffAndRefilter)
{
    Sorted s({"Meyer", "Abel", "Mann", "Zorn"});
    s.g.SortOptions.CanSort = false; // keep the order as it is
    s.g.OnSetFilter = [](const QStringList &row, bool &accept) { accept = row[0].startsWith(QLatin1Char('M')); };
    s.g.setModified(false);
    s.g.setFiltered(true);
    EXPECT_TRUE(s.g.Filtered());
    EXPECT_EQ(s.g.RowCount(), 3);
    EXPECT_EQ(s.g.HiddenRowCount(), 2);
    EXPECT_EQ(s.column(0), (QStringList{"Meyer", "Mann"}));
    EXPECT_EQ(s.g.Cells(0, 3), QStringLiteral("Abel")); // kept beyond the count
    EXPECT_FALSE(s.g.Modified());

    // Refilter works on the rows shown.
    s.g.OnSetFilter = [](const QStringList &row, bool &accept) { accept = row[0] == QLatin1String("Mann"); };
    s.g.setFiltered(true);
    EXPECT_EQ(s.column(0), QStringList{"Mann"});
    EXPECT_EQ(s.g.HiddenRowCount(), 1);

    s.g.setFiltered(false);
    EXPECT_EQ(s.g.RowCount(), 3);
    EXPECT_EQ(s.g.HiddenRowCount(), 0);
    EXPECT_EQ(s.column(0), (QStringList{"Mann", "Meyer"}));

    // Nobody accepted: one blank row, the rest comes back when the filter is removed.
    Sorted n({"a", "b"});
    n.g.OnSetFilter = [](const QStringList &, bool &accept) { accept = false; };
    n.g.setFiltered(true);
    EXPECT_EQ(n.g.RowCount(), 2);
    EXPECT_TRUE(n.g.IsRowEmpty(1));
    n.g.setFiltered(false);
    EXPECT_EQ(n.g.RowCount(), 3);
    EXPECT_EQ(n.column(0), (QStringList{"a", "b"}));
}

TEST(GridFilter, WithSortingTheUpdateBracketNests)
{
    // Filtering sorts inside its own bracket: afterwards no wait cursor may be left and the
    // re-sort on size changes must be back on.
    Sorted s({"Meyer", "Abel", "Mann", "Zorn"});
    s.g.SortOptions.UpdateOnSizeChange = true;
    int begins = 0, ends = 0;
    s.g.OnBeginUpdate = [&](TSortGrid *) { ++begins; };
    s.g.OnEndUpdate = [&](TSortGrid *) { ++ends; };
    s.g.OnSetFilter = [](const QStringList &row, bool &accept) { accept = row[0] != QLatin1String("Abel"); };
    s.g.setFiltered(true);
    EXPECT_EQ(s.column(0), (QStringList{"Mann", "Meyer", "Zorn"})); // sorted by SortCol
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(s.g.NowUpdating());
    EXPECT_TRUE(s.g.isEnabled());
    EXPECT_TRUE(s.g.SortOptions.UpdateOnSizeChange);
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(ends, 1);

    s.g.setFiltered(false);
    EXPECT_EQ(s.column(0), (QStringList{"Abel", "Mann", "Meyer", "Zorn"}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(s.g.SortOptions.UpdateOnSizeChange);

    // A sort that fails inside the filter closes both brackets too.
    s.g.SortOptions.SecondaryIndex = QStringLiteral("x");
    EXPECT_THROW(s.g.setFiltered(true), EConvertError);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(s.g.NowUpdating());
    EXPECT_TRUE(s.g.SortOptions.UpdateOnSizeChange);

    // A filter inside an open bracket leaves that bracket open.
    s.g.SortOptions.SecondaryIndex.clear();
    s.g.BeginUpdate();
    s.g.setFiltered(false);
    EXPECT_TRUE(s.g.NowUpdating());
    EXPECT_FALSE(s.g.SortOptions.UpdateOnSizeChange);
    s.g.EndUpdate();
    EXPECT_FALSE(s.g.NowUpdating());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(s.g.SortOptions.UpdateOnSizeChange);
}
