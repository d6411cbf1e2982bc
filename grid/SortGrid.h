#pragma once
// The grid that holds the results table: text cells in a sparse store that is independent of the
// row and column counts, row and column views, size changes with their follow-up, column
// auto-sizing, a semicolon-separated file writer, multi-key sorting and a row filter. The widget
// is a read-only table view of the store.

#include "CellStore.h"
#include "GridSort.h"

#include <QAbstractTableModel>
#include <QTableView>

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>

namespace platform {
class Dialogs;
}

// "List index out of bounds (%d)", "Cannot insert or delete rows from grid"
class EListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
// "Grid index out of range", "Fixed column count must be less than column count", ...
class EGridError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
// A text that is not a whole number where one is needed.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TSortOptions {
    bool CanSort = true;
    QString SecondaryIndex;
    TSortStyle SortStyle = ssNormal;
    bool SortCaseSensitive = false;
    int SortCol = 0;
    TSortDirection SortDirection = sdAscending;
    SortCompare Compare; // for ssCustom; cleared at the end of every sort
    bool UpdateOnSizeChange = false;
};

enum TMyPrintRange { prAll, prSelected };
struct TPrintOptions {
    QString JobTitle;
    QString PageTitle;
    int Copies = 1;
    TMyPrintRange PrintRange = prAll;
    unsigned FromRow = 0, ToRow = 0, PreviewPage = 0;
};

enum TVertAlignment { taTopJustify, taBottomJustify, taMiddle };
enum TCellBevelStyle { cbNone, cbRaised, cbLowered };

struct TFontSetting {
    QColor FontColor;
    QColor BackgroundColor;
    bool Bold = false, Italic = false, Underline = false, Active = false;
};

class TSortGrid;

// The Rows view of one row or the Cols view of one column: a string list over the grid's cells.
class TMyStringGridStrings {
public:
    TMyStringGridStrings(TSortGrid &grid, bool isRow, int index) : grid_(grid), isRow_(isRow), index_(index) {}
    int Count() const;
    QString Get(int i) const;
    void Put(int i, const QString &text);
    QObject *Objects(int i) const;
    void PutObject(int i, QObject *object);
    // Every stored cell of the row (or column), also beyond the counts, becomes empty.
    void Clear();
    // Clears, splits the text into lines at CR, LF or CR LF (a NUL ends it) and adds each line.
    void setText(const QString &text);
    QString Text() const; // the items, each followed by CR LF
    // Writes s into the first empty cell; an empty s is written as " ". -1 when every cell is used.
    int Add(const QString &s);
    void Insert(int, const QString &);
    void Delete(int);
    // Copies the first n texts and objects (n the smaller count); later cells stay.
    void Assign(const QStringList &texts);
    void Assign(const TMyStringGridStrings &other);

private:
    TSortGrid &grid_;
    bool isRow_;
    int index_;
};

class TSortGrid : public QTableView {
    Q_OBJECT
public:
    explicit TSortGrid(QWidget *parent = nullptr);
    ~TSortGrid() override;

    // Message boxes of the grid ("Rowsize too small", "Can't write to file:") go through this.
    void setDialogs(platform::Dialogs *dialogs) { dialogs_ = dialogs; }

    // ---- cells ----
    QString Cells(int col, int row) const;
    void setCells(int col, int row, const QString &text);
    QObject *Objects(int col, int row) const;
    void setObjects(int col, int row, QObject *object);
    TMyStringGridStrings &Rows(int row);
    TMyStringGridStrings &Cols(int col);
    const CellStore &store() const { return store_; }

    // ---- geometry ----
    int ColCount() const { return colCount_; }
    void setColCount(int count);
    int RowCount() const { return rowCount_; }
    void setRowCount(int count);
    int FixedCols() const { return fixedCols_; }
    void setFixedCols(int n);
    int FixedRows() const { return fixedRows_; }
    int DefaultColWidth() const { return defaultColWidth_; }
    void setDefaultColWidth(int w);
    int DefaultRowHeight() const { return defaultRowHeight_; }
    void setDefaultRowHeight(int h);
    int ColWidths(int col) const;
    void setColWidths(int col, int width); // -1 hides the column
    int RowHeights(int row) const;
    int Col() const { return col_; }
    int Row() const { return row_; }
    int TopRow() const { return topRow_; }
    void setTopRow(int row);
    int LeftCol() const { return leftCol_; }

