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

CellStore::Page *CellStore::findPage(int index) const
{
    // A grid filled from the top holds pages 0, 1, 2 ... at their own places in the list.
    const auto direct = static_cast<std::size_t>(index);
    if (direct < pages_.size() && pages_[direct].index == index)
        return pages_[direct].page.get();
    const auto it = std::lower_bound(pages_.begin(), pages_.end(), index,
                                     [](const PageEntry &e, int i) { return e.index < i; });
    return it != pages_.end() && it->index == index ? it->page.get() : nullptr;
}

const CellStore::Row *CellStore::findRow(int row) const
{
    if (row < 0)
        return nullptr;
    const Page *page = findPage(row >> (kSectionBits + kPageBits));
    if (!page)
        return nullptr;
    const Section *section = (*page)[static_cast<std::size_t>((row >> kSectionBits) & (kPage - 1))].get();
    if (!section)
        return nullptr;
    return (*section)[static_cast<std::size_t>(row & (kSection - 1))].get();
}

std::unique_ptr<CellStore::Row> &CellStore::slotFor(int row)
{
    const int index = row >> (kSectionBits + kPageBits);
    Page *page = findPage(index);
    if (!page) {
        const auto it = std::lower_bound(pages_.begin(), pages_.end(), index,
                                         [](const PageEntry &e, int i) { return e.index < i; });
        page = pages_.insert(it, PageEntry{index, std::make_unique<Page>()})->page.get();
    }
    auto &section = (*page)[static_cast<std::size_t>((row >> kSectionBits) & (kPage - 1))];
    if (!section)
        section = std::make_unique<Section>();
    return (*section)[static_cast<std::size_t>(row & (kSection - 1))];
}

CellStore::Row &CellStore::rowFor(int row)
{
    auto &slot = slotFor(row);
    if (!slot)
        slot = std::make_unique<Row>();
    return *slot;
}

std::unique_ptr<CellStore::Row> CellStore::takeRow(int row)
{
    if (!findRow(row))
        return nullptr;
    return std::move(slotFor(row));
}

void CellStore::putRow(int row, std::unique_ptr<Row> r)
{
    if (!r) {
        takeRow(row);
        return;
    }
    slotFor(row) = std::move(r);
}

template <typename F> void CellStore::forEachRow(F f) const
{
    for (const PageEntry &entry : pages_)
        for (const auto &section : *entry.page)
            if (section)
                for (const auto &r : *section)
                    if (r)
                        f(*r);
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
    for (PageEntry &entry : pages_)
        for (auto &section : *entry.page)
            if (section)
                for (auto &r : *section)
                    if (r) {
                        auto it = findCol(*r, col);
                        if (it != r->end() && it->first == col)
                            r->erase(it);
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
    forEachRow([&n](const Row &r) { n += r.size(); });
    return n;
}

std::size_t CellStore::overheadBytes() const
{
    std::size_t bytes = pages_.capacity() * sizeof(PageEntry);
    for (const PageEntry &entry : pages_) {
        bytes += sizeof(Page);
        for (const auto &section : *entry.page)
            if (section)
                bytes += sizeof(Section);
    }
    forEachRow([&bytes](const Row &r) { bytes += sizeof(Row) + r.capacity() * sizeof(Row::value_type); });
    return bytes;
}
