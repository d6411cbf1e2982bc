#pragma once
// The grid that holds the results table: rows and columns of text cells in a sparse store that is
// independent of the row and column counts.

#include <QString>
#include <QWidget>

#include <map>

class TSortGrid : public QWidget {
    Q_OBJECT
public:
    explicit TSortGrid(QWidget *parent = nullptr);

    // The cell text, "" for a cell never written; no range check against the counts.
    QString Cells(int col, int row) const;
    void setCells(int col, int row, const QString &text);

    int ColCount() const { return colCount_; }
    void setColCount(int count);
    int RowCount() const { return rowCount_; }
    void setRowCount(int count);
    int DefaultRowHeight() const { return defaultRowHeight_; }
    void setDefaultRowHeight(int h) { defaultRowHeight_ = h; }
    int FixedCols() const { return fixedCols_; }
    void setFixedCols(int n) { fixedCols_ = n; }

private:
    std::map<int, std::map<int, QString>> rows_;
    int colCount_ = 5;
    int rowCount_ = 5;
    int defaultRowHeight_ = 24;
    int fixedCols_ = 0;
};
