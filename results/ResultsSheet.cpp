#include "ResultsSheet.h"

#include "TimeText.h"
#include "Version.h"

#include <QBuffer>
#include <QLocale>
#include <QPageRanges>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cstring>

namespace results {

namespace {

const QColor kStripe(236, 236, 236);

// Columns of fixed width in millimetres; a width of 0 takes its share of the rest.
struct ColumnPlan {
    const char *title;
    double mm;
    double share;
    bool right;
};

const ColumnPlan kHeatColumns[] = {
    {"Platz", 15, 0, true},   {"Bahn", 12, 0, true},        {"Nr.", 15, 0, true},
    {"Name", 0, 0.5, false},  {"Bemerkung", 0, 0.5, false}, {"Zeit", 22, 0, true},
};
const ColumnPlan kRankingColumns[] = {
    {"Platz", 15, 0, true}, {"Lauf", 12, 0, true},     {"Bahn", 12, 0, true},        {"Nr.", 15, 0, true},
    {"Name", 0, 0.5, false}, {"Bemerkung", 0, 0.5, false}, {"Zeit", 22, 0, true},
};

// The notes of a heat's race as the list prints them: a race whose cable failed again and again
// keeps its block on one page, its last line says how many more there were.
constexpr int kPrintedNotes = 12;
QStringList printedNotes(const QStringList &notes)
{
    if (notes.size() <= kPrintedNotes)
        return notes;
    QStringList shown = notes.mid(0, kPrintedNotes - 1);
    shown << QStringLiteral("… und %1 weitere").arg(notes.size() - (kPrintedNotes - 1));
    return shown;
}

// The fonts of the lists: Liberation Sans, whose figures all have the same width, so that
// right-aligned times line up digit for digit.
QFont font(double points, bool bold = false)
{
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPointSizeF(points);
    f.setBold(bold);
    // Plain Latin text needs no shaping: no ligatures, no kerning, and the text extracted from a PDF
    // is the text that was drawn.
    f.setStyleStrategy(QFont::PreferNoShaping);
    return f;
}

} // namespace

ResultsSheet::ResultsSheet(const ResultsDocument &document, const QPaintDevice &device, QSizeF area,
                           QDateTime printedAt)
    : document_(document), area_(area), printedAt_(std::move(printedAt)), mm_(device.logicalDpiY() / 25.4),
      title_(font(15, true), device), heading_(font(13, true), device), head_(font(9.5, true), device),
      body_(font(11), device), foot_(font(8.5), device)
{
    headingHeight_ = heading_.metrics.height() * 1.5;
    headRowHeight_ = head_.metrics.height() * 1.5;
    rowHeight_ = body_.metrics.height() * 1.4;
    noteHeight_ = foot_.metrics.height() * 1.3;
    gap_ = 7 * mm_;
    top_ = title_.metrics.height() * 1.3 + 5 * mm_;
    bottom_ = area_.height() - foot_.metrics.height() * 1.3 - 3 * mm_;

    // The time column holds the longest time whole (a tie marked with its thousandths is longer),
    // but never more than the longest time the desk writes: a note typed into a time cell is cut
    // like any text too long for its column, and the names keep their room.
    const double timeLimit = body_.width(QStringLiteral("59:59,99 (") + ThousandthsText(3599999) + QLatin1Char(')'));
    double timeWidth = 0;
    for (const HeatResult &heat : document_.heats)
        for (const LaneResult &lane : heat.lanes)
            timeWidth = std::max(timeWidth, body_.width(lane.time));
    for (const Ranking &ranking : document_.rankings)
        for (const RankedLane &r : ranking.lanes)
            timeWidth = std::max(timeWidth, body_.width(r.lane.time));
    timeWidth = std::min(timeWidth, timeLimit) + 3 * mm_;
    const auto columns = [this, timeWidth](const auto &plans) {
        const auto widthOf = [this, timeWidth](const ColumnPlan &s) {
            return s.mm <= 0 ? 0.0 : std::strcmp(s.title, "Zeit") == 0 ? std::max(s.mm * mm_, timeWidth) : s.mm * mm_;
        };
        double fixed = 0;
        for (const ColumnPlan &s : plans)
            fixed += widthOf(s);
        const double rest = std::max(0.0, area_.width() - fixed);
        std::vector<Column> out;
        double left = 0;
        for (const ColumnPlan &s : plans) {
            const double width = s.mm > 0 ? widthOf(s) : rest * s.share;
            out.push_back({QString::fromUtf8(s.title), left, width, s.right});
            left += width;
        }
        return out;
    };
    heatColumns_ = columns(kHeatColumns);
    rankingColumns_ = columns(kRankingColumns);
    layOut();
}

double ResultsSheet::Font::width(const QString &text) const
{
    auto it = widths.constFind(text);
    if (it == widths.constEnd())
        it = widths.insert(text, metrics.horizontalAdvance(text));
    return *it;
}

double ResultsSheet::blockHeight(std::size_t rows) const
{
    return headingHeight_ + headRowHeight_ + static_cast<double>(rows) * rowHeight_;
}

double ResultsSheet::heatHeight(const HeatResult &heat) const
{
    const qsizetype lines = printedNotes(heat.notes).size();
    const double notes = lines == 0 ? 0.0 : 0.5 * noteHeight_ + static_cast<double>(lines) * noteHeight_;
    return blockHeight(heat.lanes.size()) + notes;
}

void ResultsSheet::layOut()
{
    pages_.assign(1, {});
    double y = top_;
    const auto newPage = [&] {
        pages_.emplace_back();
        y = top_;
    };
    // Where a block of that height starts: after a gap, or on the next page when it does not fit.
    const auto placeHeight = [&](double height) {
        const double start = y > top_ ? y + gap_ : y;
        if (y > top_ && start + height > bottom_)
            newPage();
        else
            y = start;
    };
    const auto place = [&](std::size_t rows) { placeHeight(blockHeight(rows)); };

    for (const HeatResult &heat : document_.heats) {
        placeHeight(heatHeight(heat)); // a heat never breaks across pages
        pages_.back().push_back({&heat, nullptr, 0, heat.lanes.size(), y, false});
        y += heatHeight(heat);
    }
    for (const Ranking &ranking : document_.rankings) {
        std::size_t first = 0;
        while (first < ranking.lanes.size()) {
            const std::size_t left = ranking.lanes.size() - first;
            // A part of a ranking holds at least three rows (or what is left), never a heading alone.
            place(std::min<std::size_t>(left, 3));
            const double room = std::max(0.0, (bottom_ - y - blockHeight(0)) / rowHeight_);
            const std::size_t count = std::min(left, std::max<std::size_t>(1, static_cast<std::size_t>(room)));
            pages_.back().push_back({nullptr, &ranking, first, count, y, first > 0});
            y += blockHeight(count);
            first += count;
        }
    }
}

void ResultsSheet::paintPage(QPainter &painter, int page) const
{
    if (page < 0 || page >= pageCount())
        return;
    paintHeader(painter, page);
    for (const Slice &slice : pages_[static_cast<std::size_t>(page)])
        paintSlice(painter, slice);
}

void ResultsSheet::paintHeader(QPainter &painter, int page) const
{
    const double width = area_.width();
    painter.setPen(Qt::black);

    // Title left, date right, a rule below.
    const double titleBase = title_.metrics.ascent();
    const double dateWidth = body_.width(document_.date);
    painter.setFont(title_.font);
    painter.drawText(QPointF(0, titleBase), title_.metrics.elidedText(document_.title, Qt::ElideRight,
                                                                      std::max(0.0, width - dateWidth - 8 * mm_)));
    painter.setFont(body_.font);
    painter.drawText(QPointF(width - dateWidth, titleBase), document_.date);
    const double rule = title_.metrics.height() * 1.3;
    painter.fillRect(QRectF(0, rule - 0.3 * mm_, width, 0.3 * mm_), Qt::black);

    // The footer: time of printing, page, program.
    painter.setFont(foot_.font);
    const double footBase = area_.height() - foot_.metrics.descent();
    painter.fillRect(QRectF(0, footBase - foot_.metrics.ascent() - 1.5 * mm_, width, 0.2 * mm_), Qt::black);
    const QLocale locale;
    const QString printed = QStringLiteral("Gedruckt am %1 um %2")
                                .arg(locale.toString(printedAt_.date(), ShortDateFormat(locale)),
                                     locale.toString(printedAt_.time(), QLocale::ShortFormat));
    const QString pages = QStringLiteral("Seite %1 von %2").arg(page + 1).arg(pageCount());
    const QString program = QStringLiteral("Zielkron %1").arg(QString::fromLatin1(build::Version));
    painter.drawText(QPointF(0, footBase), printed);
    painter.drawText(QPointF((width - foot_.width(pages)) / 2, footBase), pages);
    painter.drawText(QPointF(width - foot_.width(program), footBase), program);
}

void ResultsSheet::paintCell(QPainter &painter, const Font &font, const Column &column, double baseline,
                             const QString &text) const
{
    if (text.isEmpty())
        return;
    const double pad = 1.5 * mm_;
    const double room = std::max(0.0, column.width - 2 * pad);
    double width = font.width(text);
    QString shown = text;
    // A text too long for its column is cut with "…" and never reaches into the next one.
    if (width > room) {
        shown = font.metrics.elidedText(text, Qt::ElideRight, room);
        width = font.width(shown);
    }
    const double x = column.right ? column.left + column.width - pad - width : column.left + pad;
    painter.drawText(QPointF(x, baseline), shown);
}

void ResultsSheet::paintSlice(QPainter &painter, const Slice &slice) const
{
    const std::vector<Column> &columns = slice.heat ? heatColumns_ : rankingColumns_;
    const double width = area_.width();
    double y = slice.top;

    painter.setPen(Qt::black);
    painter.setFont(heading_.font);
    QString title = slice.heat ? slice.heat->heading() : slice.ranking->heading();
    if (slice.continued)
        title += QStringLiteral(" (Fortsetzung)");
    painter.drawText(QPointF(0, y + heading_.metrics.ascent()),
                     heading_.metrics.elidedText(title, Qt::ElideRight, width));
    y += headingHeight_;

    painter.setFont(head_.font);
    const double headBase = y + (headRowHeight_ - head_.metrics.height()) / 2 + head_.metrics.ascent();
    for (const Column &column : columns)
        paintCell(painter, head_, column, headBase, column.title);
    y += headRowHeight_;
    painter.fillRect(QRectF(0, y - 0.25 * mm_, width, 0.25 * mm_), Qt::black);

    painter.setFont(body_.font);
    const double bodyOffset = (rowHeight_ - body_.metrics.height()) / 2 + body_.metrics.ascent();
    for (std::size_t i = 0; i < slice.count; ++i) {
        const std::size_t row = slice.first + i;
        if (row % 2 == 1)
            painter.fillRect(QRectF(0, y, width, rowHeight_), kStripe);
        const double base = y + bodyOffset;
        if (slice.heat) {
            const LaneResult &l = slice.heat->lanes[row];
            const QString texts[] = {l.place, QString::number(l.lane), l.number, l.name, l.note, l.time};
            for (std::size_t c = 0; c < columns.size(); ++c)
                paintCell(painter, body_, columns[c], base, texts[c]);
        } else {
            const RankedLane &r = slice.ranking->lanes[row];
            const QString texts[] = {r.place,         QString::number(r.heat), QString::number(r.lane.lane),
                                     r.lane.number,   r.lane.name,             r.lane.note,
                                     r.lane.time};
            for (std::size_t c = 0; c < columns.size(); ++c)
                paintCell(painter, body_, columns[c], base, texts[c]);
        }
        y += rowHeight_;
    }
    // The notes of a heat's race, in small type under its lanes.
    if (slice.heat && !slice.heat->notes.isEmpty()) {
        painter.setFont(foot_.font);
        y += 0.5 * noteHeight_;
        for (const QString &note : printedNotes(slice.heat->notes)) {
            painter.drawText(QPointF(1.5 * mm_, y + foot_.metrics.ascent()),
                             foot_.metrics.elidedText(note, Qt::ElideRight, width - 3 * mm_));
            y += noteHeight_;
        }
    }
}

QPageLayout resultsPageLayout()
{
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(18, 15, 18, 12),
                       QPageLayout::Millimeter);
}

int paintResults(QPagedPaintDevice &device, const ResultsDocument &document, const QDateTime &printedAt,
                 const std::function<void()> &afterPage)
{
    QPainter painter;
    if (!painter.begin(&device))
        return 0;
    const ResultsSheet sheet(document, device, QSizeF(device.width(), device.height()), printedAt);
    const QPageRanges ranges = device.pageRanges();
    bool first = true;
    for (int page = 0; page < sheet.pageCount(); ++page) {
        if (!ranges.isEmpty() && !ranges.contains(page + 1))
            continue;
        if (!first)
            device.newPage();
        first = false;
        sheet.paintPage(painter, page);
        if (afterPage)
            afterPage();
    }
    painter.end();
    return sheet.pageCount();
}

QByteArray resultsPdf(const ResultsDocument &document, const QDateTime &printedAt,
                      const std::function<void()> &afterPage)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageLayout(resultsPageLayout());
        writer.setTitle(QStringLiteral("Ergebnisse %1").arg(document.title).trimmed());
        writer.setCreator(QStringLiteral("Zielkron %1").arg(QString::fromLatin1(build::Version)));
        paintResults(writer, document, printedAt, afterPage);
    }
    return bytes;
}

} // namespace results
