#include "SortGrid.h"

#include "Platform.h"
#include "TextEncoding.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QScrollBar>
#include <QSet>
#include <QTimer>

// ---------------------------------------------------------------------------------------------
// The view's model: the store as the grid's counts show it.

class GridModel : public QAbstractTableModel {
public:
    explicit GridModel(TSortGrid *grid) : QAbstractTableModel(grid), grid_(grid) {}
    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : grid_->rowCount_;
    }
    int columnCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : grid_->colCount_;
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid())
            return QVariant();
        if (grid_->HideRows && index.row() >= grid_->fixedRows_)
            return QString();
        return grid_->store_.text(index.column(), index.row());
    }
    void reset()
    {
        beginResetModel();
        endResetModel();
    }

private:
    TSortGrid *grid_;
};

// ---------------------------------------------------------------------------------------------
// Row and column views

int TMyStringGridStrings::Count() const
{
    return isRow_ ? grid_.ColCount() : grid_.RowCount();
}

QString TMyStringGridStrings::Get(int i) const
{
    return isRow_ ? grid_.Cells(i, index_) : grid_.Cells(index_, i);
}

void TMyStringGridStrings::Put(int i, const QString &text)
{
    if (isRow_)
        grid_.setCells(i, index_, text);
    else
        grid_.setCells(index_, i, text);
}

QObject *TMyStringGridStrings::Objects(int i) const
{
    return isRow_ ? grid_.Objects(i, index_) : grid_.Objects(index_, i);
}

void TMyStringGridStrings::PutObject(int i, QObject *object)
{
    if (isRow_)
        grid_.setObjects(i, index_, object);
    else
        grid_.setObjects(index_, i, object);
}

void TMyStringGridStrings::Clear()
{
    if (isRow_)
        grid_.store_.clearRow(index_);
    else
        grid_.store_.clearColumn(index_);
    grid_.refreshView();
}

void TMyStringGridStrings::setText(const QString &text)
{
    Clear();
    QString t = text;
    const qsizetype nul = t.indexOf(QChar(0));
    if (nul >= 0)
        t.truncate(nul);
    for (const QString &line : platform::splitLines(t))
        Add(line);
}

QString TMyStringGridStrings::Text() const
{
    QString out;
    for (int i = 0; i < Count(); ++i)
        out += Get(i) + QStringLiteral("\r\n");
    return out;
}

int TMyStringGridStrings::Add(const QString &s)
{
    for (int i = 0; i < Count(); ++i) {
        if (Get(i).isEmpty()) {
            Put(i, s.isEmpty() ? QStringLiteral(" ") : s);
            return i;
        }
    }
    return -1;
}

void TMyStringGridStrings::Insert(int, const QString &)
{
    throw EListError("Cannot insert or delete rows from grid");
}

void TMyStringGridStrings::Delete(int)
{
    throw EListError("Cannot insert or delete rows from grid");
}

void TMyStringGridStrings::Assign(const QStringList &texts)
{
    const int n = std::min(Count(), static_cast<int>(texts.size()));
    for (int i = 0; i < n; ++i)
        Put(i, texts[i]);
}

void TMyStringGridStrings::Assign(const TMyStringGridStrings &other)
{
    const int n = std::min(Count(), other.Count());
    for (int i = 0; i < n; ++i) {
        Put(i, other.Get(i));
        PutObject(i, other.Objects(i));
    }
}

// ---------------------------------------------------------------------------------------------

TSortGrid::TSortGrid(QWidget *parent) : QTableView(parent), model_(new GridModel(this))
{
    setModel(model_);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    colWidths_.assign(static_cast<std::size_t>(colCount_), defaultColWidth_);
    rowHeights_.assign(static_cast<std::size_t>(rowCount_), defaultRowHeight_);
    colFormats_.resize(static_cast<std::size_t>(colCount_));
    rowFormats_.resize(static_cast<std::size_t>(rowCount_));
    verticalHeader()->setDefaultSectionSize(defaultRowHeight_);
    horizontalHeader()->setDefaultSectionSize(defaultColWidth_);
}

TSortGrid::~TSortGrid() = default;

void TSortGrid::checkIndex(int index)
{
    if (index < 0)
        throw EListError(QStringLiteral("List index out of bounds (%1)").arg(index).toStdString());
}

