#include "FrameLine.h"

#include "Dmn_led.h"
#include "Label3D.h"
#include "Shape.h"

#include <QAccessible>
#include <QBackingStore>
#include <QWindow>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QGlyphRun>
#include <QHash>
#include <QImage>
#include <QPaintEngine>
#include <QLocale>
#include <QPushButton>
#include <QValidator>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

// A short text kept by value, sharing no buffer with the labels' texts (the running clock writes its
// texts in place, which a shared buffer would turn into a copy).
struct KeptText {
    std::array<char16_t, 40> chars{};
    qsizetype size = -1; // -1: none
    void set(const QString &text)
    {
        size = std::min<qsizetype>(text.size(), static_cast<qsizetype>(chars.size()));
        std::copy_n(reinterpret_cast<const char16_t *>(text.constData()), size, chars.begin());
        if (text.size() > size)
            size = -1; // too long to keep: never equal
    }
    bool equals(const QString &text) const
    {
        return size == text.size() && std::equal(chars.begin(), chars.begin() + size, reinterpret_cast<const char16_t *>(text.constData()));
    }
};


// Keeps only the digits 0..9 of what the operator puts into the start-number field by a way other
// than a typed key: a paste from the context menu, a dropped text, an input method's text. Only the
// new part of the text is filtered; what the field held stays as it stands, such as a start list's
// number with letters ("b4").
class DigitsOnly final : public QValidator {
public:
    explicit DigitsOnly(QLineEdit *field) : QValidator(field)
    {
        connect(field, &QLineEdit::textChanged, this, [this](const QString &text) { before_ = text; });
    }
    State validate(QString &input, int &pos) const override
    {
        // The new part lies between the beginning and the end that the text shares with the one before.
        const qsizetype common = std::min(input.size(), before_.size());
        qsizetype head = 0;
        while (head < common && input[head] == before_[head])
            ++head;
        qsizetype tail = 0;
        while (tail < common - head && input[input.size() - 1 - tail] == before_[before_.size() - 1 - tail])
            ++tail;
        QString kept = input.first(head);
        int newPos = pos;
        for (qsizetype i = head; i < input.size() - tail; ++i) {
            if (TFrameLine::eNumKeyPress(input[i]) && input[i] != QChar(8))
                kept += input[i];
            else if (i < pos)
                --newPos;
        }
        kept += input.last(tail);
        input = kept;
        pos = newPos;
        return Acceptable;
    }

private:
    QString before_;
};

QFont arial(int pixelSize, bool bold)
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

// A time label as assistive technology sees it: its lane and the time it shows, read from the label
// whenever asked ("Zeit Bahn 1: 10,23"; "Zeit Bahn 1" while it shows nothing).
class TimeLabelAccessible final : public QAccessibleWidget {
public:
    explicit TimeLabelAccessible(QWidget *label) : QAccessibleWidget(label, QAccessible::StaticText) {}
    QString text(QAccessible::Text t) const override
    {
        const QString own = QAccessibleWidget::text(t);
        if (t != QAccessible::Name)
            return own;
        const QString time = static_cast<const QLabel *>(widget())->text().trimmed();
        return time.isEmpty() ? own : own + QStringLiteral(": ") + time;
    }
};

QAccessibleInterface *timeLabelAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("TTimeLabel") && object->isWidgetType())
        return new TimeLabelAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

TTimeLabel::TTimeLabel(QWidget *parent) : QLabel(parent)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::Active, QPalette::WindowText, Qt::yellow);
    pal.setColor(QPalette::Inactive, QPalette::WindowText, Qt::yellow);
    pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    setPalette(pal);
    setAutoFillBackground(false);
    // The label paints every pixel of its rectangle itself, in the row's colour while it is
    // "transparent": a running clock's refresh then repaints the label alone, never the row
    // behind it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    [[maybe_unused]] static const bool accessible = [] {
        QAccessible::installFactory(timeLabelAccessible);
        return true;
    }();
}