    // ---- state ----
    bool Modified() const { return modified_; }
    void setModified(bool modified);
    bool NowUpdating() const { return updating_; }
    bool Sorting() const { return sorting_; }
    bool Filtered() const { return filtered_; }
    void setFiltered(bool filtered);
    int HiddenRowCount() const { return hidden_; }
    const std::vector<int> &SelectedRows() const { return selected_; }
    TSortOptions SortOptions;
    TPrintOptions PrintOptions;
    bool HideRows = false;
    bool MultiSelect = false;
    bool ExtendedKeys = false;
    bool ProportionalScrollBars = false;
    Qt::Alignment AlignmentHorz = Qt::AlignLeft;
    TVertAlignment AlignmentVert = taTopJustify;
    TCellBevelStyle BevelStyle = cbNone;
    const std::vector<TFontSetting> &ColFormats() const { return colFormats_; }
    const std::vector<TFontSetting> &RowFormats() const { return rowFormats_; }

    // ---- operations ----
    // The update bracket nests: the first BeginUpdate and the last EndUpdate do the work, so a
    // sort inside a filter's bracket leaves it open.
    void BeginUpdate();
    void EndUpdate();
    void GotoCell(int col, int row, bool scroll);
    void ScrollToCell(int col, int row);
    void AutoSizeColumns(bool force);
    void AutoSizeCol(int col, bool force);
    bool IsRowEmpty(int row) const;
    void SaveToCSV(const QString &fileName);
    void SortByColumn(int col);
    // Fully visible rows of the view (for ScrollToCell).
    int VisibleRowCount() const;

    // ---- events ----
    std::function<void(TSortGrid *)> OnModified;
    std::function<void(TSortGrid *, int oldColCount, int oldRowCount)> OnSizeChanged;
    std::function<void(TSortGrid *)> OnBeginUpdate;
    std::function<void(TSortGrid *)> OnEndUpdate;
    std::function<void(TSortGrid *)> OnColumnWidthsChanged;
    std::function<void(TSortGrid *, int col, TSortStyle &style)> OnGetSortStyle;
    std::function<void(const QStringList &row, bool &accept)> OnSetFilter;
    std::function<void(TSortGrid *, int &col)> OnBeforeSort;
    std::function<void(TSortGrid *, int col)> OnAfterSort;

signals:
    // The cells, their counts or their order may have changed; sent also while the grid is hidden.
    void CellsChanged();

protected:
    void showEvent(QShowEvent *event) override;

private:
    friend class TMyStringGridStrings;
    friend class GridModel;
    static void checkIndex(int index);
    void changeSize(int cols, int rows);
    void applyGeometry();
    void sizeChangeFollowUp(int oldCols, int oldRows);
    void refreshView();
    void message(const QString &text, const QString &caption, int icon);
    void filterOn();
    void filterOff();

    CellStore store_;
    std::map<int, std::unique_ptr<TMyStringGridStrings>> rowViews_, colViews_;
    class GridModel *model_;
    platform::Dialogs *dialogs_ = nullptr;
    int colCount_ = 5, rowCount_ = 5;
    int fixedCols_ = 0, fixedRows_ = 1;
    int defaultColWidth_ = 64, defaultRowHeight_ = 24;
    std::vector<int> colWidths_, rowHeights_;
    int col_ = 0, row_ = 1, topRow_ = 1, leftCol_ = 0;
    bool modified_ = false;
    bool updating_ = false;
    int updateDepth_ = 0; // open update brackets; only the outermost one acts
    bool savedUpdateOnSizeChange_ = false;
    bool sorting_ = false;
    bool filtered_ = false;
    int hidden_ = 0;
    std::vector<int> selected_{1};
    std::vector<TFontSetting> colFormats_, rowFormats_;
    bool viewDirty_ = false;
};