void TSortGrid::refreshView()
{
    emit CellsChanged();
    // The view catches up once, when it is (or becomes) visible; a hidden grid costs nothing.
    if (viewDirty_)
        return;
    viewDirty_ = true;
    if (isVisible())
        QTimer::singleShot(0, this, [this] {
            if (!viewDirty_)
                return;
            viewDirty_ = false;
            model_->reset();
            for (int c = 0; c < colCount_; ++c) {
                const int w = colWidths_[static_cast<std::size_t>(c)];
                setColumnHidden(c, w < 0);
                if (w >= 0)
                    setColumnWidth(c, w);
            }
        });
}

void TSortGrid::showEvent(QShowEvent *event)
{
    QTableView::showEvent(event);
    if (viewDirty_) {
        viewDirty_ = false;
        refreshView();
    }
}

QString TSortGrid::Cells(int col, int row) const
{
    checkIndex(col);
    checkIndex(row);
    return store_.text(col, row);
}

void TSortGrid::setCells(int col, int row, const QString &text)
{
    checkIndex(col);
    checkIndex(row);
    store_.setText(col, row, text);
    refreshView();
}

QObject *TSortGrid::Objects(int col, int row) const
{
    checkIndex(col);
    checkIndex(row);
    return store_.object(col, row);
}

void TSortGrid::setObjects(int col, int row, QObject *object)
{
    checkIndex(col);
    checkIndex(row);
    store_.setObject(col, row, object);
}

TMyStringGridStrings &TSortGrid::Rows(int row)
{
    checkIndex(row);
    auto &view = rowViews_[row];
    if (!view)
        view = std::make_unique<TMyStringGridStrings>(*this, true, row);
    return *view;
}

TMyStringGridStrings &TSortGrid::Cols(int col)
{
    checkIndex(col);
    auto &view = colViews_[col];
    if (!view)
        view = std::make_unique<TMyStringGridStrings>(*this, false, col);
    return *view;
}

// ---------------------------------------------------------------------------------------------
// Size

void TSortGrid::setColCount(int count)
{
    changeSize(count, rowCount_);
}

void TSortGrid::setRowCount(int count)
{
    changeSize(colCount_, count);
}

void TSortGrid::changeSize(int cols, int rows)
{
    const bool colsWritten = cols != colCount_;
    const bool rowsWritten = rows != rowCount_;
    if (!colsWritten && !rowsWritten)
        return;
    if (colsWritten && cols <= 0)
        cols = 1;
    if (rowsWritten && rows <= 0)
        rows = 1;
    if (fixedCols_ >= cols)
        fixedCols_ = cols - 1;
    if (fixedRows_ >= rows)
        fixedRows_ = rows - 1;
    const int oldCols = colCount_, oldRows = rowCount_;
    colCount_ = cols;
    rowCount_ = rows;
    if (updating_)
        return;
    applyGeometry();
    try {
        sizeChangeFollowUp(oldCols, oldRows);
    } catch (...) {
        colCount_ = oldCols;
        rowCount_ = oldRows;
        applyGeometry();
        try {
            sizeChangeFollowUp(cols, rows);
        } catch (...) {
        }
        throw;
    }
}

void TSortGrid::applyGeometry()
{
    colWidths_.resize(static_cast<std::size_t>(colCount_), defaultColWidth_);
    rowHeights_.resize(static_cast<std::size_t>(rowCount_), defaultRowHeight_);
    if (col_ >= colCount_)
        col_ = colCount_ - 1;
    if (row_ >= rowCount_)
        row_ = rowCount_ - 1;
    if (topRow_ >= rowCount_)
        topRow_ = std::max(fixedRows_, rowCount_ - 1);
    refreshView();
}

void TSortGrid::sizeChangeFollowUp(int oldCols, int oldRows)
{
    setModified(true);
    if (SortOptions.UpdateOnSizeChange)
        SortByColumn(SortOptions.SortCol);
    if (!updating_) {
        try {
            GotoCell(0, 1, true);
        } catch (...) {
        }
    }
    colFormats_.resize(static_cast<std::size_t>(colCount_));
    rowFormats_.resize(static_cast<std::size_t>(rowCount_));
    if (rowCount_ < 2)
        message(QStringLiteral("Rowsize too small"), QGuiApplication::applicationDisplayName(), 0);
    if (OnSizeChanged)
        OnSizeChanged(this, oldCols, oldRows);
}

void TSortGrid::message(const QString &text, const QString &caption, int icon)
{
    if (!dialogs_)
        return;
    dialogs_->messageBox(this, text, caption, platform::MessageButtons::Ok,
                         icon == 0 ? platform::MessageIcon::None : platform::MessageIcon::Error);
}