void TTimeLabel::setTransparent(bool transparent)
{
    if (transparent == transparent_)
        return;
    transparent_ = transparent;
    update();
}

void TTimeLabel::setText(const QString &text)
{
    // A text the running clock showed already (a lane stopped at the time of the last tick) is
    // announced too when that tick was not.
    if ((changeText(text) || unannounced_) && QAccessible::isActive())
        announceName();
    unannounced_ = false;
}

void TTimeLabel::showRunningTime(const QString &text, bool batched)
{
    // A hundred name changes a second per lane would flood a listening screen reader (and cost
    // the desk a few per cent of a core): the running time is announced once a second, and read
    // as it is whenever asked.
    if (!changeText(text, batched))
        return;
    unannounced_ = true;
    if (QAccessible::isActive() && (!announced_.isValid() || announced_.hasExpired(1000))) {
        announceName();
        announced_.start();
    }
}

void TTimeLabel::announceName()
{
    QAccessibleEvent event(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
    unannounced_ = false;
}

bool TTimeLabel::changeText(const QString &text, bool batched)
{
    const QString old = QLabel::text();
    if (text == old)
        return false;
    // The contents rectangle asks the window for its safe margins: read once for the whole change.
    const QRect contents = this->contents();
    QRect dirty = contents;
    if (isVisible()) {
        if (font() != glyphFont_ || !raw_.isValid())
            prepareGlyphs();
        // The lanes of a running race change from the same text to the same text in labels laid
        // out alike: the part that changes is worked out once for all of them.
        struct Last {
            KeptText old, text;
            QRect contents;
            int font = -1;
            std::optional<QRect> changed;
        };
        static Last last;
        if (!(last.font == fontId_ && last.contents == contents && last.text.equals(text) && last.old.equals(old))) {
            last.old.set(old);
            last.text.set(text);
            last.contents = contents;
            last.font = fontId_;
            last.changed = changedInk(old, text, contents);
        }
        if (const std::optional<QRect> &changed = last.changed)
            dirty = *changed;
    }
    const bool wasDisabled = testAttribute(Qt::WA_UpdatesDisabled);
    setAttribute(Qt::WA_UpdatesDisabled, true); // QLabel would repaint all of itself
    QLabel::setText(text); // announces nothing itself: the label has an accessible name
    setAttribute(Qt::WA_UpdatesDisabled, wasDisabled);
    if (!wasDisabled && !dirty.isEmpty()) {
        if (batched)
            pendingDirty_ |= dirty; // painted by PaintRunningTimes
        else
            update(dirty);
    }
    return true;
}

QRect TTimeLabel::contents() const
{
    if (contentsSize_ != size()) {
        contents_ = contentsRect();
        contentsSize_ = size();
    }
    return contents_;
}

bool TTimeLabel::event(QEvent *event)
{
    // Margins, a frame or the window's safe area changed: the contents are worked out anew.
    if (event->type() == QEvent::ContentsRectChange || event->type() == QEvent::StyleChange)
        contentsSize_ = QSize();
    return QLabel::event(event);
}

bool TTimeLabel::ownLayout() const
{
    // Only the label's own layout: right-aligned, centred vertically, plain one-line text.
    return alignment() == (Qt::AlignRight | Qt::AlignVCenter) && margin() == 0 && indent() <= 0 && !wordWrap()
           && frameWidth() == 0 && raw_.isValid();
}

bool TTimeLabel::known(QStringView text) const
{
    for (const QChar c : text)
        if (c.unicode() >= glyphs_.size()
            || (glyphs_[c.unicode()] == 0 && (c != QLatin1Char(' ') || advances_[c.unicode()] <= 0)))
            return false;
    return true;
}

qreal TTimeLabel::advance(QStringView text) const
{
    qreal width = 0;
    for (const QChar c : text)
        width += advances_[c.unicode()];
    return width;
}

int TTimeLabel::baseline(const QRect &contents) const
{
    return contents.top() + (contents.height() - fontHeight_) / 2 + fontAscent_;
}

std::optional<QRect> TTimeLabel::changedInk(const QString &old, const QString &text, const QRect &contents) const
{
    if (!ownLayout() || !known(old) || !known(text))
        return std::nullopt;
    // The time is right-aligned: the ending both texts share stays in place, and so does their
    // common beginning when both are equally wide (a running time: all digits are). Whatever
    // lies between is erased where the old glyphs were and drawn where the new ones go.
    qsizetype same = 0;
    while (same < text.size() && same < old.size() && text[text.size() - 1 - same] == old[old.size() - 1 - same])
        ++same;
    const qreal right = contents.right() + 1;
    const qreal newWidth = advance(text);
    const qreal oldWidth = advance(old);
    qsizetype lead = 0;
    if (newWidth == oldWidth)
        while (lead < text.size() - same && lead < old.size() - same && text[lead] == old[lead])
            ++lead;
    const int base = baseline(contents);
    QRectF ink;
    auto inkOf = [this, &ink, base](QStringView t, qreal x, qsizetype from, qsizetype to) {
        x += advance(t.left(from));
        for (qsizetype i = from; i < to; ++i) {
            const QRectF glyph = inks_[t[i].unicode()];
            if (!glyph.isEmpty())
                ink |= glyph.translated(x, base);
            x += advances_[t[i].unicode()];
        }
    };
    inkOf(text, right - newWidth, lead, text.size() - same);
    inkOf(old, right - oldWidth, lead, old.size() - same);
    // A pixel more on each side takes in the antialiased edges.
    return ink.toAlignedRect().adjusted(-1, -1, 1, 1) & contents;
}

void TTimeLabel::prepareGlyphs()
{
    glyphFont_ = font();
    raw_ = QRawFont::fromFont(glyphFont_);
    glyphs_.fill(0);
    advances_.fill(0);
    inks_.fill(QRectF());
    const QFontMetrics metrics(glyphFont_);
    fontHeight_ = metrics.height();
    fontAscent_ = metrics.ascent();
    // Fonts seen by any time label get a number each: the shared pictures are told apart by it.
    static QHash<QString, int> fonts;
    fontId_ = static_cast<int>(fonts.value(glyphFont_.key(), static_cast<int>(fonts.size())));
    fonts.insert(glyphFont_.key(), fontId_);
    const QFontMetricsF fm(glyphFont_);
    QString chars = QStringLiteral("0123456789:,. ");
    chars += QLocale().decimalPoint();
    for (const QChar c : chars) {
        if (c.unicode() >= glyphs_.size())
            continue;
        const QList<quint32> index = raw_.glyphIndexesForString(QString(c));
        if (index.size() == 1 && (index[0] != 0 || c == QLatin1Char(' '))) {
            glyphs_[c.unicode()] = index[0] == 0 ? 0 : index[0];
            advances_[c.unicode()] = fm.horizontalAdvance(c);
            inks_[c.unicode()] = index[0] == 0 ? QRectF() : raw_.boundingRect(index[0]);
        }
    }
}

void TTimeLabel::glyphsIn(const QString &t, const QRect &area, QList<quint32> &indexes,
                          QList<QPointF> &positions) const
{
    indexes.reserve(t.size());
    positions.reserve(t.size());
    const QRect contents = this->contents();
    qreal x = contents.right() + 1 - advance(t);
    const int base = baseline(contents);
    // A glyph whose ink lies wholly outside the repainted area is left out: the clip would
    // discard all of it anyway.
    const QRectF reach = QRectF(area).adjusted(-1, -1, 1, 1);
    for (const QChar c : t) {
        if (glyphs_[c.unicode()] != 0 && inks_[c.unicode()].translated(x, base).intersects(reach)) {
            indexes << glyphs_[c.unicode()];
            positions << QPointF(x, base);
        }
        x += advances_[c.unicode()];
    }
}

void TTimeLabel::drawGlyphs(QPainter &p, const QList<quint32> &indexes, const QList<QPointF> &positions,
                            const QColor &ink) const
{
    if (indexes.isEmpty())
        return;
    QGlyphRun run;
    run.setRawFont(raw_);
    run.setGlyphIndexes(indexes);
    run.setPositions(positions);
    p.setPen(ink);
    p.drawGlyphRun(QPointF(0, 0), run);
}

// Pictures of repainted parts of running times, shared by all time labels: the ten lanes show the
// same time, and a running clock shows the same last digits over and over. A picture is a copy of
// what the label drew there itself (the fill, then the glyphs at the same sub-pixel positions), so
// copying it in gives the very pixels drawing would.
// What a repainted part of a running time shows depends on its size, the colours, the font and the
// glyphs with their positions relative to its corner (sub-pixel parts included): that is its key.
struct TTimeLabel::PictureKey {
    static constexpr qsizetype MaxGlyphs = 8; // a part with more is drawn, not kept
    int font, format, width, height;
    QRgb fill, ink;
    qsizetype count;
    std::array<quint32, MaxGlyphs> glyphs;
    std::array<qreal, MaxGlyphs> xs, ys;
    PictureKey() { std::memset(static_cast<void *>(this), 0, sizeof *this); } // hashed as bytes: no stray padding
    bool operator==(const PictureKey &other) const { return std::memcmp(this, &other, sizeof *this) == 0; }
    friend size_t qHash(const PictureKey &key, size_t seed = 0) { return qHashBits(&key, sizeof key, seed); }
};

namespace {
struct TimePictures {
    QHash<TTimeLabel::PictureKey, QImage> pictures;
    qsizetype bytes = 0;
    static constexpr qsizetype MaxBytes = 4 * 1024 * 1024;
};

TimePictures &timePictures()
{
    static TimePictures cache;
    return cache;
}

// The picture the label copied in last and what it showed there: the lanes of a running race show
// the same text in the same place of their labels, so the next label takes it as it is.
struct LastPicture {
    KeptText text;
    QRect area;
    int font = -1;
    QRgb fill = 0, ink = 0;
    QImage picture;
};

LastPicture &lastPicture()
{
    static LastPicture last;
    return last;
}

// The device as an image a picture can be copied into pixel for pixel.
QImage *plainImage(QPaintDevice *device)
{
    if (!device || device->devType() != QInternal::Image)
        return nullptr;
    auto *image = static_cast<QImage *>(device);
    if (image->format() != QImage::Format_RGB32 && image->format() != QImage::Format_ARGB32_Premultiplied)
        return nullptr;
    if (image->devicePixelRatio() != 1.0)
        return nullptr;
    return image;
}

// The painter's target when it is such an image and the painter only moves whole pixels.
QImage *plainTarget(QPainter &p)
{
    QImage *image = plainImage(p.paintEngine() ? p.paintEngine()->paintDevice() : nullptr);
    const QTransform t = p.deviceTransform();
    if (!image || t.type() > QTransform::TxTranslate || t.dx() != std::floor(t.dx()) || t.dy() != std::floor(t.dy()))
        return nullptr;
    return image;
}
} // namespace

bool TTimeLabel::drawnFromGlyphs()
{
    if (font() != glyphFont_ || !raw_.isValid())
        prepareGlyphs();
    return ownLayout() && known(text());
}

void TTimeLabel::paintEvent(QPaintEvent *event)
{
    const QRect area = event->rect();
    if (!drawnFromGlyphs()) {
        {
            QPainter p(this);
            p.fillRect(area, fillColour());
        }
        QLabel::paintEvent(event);
        return;
    }
    QPainter p(this);
    paintTime(p, area, event->region().rectCount() == 1);
}

QColor TTimeLabel::fillColour() const
{
    const QWidget *row = parentWidget();
    return transparent_ && row ? row->palette().color(QPalette::Window) : palette().color(QPalette::Window);
}

QColor TTimeLabel::inkColour() const
{
    const QPalette &own = palette();
    return own.color(isEnabled() ? own.currentColorGroup() : QPalette::Disabled, foregroundRole());
}

void TTimeLabel::pictureKey(const QRect &area, int format, QRgb fill, QRgb ink, PictureKey &key) const
{
    key.font = fontId_;
    key.format = format;
    key.width = area.width();
    key.height = area.height();
    key.fill = fill;
    key.ink = ink;
    key.count = paintIndexes_.size();
    for (qsizetype i = 0; i < paintIndexes_.size(); ++i) {
        const auto at = static_cast<std::size_t>(i);
        key.glyphs[at] = paintIndexes_[i];
        key.xs[at] = paintPositions_[i].x() - area.left();
        key.ys[at] = paintPositions_[i].y() - area.top();
    }
}

bool TTimeLabel::copyKept(QImage &target, QPoint corner, const QRect &area)
{
    const QString shown = text();
    const QRgb fill = fillColour().rgba();
    const QRgb ink = inkColour().rgba();
    const QRect to = area.translated(corner);
    LastPicture &last = lastPicture();
    if (!last.picture.isNull() && last.area == area && last.text.equals(shown) && last.font == fontId_
        && last.fill == fill && last.ink == ink)
        return copyPicture(target, to, last.picture);
    // The glyph lists and the picture's key are kept from paint to paint: a frame of the running
    // clock allocates none of them anew.
    paintIndexes_.resize(0);
    paintPositions_.resize(0);
    glyphsIn(shown, area, paintIndexes_, paintPositions_);
    if (paintIndexes_.size() > PictureKey::MaxGlyphs)
        return false;
    PictureKey key;
    pictureKey(area, static_cast<int>(target.format()), fill, ink, key);
    const TimePictures &cache = timePictures();
    const auto found = cache.pictures.constFind(key);
    if (found == cache.pictures.constEnd() || !copyPicture(target, to, *found))
        return false;
    last = LastPicture{{}, area, fontId_, fill, ink, *found};
    last.text.set(shown);
    return true;
}

void TTimeLabel::paintTime(QPainter &p, const QRect &area, bool keep)
{
    // A running time is drawn from glyphs looked up once: no text layout on every tick.
    QImage *target = plainTarget(p);
    if (target && keep && copyKept(*target, p.deviceTransform().map(QPoint()), area))
        return;
    lastPicture() = LastPicture{};
    const QColor fill = fillColour();
    const QColor ink = inkColour();
    // Whatever is drawn stays inside the area (the window's own painter has no clip of the label's).
    p.setClipRect(area, Qt::IntersectClip);
    paintIndexes_.resize(0);
    paintPositions_.resize(0);
    glyphsIn(text(), area, paintIndexes_, paintPositions_);
    if (!target || paintIndexes_.size() > PictureKey::MaxGlyphs) {
        p.fillRect(area, fill);
        drawGlyphs(p, paintIndexes_, paintPositions_, ink);
        return;
    }
    PictureKey key;
    pictureKey(area, static_cast<int>(target->format()), fill.rgba(), ink.rgba(), key);
    TimePictures &cache = timePictures();
    const auto found = cache.pictures.constFind(key);
    if (found != cache.pictures.constEnd()) {
        // Kept, but not to be copied as it is (something clips the area).
        const QPainter::CompositionMode mode = p.compositionMode();
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(area.topLeft(), *found);
        p.setCompositionMode(mode);
        return;
    }
    // Drawn where it shows, as the label itself draws (the font's own antialiasing, sub-pixel
    // colours included); what was drawn becomes the picture when nothing clipped it.
    p.fillRect(area, fill);
    drawGlyphs(p, paintIndexes_, paintPositions_, ink);
    if (!keep)
        return;
    const QRect drawn = p.deviceTransform().mapRect(area);
    if (!target->rect().contains(drawn))
        return;
    const QImage picture = target->copy(drawn);
    if (cache.bytes + picture.sizeInBytes() > TimePictures::MaxBytes) {
        cache.pictures.clear();
        cache.bytes = 0;
    }
    cache.bytes += picture.sizeInBytes();
    cache.pictures.insert(key, picture);
}

bool TTimeLabel::copyPicture(QImage &image, const QRect &to, const QImage &picture)
{
    // The picture goes in as it is, line by line, where nothing clips the area (the image is the
    // window's own, shared with no one); otherwise it is drawn.
    if (!image.isDetached() || picture.format() != image.format() || !image.rect().contains(to) || picture.depth() != 32
        || picture.size() != to.size())
        return false;
    const auto bytes = static_cast<std::size_t>(picture.width()) * 4;
    const qsizetype toLine = image.bytesPerLine(), fromLine = picture.bytesPerLine();
    uchar *line = image.bits() + to.y() * toLine + std::ptrdiff_t{to.x()} * 4;
    const uchar *from = picture.constBits();
    for (int y = 0, h = picture.height(); y < h; ++y, line += toLine, from += fromLine)
        std::memcpy(line, from, bytes);
    return true;
}

bool TTimeLabel::looksLike(const TTimeLabel &other) const
{
    return pendingDirty_ == other.pendingDirty_ && fontId_ == other.fontId_ && contents() == other.contents()
           && text() == other.text() && fillColour() == other.fillColour() && inkColour() == other.inkColour();
}

bool TTimeLabel::PaintRunningTimes(QWidget *window, const std::vector<TTimeLabel *> &labels)
{
    // What the running clock changed in its labels, drawn straight into the window's backing
    // store in one pass and sent to the screen in one flush, as the window's own repaint would
    // do it, but without a paint event, a painter and the walk through the window's widgets for
    // each label. The labels' texts are set already, so any later repaint draws the same.
    QBackingStore *store = window ? window->backingStore() : nullptr;
    QWindow *handle = window ? window->windowHandle() : nullptr;
    bool direct = store && handle && handle->isExposed() && window->updatesEnabled();
    // Kept from frame to frame, so that a frame allocates none of them anew.
    static std::vector<QRect> rects, drawn, copies;
    static std::vector<QPoint> corners;
    static std::vector<std::size_t> sources; // per label: the label it copies, itself when drawn
    rects.clear();
    drawn.clear();
    copies.clear();
    corners.clear();
    sources.clear();
    std::size_t source = labels.size();
    for (std::size_t i = 0; i < labels.size(); ++i) {
        TTimeLabel *label = labels[i];
        sources.push_back(i);
        if (label->pendingDirty_.isEmpty()) {
            corners.emplace_back();
            continue;
        }
        if (direct && (!label->isVisible() || !label->updatesEnabled() || !label->drawnFromGlyphs()))
            direct = false;
        corners.push_back(label->mapTo(window, QPoint()));
        rects.push_back(label->pendingDirty_.translated(corners.back()));
        // A lane that shows what the lane drawn before it shows, where it shows it and in its
        // colours, gets a copy of that lane's pixels.
        if (source < labels.size() && label->looksLike(*labels[source])) {
            sources.back() = source;
            copies.push_back(rects.back());
            continue;
        }
        source = i;
        drawn.push_back(rects.back());
    }
    if (rects.empty())
        return true;
    if (direct) {
        auto draw = [store, &labels](bool copies) {
            QPaintDevice *device = store->paintDevice();
            if (!device)
                return false;
            // Kept pictures are copied in as they are; a painter is begun only for a part that
            // must be drawn (the first frames of a race, a new colour).
            QImage *image = plainImage(device);
            std::optional<QPainter> p;
            for (std::size_t i = 0; i < labels.size(); ++i) {
                TTimeLabel *label = labels[i];
                if (label->pendingDirty_.isEmpty() || (sources[i] != i) != copies)
                    continue;
                if (image && label->copyKept(*image, corners[i], label->pendingDirty_))
                    continue;
                if (!p)
                    p.emplace(device);
                // Each label's clip and origin are its own, not narrowed by the label before.
                p->save();
                p->setTransform(QTransform::fromTranslate(corners[i].x(), corners[i].y()));
                label->paintTime(*p, label->pendingDirty_, true);
                p->restore();
            }
            return true;
        };
        QRegion region;
        region.setRects(drawn.data(), static_cast<int>(drawn.size()));
        store->beginPaint(region);
        direct = draw(false);
        store->endPaint();
        // The copies are made by the backing store itself: on X11 inside the X server, from the
        // pixels just sent up, so that each changed part goes up once and not once per lane.
        // Where the backing store cannot copy, the copies are drawn as well.
        bool copied = true;
        for (std::size_t i = 0; direct && copied && i < labels.size(); ++i)
            if (sources[i] != i && !labels[i]->pendingDirty_.isEmpty()) {
                const QPoint by = corners[i] - corners[sources[i]];
                copied = store->scroll(QRegion(labels[sources[i]]->pendingDirty_.translated(corners[sources[i]])), by.x(), by.y());
            }
        if (direct && !copied) {
            region.setRects(copies.data(), static_cast<int>(copies.size()));
            store->beginPaint(region);
            direct = draw(true);
            store->endPaint();
        }
        // The changed parts go up as they are; the screen takes them in one copy of the rectangle
        // around them all (the backing store holds the rest of it unchanged).
        if (direct) {
            region.setRects(rects.data(), static_cast<int>(rects.size()));
            store->flush(QRegion(region.boundingRect()), handle);
        }
    }
    for (TTimeLabel *label : labels) {
        if (!direct && !label->pendingDirty_.isEmpty())
            label->update(label->pendingDirty_);
        label->pendingDirty_ = QRect();
    }
    return direct;
}

TFrameLine::TFrameLine(int lane, QWidget *parent) : QFrame(parent), tag_(lane)
{
    setObjectName(QStringLiteral("FrameLine%1").arg(lane));
    resize(RowWidth, RowHeight);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(154, 97, 90));
    setPalette(pal);

    cbON = new QCheckBox(this);
    cbON->setObjectName(QStringLiteral("cbON"));
    cbON->setGeometry(3, 18, 17, 17);
    cbON->setChecked(true);
    cbON->setToolTip(QStringLiteral("Ctrl+F%1").arg(lane));
    cbON->setFocusPolicy(Qt::NoFocus);
    cbON->hide();

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(24, 4, 88, 50);
    Image1->setScaledContents(true);
    Image1->setAlignment(Qt::AlignCenter);

    Shape = new TShape(this);
    Shape->setObjectName(QStringLiteral("Shape"));
    Shape->setGeometry(46, 13, 42, 32);
    Shape->setPenColor(Qt::red);
    Shape->setBrushColor(QColor());
    Shape->hide();

    eNum = new QLineEdit(this);
    eNum->setObjectName(QStringLiteral("eNum"));
    eNum->setGeometry(114, 3, 119, 52);
    eNum->setFont(arial(37, true));
    eNum->setMaxLength(5);
    eNum->setValidator(new DigitsOnly(eNum));
    eNum->installEventFilter(this);

    eName = new QLineEdit(this);
    eName->setObjectName(QStringLiteral("eName"));
    eName->setGeometry(240, 3, 457, 52);
    eName->setFont(arial(37, true));

    LabelTime = new TTimeLabel(this);
    LabelTime->setObjectName(QStringLiteral("LabelTime"));
    LabelTime->setGeometry(701, 3, 164, 53);
    // A fixed size: a new text never asks the row to lay itself out again.
    LabelTime->setFixedSize(164, 53);
    LabelTime->setText(QStringLiteral("0,00 "));
    LabelTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LabelTime->setTextFormat(Qt::PlainText);
    // The lane part of the time's accessible name; the time itself follows it.
    LabelTime->setAccessibleName(QStringLiteral("Zeit Bahn %1").arg(lane));
    LabelTime->setFont(arial(43, true));
    LabelTime->setTag(-1);

    bKey = new QPushButton(QStringLiteral("F%1").arg(lane), this);
    bKey->setObjectName(QStringLiteral("bKey"));
    bKey->setGeometry(868, 4, 67, 53);
    bKey->setFont(arial(32, true));
    {
        QPalette kp = bKey->palette();
        kp.setColor(QPalette::Active, QPalette::ButtonText, Qt::white);
        kp.setColor(QPalette::Inactive, QPalette::ButtonText, Qt::white);
        kp.setColor(QPalette::Button, QColor(112, 70, 65));
        bKey->setPalette(kp);
    }
    bKey->setFocusPolicy(Qt::NoFocus);
    bKey->setEnabled(false);

    Led = new TLed(this);
    Led->setObjectName(QStringLiteral("Led"));
    Led->setGeometry(903, 24, 16, 16);
    Led->setKind(lkRed);
    Led->hide();

    ePlatz = new TLabel3D(this);
    ePlatz->setObjectName(QStringLiteral("ePlatz"));
    ePlatz->setGeometry(936, 3, 83, 53);
    ePlatz->setCaption(QStringLiteral("1"));
    ePlatz->setAlignment(Qt::AlignCenter);
    ePlatz->setColor(QColor(210, 174, 162));
    ePlatz->setFont(arial(32, true));
    ePlatz->setBorderStyle(lbLowered);
    ePlatz->setBorderWidth(2);
    ePlatz->setBorderColor(Qt::black);
    ePlatz->setCursor(Qt::PointingHandCursor);
    ePlatz->setToolTip(QStringLiteral("Doppelklick = Zeit/Aus"));
    {
        QPalette lp = ePlatz->palette();
        lp.setColor(QPalette::WindowText, Qt::black);
        ePlatz->setPalette(lp);
    }

    Shape1 = new TShape(this);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setGeometry(0, RowHeight - 4, RowWidth, 4);
    Shape1->setPenColor(QColor());
    Shape1->setBrushColor(QColor(227, 184, 175));

    connect(cbON, &QCheckBox::toggled, this, &TFrameLine::cbONClick);
    connect(bKey, &QPushButton::clicked, this, &TFrameLine::bKeyClick);
    connect(ePlatz, &TLabel3D::OnDblClick, this, &TFrameLine::eAusDblClick);
    connect(ePlatz, &TLabel3D::OnMouseDown, this,
            [this](TLabel3D *, Qt::MouseButton button) { ePlatzMouseDown(button); });
}

