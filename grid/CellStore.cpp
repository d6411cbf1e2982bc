#include "CellStore.h"

#include <algorithm>

namespace {

auto findCol(CellStore::Row &row, int col)
{
    return std::lower_bound(row.begin(), row.end(), col, [](const auto &cell, int c) { return cell.first < c; });
}
auto findCol(const CellStore::Row &row, int col)
{
    return std::lower_bound(row.begin(), row.end(), col, [](const auto &cell, int c) { return cell.first < c; });
}

} // namespace

const CellStore::Row *CellStore::findRow(int row) const
{
    const auto s = static_cast<std::size_t>(row / kSection);
    if (row < 0 || s >= sections_.size() || !sections_[s])
        return nullptr;
    return (*sections_[s])[static_cast<std::size_t>(row % kSection)].get();
}

CellStore::Row &CellStore::rowFor(int row)
{
    const auto s = static_cast<std::size_t>(row / kSection);
    if (s >= sections_.size())
        sections_.resize(s + 1);
    if (!sections_[s])
        sections_[s] = std::make_unique<Section>();
    auto &slot = (*sections_[s])[static_cast<std::size_t>(row % kSection)];
    if (!slot)
        slot = std::make_unique<Row>();
    return *slot;
}

std::unique_ptr<CellStore::Row> CellStore::takeRow(int row)
{
    const auto s = static_cast<std::size_t>(row / kSection);
    if (s >= sections_.size() || !sections_[s])
        return nullptr;
    return std::move((*sections_[s])[static_cast<std::size_t>(row % kSection)]);
}

void CellStore::putRow(int row, std::unique_ptr<Row> r)
{
    if (!r) {
        takeRow(row);
        return;
    }
    const auto s = static_cast<std::size_t>(row / kSection);
    if (s >= sections_.size())
        sections_.resize(s + 1);
    if (!sections_[s])
        sections_[s] = std::make_unique<Section>();
    (*sections_[s])[static_cast<std::size_t>(row % kSection)] = std::move(r);
}

QString CellStore::text(int col, int row) const
{
    const Row *r = findRow(row);
    if (!r)
        return QString();
    const auto it = findCol(*r, col);
    return it != r->end() && it->first == col ? it->second.text : QString();
}

QObject *CellStore::object(int col, int row) const
{
    const Row *r = findRow(row);
    if (!r)
        return nullptr;
    const auto it = findCol(*r, col);
    return it != r->end() && it->first == col ? it->second.object : nullptr;
}

void CellStore::setText(int col, int row, const QString &text)
{
    if (text.isEmpty()) {
        // An empty text without an object needs no room.
        if (!findRow(row))
            return;
        Row &r = rowFor(row);
        auto it = findCol(r, col);
        if (it == r.end() || it->first != col)
            return;
        it->second.text.clear();
        if (it->second.empty())
            r.erase(it);
        return;
    }
    Row &r = rowFor(row);
    auto it = findCol(r, col);
    if (it != r.end() && it->first == col)
        it->second.text = text;
    else
        r.insert(it, {col, GridCell{text, nullptr}});
}

void CellStore::setObject(int col, int row, QObject *object)
{
    if (!object && !findRow(row))
        return;
    Row &r = rowFor(row);
    auto it = findCol(r, col);
    if (it != r.end() && it->first == col) {
        it->second.object = object;
        if (it->second.empty())
            r.erase(it);
    } else if (object) {
        r.insert(it, {col, GridCell{QString(), object}});
    }
}

void CellStore::clearRow(int row)
{
    takeRow(row);
}

void CellStore::clearColumn(int col)
{
    for (auto &section : sections_) {
        if (!section)
            continue;
        for (auto &r : *section) {
            if (!r)
                continue;
            auto it = findCol(*r, col);
            if (it != r->end() && it->first == col)
                r->erase(it);
        }
    }
}

std::vector<GridCell> CellStore::rowCells(int row, int cols) const
{
    std::vector<GridCell> out(static_cast<std::size_t>(std::max(cols, 0)));
    if (const Row *r = findRow(row))
        for (const auto &[col, cell] : *r) {
            if (col >= cols)
                break;
            out[static_cast<std::size_t>(col)] = cell;
        }
    return out;
}

void CellStore::setRowCells(int row, const std::vector<GridCell> &cells)
{
    const int cols = static_cast<int>(cells.size());
    const Row *existing = findRow(row);
    bool anything = false;
    for (const GridCell &c : cells)
        anything = anything || !c.empty();
    if (!existing && !anything)
        return;
    Row &r = rowFor(row);
    // Cells beyond the given columns stay where they are.
    Row next;
    next.reserve(cells.size() + r.size());
    for (int c = 0; c < cols; ++c)
        if (!cells[static_cast<std::size_t>(c)].empty())
            next.emplace_back(c, cells[static_cast<std::size_t>(c)]);
    for (auto &cell : r)
        if (cell.first >= cols)
            next.push_back(std::move(cell));
    next.shrink_to_fit();
    r = std::move(next);
}

void CellStore::swapRows(int a, int b)
{
    if (a == b)
        return;
    std::unique_ptr<Row> ra = takeRow(a);
    std::unique_ptr<Row> rb = takeRow(b);
    putRow(a, std::move(rb));
    putRow(b, std::move(ra));
}

void CellStore::moveRow(int from, int to)
{
    if (from == to)
        return;
    std::unique_ptr<Row> moving = takeRow(from);
    if (from < to)
        for (int i = from; i < to; ++i)
            putRow(i, takeRow(i + 1));
    else
        for (int i = from; i > to; --i)
            putRow(i, takeRow(i - 1));
    putRow(to, std::move(moving));
}

std::size_t CellStore::cellCount() const
{
    std::size_t n = 0;
    for (const auto &section : sections_)
        if (section)
            for (const auto &r : *section)
                if (r)
                    n += r->size();
    return n;
}

std::size_t CellStore::overheadBytes() const
{
    std::size_t bytes = sections_.capacity() * sizeof(std::unique_ptr<Section>);
    for (const auto &section : sections_) {
        if (!section)
            continue;
        bytes += sizeof(Section);
        for (const auto &r : *section)
            if (r)
                bytes += sizeof(Row) + r->capacity() * sizeof(Row::value_type);
    }
    return bytes;
}
