#include "SortGrid.h"

#include <stdexcept>

namespace {
void checkIndex(int index)
{
    if (index < 0)
        throw std::out_of_range(QStringLiteral("List index out of bounds (%1)").arg(index).toStdString());
}
} // namespace

TSortGrid::TSortGrid(QWidget *parent) : QWidget(parent) {}

QString TSortGrid::Cells(int col, int row) const
{
    checkIndex(col);
    checkIndex(row);
    const auto r = rows_.find(row);
    if (r == rows_.end())
        return {};
    const auto c = r->second.find(col);
    return c == r->second.end() ? QString() : c->second;
}

void TSortGrid::setCells(int col, int row, const QString &text)
{
    checkIndex(col);
    checkIndex(row);
    if (text.isEmpty()) {
        const auto r = rows_.find(row);
        if (r != rows_.end())
            r->second.erase(col);
        return;
    }
    rows_[row][col] = text;
}

void TSortGrid::setColCount(int count)
{
    colCount_ = count < 1 ? 1 : count;
}

void TSortGrid::setRowCount(int count)
{
    rowCount_ = count < 1 ? 1 : count;
}