void TFrameLine::cbONClick()
{
    LabelTime->setEnabled(cbON->isChecked());
    Shape->setVisible(!LabelTime->isEnabled());
}

void TFrameLine::bKeyClick()
{
    emit StopKeyPressed(tag_);
}

void TFrameLine::eAusDblClick()
{
    emit OutToggled(tag_);
}

void TFrameLine::ePlatzMouseDown(Qt::MouseButton button)
{
    if (button == Qt::RightButton)
        emit PlaceMenuTarget(this);
}

void TFrameLine::setStartNumber(const QString &text)
{
    // The filter is for the operator's input only.
    const QValidator *filter = eNum->validator();
    eNum->setValidator(nullptr);
    eNum->setText(text);
    eNum->setValidator(filter);
}

bool TFrameLine::eNumKeyPress(QChar key)
{
    return (key >= QLatin1Char('0') && key <= QLatin1Char('9')) || key == QChar(8);
}

bool TFrameLine::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == eNum && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const QString text = key->text();
        // Every typed character but a digit or backspace is discarded, control characters such
        // as the one of Ctrl+V included. Editing keys without a character (Delete, arrows) pass.
        if (text.size() == 1 && text[0] != QChar(0x7F) && !eNumKeyPress(text[0]))
            return true;
        if (key->matches(QKeySequence::Paste))
            return true;
    }
    return QFrame::eventFilter(watched, event);
}