void TSortGrid::setModified(bool modified)
{
    modified_ = modified;
    if (modified && OnModified)
        OnModified(this);
}

void TSortGrid::setFixedCols(int n)
{
    if (n < 0)
        throw EGridError("Grid index out of range");
    if (n >= colCount_)
        throw EGridError("Fixed column count must be less than column count");
    fixedCols_ = n;
}

void TSortGrid::setDefaultColWidth(int w)
{
    defaultColWidth_ = w;
    std::fill(colWidths_.begin(), colWidths_.end(), w);
    horizontalHeader()->setDefaultSectionSize(std::max(w, 0));
    refreshView();
}

void TSortGrid::setDefaultRowHeight(int h)
{
    defaultRowHeight_ = h;
    std::fill(rowHeights_.begin(), rowHeights_.end(), h);
    verticalHeader()->setDefaultSectionSize(std::max(h, 1));
}

int TSortGrid::ColWidths(int col) const
{
    if (col < 0 || col >= colCount_)
        throw EGridError("Grid index out of range");
    return colWidths_[static_cast<std::size_t>(col)];
}

void TSortGrid::setColWidths(int col, int width)
{
    if (col < 0 || col >= colCount_)
        throw EGridError("Grid index out of range");
    colWidths_[static_cast<std::size_t>(col)] = width;
    refreshView();
}

int TSortGrid::RowHeights(int row) const
{
    if (row < 0 || row >= rowCount_)
        throw EGridError("Grid index out of range");
    return rowHeights_[static_cast<std::size_t>(row)];
}

void TSortGrid::setTopRow(int row)
{
    if (row < fixedRows_ || row >= rowCount_)
        return;
    topRow_ = row;
    if (isVisible())
        scrollTo(model_->index(row, 0), QAbstractItemView::PositionAtTop);
}

// ---------------------------------------------------------------------------------------------
// Update bracket, navigation

void TSortGrid::BeginUpdate()
{
    if (updateDepth_++ > 0)
        return;
    updating_ = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    setUpdatesEnabled(false);
    setEnabled(false);
    if (OnBeginUpdate)
        OnBeginUpdate(this);
    savedUpdateOnSizeChange_ = SortOptions.UpdateOnSizeChange;
    SortOptions.UpdateOnSizeChange = false;
}

void TSortGrid::EndUpdate()
{
    if (updateDepth_ == 0 || --updateDepth_ > 0)
        return;
    // Widths, heights and the current cell catch up with counts changed inside the bracket.
    applyGeometry();
    colFormats_.resize(static_cast<std::size_t>(colCount_));
    rowFormats_.resize(static_cast<std::size_t>(rowCount_));
    setUpdatesEnabled(true);
    setEnabled(true);
    QApplication::restoreOverrideCursor();
    updating_ = false;
    SortOptions.UpdateOnSizeChange = savedUpdateOnSizeChange_;
    if (OnEndUpdate)
        OnEndUpdate(this);
}

void TSortGrid::GotoCell(int col, int row, bool scroll)
{
    col = std::clamp(col, 0, std::max(colCount_ - 1, 0));
    row = std::max(std::min(row, rowCount_ - 1), 1);
    if (row >= rowCount_ || col < fixedCols_)
        throw EGridError("Grid index out of range");
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);
    col_ = col;
    row_ = row;
    selected_.assign(1, row);
    if (scroll && (row < topRow_ || row >= topRow_ + VisibleRowCount()))
        topRow_ = std::max(fixedRows_, row - VisibleRowCount() + 1);
    setUpdatesEnabled(updates);
    if (isVisible())
        setCurrentIndex(model_->index(row, col));
}

int TSortGrid::VisibleRowCount() const
{
    const int h = std::max(defaultRowHeight_, 1);
    return std::max(1, (viewport()->height() - fixedRows_ * h) / h);
}

void TSortGrid::ScrollToCell(int col, int row)
{
    col = std::clamp(col, 0, std::max(colCount_ - 1, 0));
    row = std::max(std::min(row, rowCount_ - 1), 1);
    leftCol_ = std::max(fixedCols_, std::min(leftCol_, col));
    int top = rowCount_ - VisibleRowCount();
    top = std::min(top, row - 1);
    topRow_ = std::max(top, 1);
    if (isVisible())
        scrollTo(model_->index(topRow_, col), QAbstractItemView::PositionAtTop);
}

