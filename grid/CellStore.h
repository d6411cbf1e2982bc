#pragma once
// The sparse cell store of the grid: a table of rows, each row a short list of the cells written
// in it. Memory grows with the cells written, never with the row count times the column count
// nor with the highest row written; cells are kept whatever the grid's counts are.

#include <QString>

#include <array>
#include <memory>
#include <utility>
#include <vector>

class QObject;

struct GridCell {
    QString text;
    QObject *object = nullptr;
    bool empty() const { return text.isEmpty() && object == nullptr; }
};

class CellStore {
public:
    using Row = std::vector<std::pair<int, GridCell>>; // sorted by column

    // The cell text, "" for a cell never written. Indices are not checked here.
    QString text(int col, int row) const;
    QObject *object(int col, int row) const;
    void setText(int col, int row, const QString &text);
    void setObject(int col, int row, QObject *object);
    // Every stored cell of the row becomes empty (also beyond the column count).
    void clearRow(int row);
    // Every stored cell of the column becomes empty (also beyond the row count).
    void clearColumn(int col);
    // Cells 0..cols-1 of a row, and writing them back (texts and objects).
    std::vector<GridCell> rowCells(int row, int cols) const;
    void setRowCells(int row, const std::vector<GridCell> &cells);
    // Exchanges two whole rows, cells beyond the column count included.
    void swapRows(int a, int b);
    // Moves row 'from' to 'to', the rows between shift by one.
    void moveRow(int from, int to);

    std::size_t cellCount() const;
    // Bytes the store holds besides the texts themselves.
    std::size_t overheadBytes() const;

private:
    // Rows live in sections of 16 slots, sections in pages of 256 (4096 rows), and the pages in a
    // list sorted by their index: a row far down costs one page and one section, never a table
    // as long as the row index.
    static constexpr int kSectionBits = 4;
    static constexpr int kSection = 1 << kSectionBits;
    static constexpr int kPageBits = 8;
    static constexpr int kPage = 1 << kPageBits;
    using Section = std::array<std::unique_ptr<Row>, kSection>;
    using Page = std::array<std::unique_ptr<Section>, kPage>;
    struct PageEntry {
        int index;
        std::unique_ptr<Page> page;
    };

    Page *findPage(int index) const;
    const Row *findRow(int row) const;
    Row &rowFor(int row);
    std::unique_ptr<Row> &slotFor(int row);
    std::unique_ptr<Row> takeRow(int row);
    void putRow(int row, std::unique_ptr<Row> r);
    template <typename F> void forEachRow(F f) const;

    std::vector<PageEntry> pages_; // sorted by index
};
