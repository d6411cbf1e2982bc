#pragma once
// The results lists on paper: a document laid out on pages and drawn with QPainter, the same for
// the printer, the print preview and the PDF file. Black on white: a header with the meeting's
// title and date and a footer with the page, the time of printing and the program on every page;
// each heat a block that never breaks across pages, the notes of its race in small lines under its
// lanes; a ranking continues on the next page.

#include "ResultsList.h"

#include <QDateTime>
#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QPageLayout>
#include <QSizeF>

#include <functional>
#include <vector>

class QPagedPaintDevice;
class QPaintDevice;
class QPainter;

namespace results {

class ResultsSheet {
public:
    // area: the paintable part of a page in the device's pixels; the device gives the resolution.
    ResultsSheet(const ResultsDocument &document, const QPaintDevice &device, QSizeF area, QDateTime printedAt);

    int pageCount() const { return static_cast<int>(pages_.size()); }
    // Paints page 0 .. pageCount() - 1 with its top left corner at the painter's origin, on a
    // device of the resolution the sheet was made for.
    void paintPage(QPainter &painter, int page) const;

private:
    // A font with its metrics on the device, and the widths of the texts drawn in it: most recur
    // (lanes, places, clubs), so each is measured once per sheet.
    struct Font {
        Font(const QFont &font, const QPaintDevice &device) : font(font), metrics(font, &device) {}
        QFont font;
        QFontMetricsF metrics;
        mutable QHash<QString, double> widths;
        double width(const QString &text) const;
    };
    struct Slice {
        const HeatResult *heat = nullptr; // a heat block, or
        const Ranking *ranking = nullptr; // a part of a ranking
        std::size_t first = 0, count = 0; // its rows
        double top = 0;
        bool continued = false;
    };
    struct Column {
        QString title;
        double left, width;
        bool right; // right-aligned
    };
    double blockHeight(std::size_t rows) const;
    // A heat's block with the notes of its race under its lanes.
    double heatHeight(const HeatResult &heat) const;
    void layOut();
    void paintHeader(QPainter &painter, int page) const;
    void paintSlice(QPainter &painter, const Slice &slice) const;
    void paintCell(QPainter &painter, const Font &font, const Column &column, double baseline,
                   const QString &text) const;

    const ResultsDocument &document_;
    QSizeF area_;
    QDateTime printedAt_;
    double mm_; // pixels per millimetre
    Font title_, heading_, head_, body_, foot_;
    double headingHeight_, headRowHeight_, rowHeight_, noteHeight_, gap_, top_, bottom_;
    std::vector<Column> heatColumns_, rankingColumns_;
    std::vector<std::vector<Slice>> pages_;
};

// The page layout of the lists: A4 upright with margins for any printer.
QPageLayout resultsPageLayout();

// Paints the document on the device, page after page, with its page layout as it is set; only the
// pages of the device's page ranges where it has any. afterPage runs after each page. Returns the
// number of pages of the document; 0 when painting could not begin.
int paintResults(QPagedPaintDevice &device, const ResultsDocument &document, const QDateTime &printedAt,
                 const std::function<void()> &afterPage = {});

// The document as a PDF file's bytes, A4; afterPage as for paintResults.
QByteArray resultsPdf(const ResultsDocument &document, const QDateTime &printedAt,
                      const std::function<void()> &afterPage = {});

} // namespace results