bool TSortGrid::IsRowEmpty(int row) const
{
    for (int c = 0; c < colCount_; ++c)
        if (!store_.text(c, row).isEmpty())
            return false;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Auto-sizing

void TSortGrid::AutoSizeColumns(bool force)
{
    BeginUpdate();
    try {
        for (int c = 0; c < colCount_; ++c)
            AutoSizeCol(c, force);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TSortGrid::AutoSizeCol(int col, bool force)
{
    if (col < 0 || col >= colCount_)
        throw EGridError("Grid index out of range");
    int &width = colWidths_[static_cast<std::size_t>(col)];
    if (width == -1 && !force)
        return;
    const QFontMetrics fm(font());
    const int header = fm.horizontalAdvance(store_.text(col, 0))
                       + (col == SortOptions.SortCol && SortOptions.CanSort ? 12 : 0);
    // Each distinct text is measured once: a column of lane numbers, clubs or heat numbers
    // repeats a few texts over and over, and a measurement costs a text layout.
    int body = 0;
    QSet<QString> measured;
    for (int r = 1; r < rowCount_; ++r) {
        const QString text = store_.text(col, r);
        if (text.isEmpty() || measured.contains(text))
            continue;
        measured.insert(text);
        body = std::max(body, fm.horizontalAdvance(text));
    }
    const int m = std::max(body, header);
    const int next = m > 0 ? fm.horizontalAdvance(QLatin1Char('X')) + m : fm.horizontalAdvance(QStringLiteral("xx"));
    if (next != width) {
        width = next;
        refreshView();
        if (OnColumnWidthsChanged)
            OnColumnWidthsChanged(this);
    }
}

// ---------------------------------------------------------------------------------------------
// Semicolon-separated file

void TSortGrid::SaveToCSV(const QString &fileName)
{
    QString content;
    content.reserve(rowCount_ * colCount_ * 8);
    for (int r = 0; r < rowCount_; ++r) {
        for (int c = 0; c < colCount_; ++c) {
            content += store_.text(c, r);
            content += c + 1 < colCount_ ? QStringLiteral(";") : QStringLiteral("\r\n");
        }
    }
    const QByteArray bytes = platform::encodeText(content);
    QFile file(fileName);
    const bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                    && file.write(bytes) == bytes.size() && file.flush();
    file.close();
    if (!ok)
        message(QStringLiteral("Can't write to file:\r") + fileName, QStringLiteral("Error"), 1);
}

// ---------------------------------------------------------------------------------------------
// Sorting

void TSortGrid::SortByColumn(int col)
{
    if (!SortOptions.CanSort)
        return;
    SortOptions.SortCol = col;
    sorting_ = true;
    BeginUpdate();
    try {
        int sortCol = col;
        if (OnBeforeSort)
            OnBeforeSort(this, sortCol);
        const std::vector<int> selectedBefore = selected_;

        QStringList keys = gridsort::splitCommaText(SortOptions.SecondaryIndex);
        keys.removeOne(QString::number(sortCol));
        keys.prepend(QString::number(sortCol));

        // Working copies of every row; 'order' lists them in the current working order.
        std::vector<std::vector<GridCell>> copies(static_cast<std::size_t>(rowCount_));
        for (int r = 0; r < rowCount_; ++r)
            copies[static_cast<std::size_t>(r)] = store_.rowCells(r, colCount_);
        std::vector<int> order;
        for (int r = 1; r < rowCount_; ++r)
            order.push_back(r);

        struct Entry {
            QString key;
            int position;
            int copy;
        };
        int lastKey = sortCol;
        for (qsizetype k = keys.size() - 1; k >= 0; --k) {
            bool ok = false;
            const int key = keys[k].toInt(&ok, 10);
            if (!ok)
                throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(keys[k]).toStdString());
            if (key < 0 || key >= colCount_)
                throw EListError(QStringLiteral("List index out of bounds (%1)").arg(key).toStdString());
            lastKey = key;
            std::vector<Entry> entries;
            entries.reserve(order.size());
            for (std::size_t p = 0; p < order.size(); ++p)
                entries.push_back({copies[static_cast<std::size_t>(order[p])][static_cast<std::size_t>(key)].text,
                                   static_cast<int>(p), order[p]});
            if (OnGetSortStyle) {
                TSortStyle style = SortOptions.SortStyle;
                OnGetSortStyle(this, key, style);
                SortOptions.SortStyle = style;
            } else if (SortOptions.SortStyle == ssAutomatic) {
                std::vector<QString> texts;
                texts.reserve(entries.size());
                for (const Entry &e : entries)
                    texts.push_back(e.key);
                SortOptions.SortStyle = gridsort::detectStyle(texts);
            }
            if (!SortOptions.SortCaseSensitive)
                for (Entry &e : entries)
                    e.key = gridsort::foldCase(e.key);
            const TSortStyle style = SortOptions.SortStyle;
            const bool descending = SortOptions.SortDirection == sdDescending;
            const SortCompare &custom = SortOptions.Compare;
            gridsort::mergeSort(entries, [&](const Entry &a, const Entry &b) {
                const int r = gridsort::compare(style, a.key, b.key, custom);
                if (r == 0)
                    return a.position < b.position;
                return descending ? r > 0 : r < 0;
            });
            for (std::size_t p = 0; p < entries.size(); ++p)
                order[p] = entries[p].copy;
        }

        // Row 0 stays; row i takes the copy at place i. Cells beyond the columns stay put.
        for (std::size_t p = 0; p < order.size(); ++p)
            store_.setRowCells(static_cast<int>(p) + 1, copies[static_cast<std::size_t>(order[p])]);
        if (!selectedBefore.empty()) {
            std::vector<int> moved;
            for (std::size_t p = 0; p < order.size(); ++p)
                if (std::find(selectedBefore.begin(), selectedBefore.end(), order[p]) != selectedBefore.end())
                    moved.push_back(static_cast<int>(p) + 1);
            if (!moved.empty()) {
                selected_ = moved;
                row_ = moved.front();
            }
        }
        sorting_ = false;
        SortOptions.Compare = nullptr;
        if (OnAfterSort)
            OnAfterSort(this, lastKey);
        refreshView();
        EndUpdate();
    } catch (...) {
        sorting_ = false;
        SortOptions.Compare = nullptr;
        EndUpdate();
        throw;
    }
}

// ---------------------------------------------------------------------------------------------
// Filter

void TSortGrid::setFiltered(bool filtered)
{
    filtered_ = filtered;
    if (!((!filtered || !IsRowEmpty(1)) && (filtered || hidden_ > 0)))
        return;
    BeginUpdate(); // within a bracket already open, this one only nests
    const bool wasModified = modified_;
    try {
        if (filtered)
            filterOn();
        else
            filterOff();
    } catch (...) {
        EndUpdate();
        modified_ = wasModified;
        throw;
    }
    EndUpdate();
    modified_ = wasModified;
}

void TSortGrid::filterOn()
{
    std::vector<int> accepted, rejected;
    for (int r = 1; r < rowCount_; ++r) {
        if (!OnSetFilter) {
            for (int x = r; x < rowCount_; ++x)
                rejected.push_back(x);
            break;
        }
        QStringList texts;
        for (int c = 0; c < colCount_; ++c)
            texts << store_.text(c, r);
        bool accept = false;
        OnSetFilter(texts, accept);
        (accept ? accepted : rejected).push_back(r);
    }
    hidden_ = rowCount_ - 1 - static_cast<int>(accepted.size());

    std::vector<std::vector<GridCell>> copies;
    copies.reserve(static_cast<std::size_t>(rowCount_));
    for (int r : accepted)
        copies.push_back(store_.rowCells(r, colCount_));
    for (int r : rejected)
        copies.push_back(store_.rowCells(r, colCount_));
    for (std::size_t i = 0; i < copies.size(); ++i)
        store_.setRowCells(static_cast<int>(i) + 1, copies[i]);

    if (accepted.empty()) {
        store_.swapRows(1, rowCount_);
        setRowCount(2);
    } else {
        setRowCount(rowCount_ - hidden_);
        SortByColumn(SortOptions.SortCol);
    }
    try {
        GotoCell(0, 1, true);
    } catch (const EGridError &) {
    }
    refreshView();
}

void TSortGrid::filterOff()
{
    const int hidden = hidden_;
    setRowCount(rowCount_ + hidden);
    if (IsRowEmpty(1)) {
        store_.moveRow(1, rowCount_ - 1);
        setRowCount(rowCount_ - 1);
    }
    if (hidden > 0)
        SortByColumn(SortOptions.SortCol);
    hidden_ = 0;
    refreshView();
}
