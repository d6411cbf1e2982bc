#include "LbSpeedButton.h"

#include <QEnterEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QShortcutEvent>

#include <algorithm>
#include <chrono>

// ---- fade thread ----

TLbButtonThread::TLbButtonThread(QObject *owner, std::function<void()> method)
    : owner_(owner), method_(std::move(method))
{
    setObjectName(QStringLiteral("TLbButtonThread"));
}

TLbButtonThread::~TLbButtonThread()
{
    Terminate();
    wait();
}

void TLbButtonThread::Resume()
{
    std::lock_guard lock(sync_->mutex);
    sync_->suspended = false;
    sync_->changed.notify_all();
}

void TLbButtonThread::Suspend()
{
    std::lock_guard lock(sync_->mutex);
    sync_->suspended = true;
}

bool TLbButtonThread::Suspended() const
{
    std::lock_guard lock(sync_->mutex);
    return sync_->suspended;
}

void TLbButtonThread::Terminate()
{
    std::lock_guard lock(sync_->mutex);
    sync_->terminated = true;
    sync_->changed.notify_all();
}

bool TLbButtonThread::Terminated() const
{
    std::lock_guard lock(sync_->mutex);
    return sync_->terminated;
}

void TLbButtonThread::run()
{
    const std::shared_ptr<Sync> s = sync_;
    for (;;) {
        quint64 ticket = 0;
        {
            std::unique_lock lock(s->mutex);
            s->changed.wait(lock, [&] { return s->terminated || !s->suspended; });
            if (s->terminated)
                return;
            if (s->changed.wait_for(lock, std::chrono::milliseconds(30), [&] { return s->terminated; }))
                return;
            ticket = s->stepsDone + 1;
        }
        // The step runs on the owner's thread. It holds only the shared state and a copy of the
        // method, and Qt drops it unrun if the owner is destroyed first, so a stop never has to wait
        // for the owner's thread (which may be the one waiting for this thread to end).
        QMetaObject::invokeMethod(
            owner_,
            [s, method = method_, ticket] {
                method();
                std::lock_guard lock(s->mutex);
                s->stepsDone = std::max(s->stepsDone, ticket);
                s->changed.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock lock(s->mutex);
        s->changed.wait(lock, [&] { return s->terminated || s->stepsDone >= ticket; });
        if (s->terminated)
            return;
    }
}

// ---- drawing helpers ----

namespace {

const QColor kGrayText(0x80, 0x80, 0x80);

QColor blend(const QColor &from, const QColor &to, int step, int steps)
{
    return QColor(from.red() + (to.red() - from.red()) * step / steps,
                  from.green() + (to.green() - from.green()) * step / steps,
                  from.blue() + (to.blue() - from.blue()) * step / steps);
}

// A vertical gradient from 'from' to 'to' over rows top..bottom, as 32 horizontal bands.
void gradient(QPainter &p, int left, int right, int top, int bottom, const QColor &from, const QColor &to)
{
    const int span = bottom - top;
    if (span <= 0)
        return;
    for (int i = 0; i < 32; ++i) {
        const int y = top + i * span / 31;
        int h = span / 31 + 1;
        if (y >= bottom)
            break;
        if (y + h > bottom)
            h = bottom - y;
        p.fillRect(left, y, right - left + 1, h, blend(from, to, i, 31));
    }
}

// A horizontal or vertical line from 'from' towards 'to', the end point left out: consecutive
// segments of an edge then meet without overdrawing each other.
void lineTo(QPainter &p, QPoint from, QPoint to, const QColor &colour)
{
    if (from.y() == to.y()) {
        const int a = from.x(), b = to.x();
        if (b > a)
            p.fillRect(a, from.y(), b - a, 1, colour);
        else if (b < a)
            p.fillRect(b + 1, from.y(), a - b, 1, colour);
    } else {
        const int a = from.y(), b = to.y();
        if (b > a)
            p.fillRect(from.x(), a, 1, b - a, colour);
        else if (b < a)
            p.fillRect(from.x(), b + 1, 1, a - b, colour);
    }
}

// The outer edge: top-left from the bottom-left corner up and across, bottom-right on round.
void edge(QPainter &p, int W, int H, const QColor &topLeft, const QColor &bottomRight)
{
    lineTo(p, {0, H - 1}, {0, 0}, topLeft);
    lineTo(p, {0, 0}, {W - 1, 0}, topLeft);
    lineTo(p, {W - 1, 0}, {W - 1, H - 1}, bottomRight);
    lineTo(p, {W - 1, H - 1}, {0, H - 1}, bottomRight);
}

// The caption as shown: a single '&' marks the accelerator and is not drawn, "&&" draws one '&'.
QString shownText(const QString &caption)
{
    QString out;
    out.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&')) {
            if (i + 1 < caption.size() && caption[i + 1] == QLatin1Char('&'))
                ++i;
            else
                continue;
        }
        out += caption[i];
    }
    return out;
}

// One frame of a glyph strip, with the colour of its lower-left pixel made transparent.
QImage glyphFrame(const QImage &strip, int index, int frameWidth)
{
    QImage frame = strip.copy(index * frameWidth, 0, frameWidth, strip.height())
                       .convertToFormat(QImage::Format_ARGB32);
    if (frame.isNull() || frame.height() == 0)
        return frame;
    const QRgb key = frame.pixel(0, frame.height() - 1);
    for (int y = 0; y < frame.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(frame.scanLine(y));
        for (int x = 0; x < frame.width(); ++x)
            if (line[x] == key)
                line[x] = 0;
    }
    return frame;
}

Qt::Alignment horizontal(TAlignment a)
{
    switch (a) {
    case taRightJustify: return Qt::AlignRight;
    case taCenter: return Qt::AlignHCenter;
    case taLeftJustify: break;
    }
    return Qt::AlignLeft;
}

QColor rgb(QRgb value)
{
    return QColor::fromRgb(value);
}

bool lowColourDisplay()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen && screen->depth() <= 8;
}

} // namespace

QColor fadeBlend(const QColor &colour, const QColor &hot, int level)
{
    level = std::clamp(level, 0, 8);
    return QColor((colour.red() * (8 - level) + hot.red() * level) / 8,
                  (colour.green() * (8 - level) + hot.green() * level) / 8,
                  (colour.blue() * (8 - level) + hot.blue() * level) / 8);
}

// ---- button ----

TLbSpeedButton::TLbSpeedButton(QWidget *parent) : QAbstractButton(parent)
{
    resize(100, 23);
    setFocusPolicy(Qt::NoFocus);
    hotTrackFont_ = parent ? parent->font() : font();
    // Connected first, so the menu is up before any other receiver of the click runs.
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (popup_)
            popup_->popup(mapToGlobal(QPoint(0, height())));
    });
}

TLbSpeedButton::~TLbSpeedButton()
{
    destroying_ = true;
    stopFadeThread();
}

void TLbSpeedButton::setCaption(const QString &caption)
{
    setText(caption);
    update();
}

void TLbSpeedButton::setDown(bool down)
{
    if (down == down_)
        return;
    if (groupIndex_ != 0 && parentWidget()) {
        for (QObject *child : parentWidget()->children()) {
            auto *other = qobject_cast<TLbSpeedButton *>(child);
            if (other && other != this && other->groupIndex_ == groupIndex_)
                other->setDown(false);
        }
    }
    down_ = down;
    if (isCheckable())
        setChecked(down_);
    update();
}

void TLbSpeedButton::setGroupIndex(int index)
{
    if (index == groupIndex_)
        return;
    groupIndex_ = index;
    // A grouped button stays down: screen readers see it as a checked button.
    setCheckable(index != 0);
    if (isCheckable())
        setChecked(down_);
    update();
}

void TLbSpeedButton::nextCheckState()
{
    // The check state follows Down, which the press has already set.
    setChecked(down_);
}

void TLbSpeedButton::setGlyph(const QImage &glyph)
{
    glyph_ = glyph;
    numGlyphs_ = glyph_.isNull() || glyph_.height() == 0 ? 0 : glyph_.width() / glyph_.height();
    update();
}

void TLbSpeedButton::setStyle(TLbSpeedButtonStyle s)
{
    if (s == bsModern && lowColourDisplay())
        s = bsNormal;
    set(style_, s);
}

void TLbSpeedButton::setPopupMenu(QMenu *menu)
{
    if (popup_ == menu)
        return;
    popup_ = menu;
    update();
}

void TLbSpeedButton::setColorStyle(TLbColorStyle colorStyle)
{
    struct Preset {
        QColor color, font, light, shadow, down, hot;
        bool flat;
        TLbSpeedButtonStyle style;
    };
    const QColor face = palette().color(QPalette::Button);
    const QColor none;
    Preset p{};
    switch (colorStyle) {
    case lcsCustom: return;
    case lcsGold: p = {rgb(0xC0C000), Qt::black, rgb(0xFFFF00), rgb(0x808000), none, rgb(0xDFDF00), false, bsModern}; break;
    case lcsChrome: p = {rgb(0xC0C0C0), Qt::black, rgb(0xFFFFFF), rgb(0x808080), none, none, false, bsModern}; break;
    case lcsBlue: p = {rgb(0x0080FF), Qt::black, rgb(0x00FFFF), rgb(0x0000FF), none, none, false, bsModern}; break;
    case lcsRed: p = {rgb(0xFF0000), Qt::black, rgb(0xFFC0C0), rgb(0xC00000), none, none, false, bsModern}; break;
    case lcsUltraFlat1: p = {face, Qt::black, rgb(0x8492B5), rgb(0x8492B5), rgb(0x8492B5), rgb(0xD6D3DE), true, bsNormal}; break;
    case lcsUltraFlat2: p = {face, Qt::black, QColor(Qt::black), QColor(Qt::black), rgb(0xBCDA24), rgb(0xE4F68C), true, bsNormal}; break;
    case lcsUltraFlatXP: p = {rgb(0xDBD8D1), Qt::black, rgb(0x8492B5), rgb(0x8592B5), rgb(0x8592B5), rgb(0xB6BDD2), true, bsNormal}; break;
    case lcsAqua: p = {rgb(0x94CEEC), Qt::black, rgb(0xD4E6FC), QColor(Qt::black), none, none, false, bsModern}; break;
    case lcsDefault: p = {face, Qt::black, rgb(0xFFFFFF), rgb(0x808080), none, none, false, bsNormal}; break;
    case lcsQuicken: p = {rgb(0x003060), Qt::white, rgb(0xC0C0C0), rgb(0xC0C0C0), rgb(0x2965AD), rgb(0x9CAECE), false, bsQuicken}; break;
    }
    color_ = p.color;
    fontColor_ = p.font;
    lightColor_ = p.light;
    shadowColor_ = p.shadow;
    colorWhenDown_ = p.down;
    hotTrackColor_ = p.hot;
    flat_ = p.flat;
    setStyle(p.style);
    update();
}

// ---- fade ----

void TLbSpeedButton::setSlowDecease(bool v)
{
    slowDecease_ = v;
    if (v) {
        if (!thread_) {
            thread_ = std::make_unique<TLbButtonThread>(this, [this] { fadeStep(); });
            thread_->start();
        }
    } else if (thread_) {
        fadeLevel_ = 0;
        stopFadeThread();
    }
    update();
}

void TLbSpeedButton::stopFadeThread()
{
    if (!thread_)
        return;
    thread_->Resume();
    thread_->Terminate();
    thread_->wait();
    thread_.reset();
}

void TLbSpeedButton::fadeStep()
{
    if (destroying_)
        return;
    --fadeLevel_;
    if (fadeLevel_ <= 0) {
        if (thread_ && !thread_->Suspended())
            thread_->Suspend();
        fadeLevel_ = 0;
    }
    update();
}

QColor TLbSpeedButton::fillColour() const
{
    QColor c = color_;
    if (isEnabled() && hotTrackColor_.isValid())
        c = fadeBlend(color_, hotTrackColor_, fadeLevel_);
    if (drawnDown() && colorWhenDown_.isValid())
        c = colorWhenDown_;
    return c;
}

// ---- events ----

bool TLbSpeedButton::event(QEvent *e)
{
    if (e->type() == QEvent::Shortcut && !static_cast<QShortcutEvent *>(e)->isAmbiguous()) {
        if (!isEnabled() || !isVisible())
            return QAbstractButton::event(e);
        // The accelerator shows the button pressed while its click runs, then restores it.
        const bool wasDown = down_;
        down_ = true;
        repaint();
        QPointer<TLbSpeedButton> guard(this);
        click();
        if (guard) {
            down_ = wasDown;
            if (isCheckable())
                setChecked(down_);
            repaint();
        }
        return true;
    }
    return QAbstractButton::event(e);
}

void TLbSpeedButton::enterEvent(QEnterEvent *e)
{
    QAbstractButton::enterEvent(e);
    if (!isEnabled() || !isVisible())
        return;
    hot_ = true;
    fadeLevel_ = 8;
    update();
    emit OnMouseEnter(this);
}

void TLbSpeedButton::leaveEvent(QEvent *e)
{
    QAbstractButton::leaveEvent(e);
    hot_ = false;
    if (slowDecease_ && thread_) {
        if (thread_->Suspended())
            thread_->Resume();
    } else {
        fadeLevel_ = 0;
        update();
    }
    if (isEnabled() && isVisible())
        emit OnMouseExit(this);
}

void TLbSpeedButton::mousePressEvent(QMouseEvent *e)
{
    QAbstractButton::mousePressEvent(e);
    if (e->button() != Qt::LeftButton)
        return;
    if (groupIndex_ == 0 || !down_) {
        pressedByMouse_ = groupIndex_ == 0;
        setDown(true);
    } else if (allowAllUp_) {
        setDown(false);
    }
}

void TLbSpeedButton::mouseReleaseEvent(QMouseEvent *e)
{
    QPointer<TLbSpeedButton> guard(this);
    QAbstractButton::mouseReleaseEvent(e); // fires the click while the button is still down
    if (!guard)
        return;
    pressedByMouse_ = false;
    if (groupIndex_ == 0)
        setDown(false);
}

void TLbSpeedButton::changeEvent(QEvent *e)
{
    QAbstractButton::changeEvent(e);
    // Disabled between press and release, the button never sees the release: end the press here,
    // or it would come back pressed when enabled again.
    if (e->type() == QEvent::EnabledChange && !isEnabled() && pressedByMouse_) {
        pressedByMouse_ = false;
        if (groupIndex_ == 0)
            setDown(false);
    }
}

// ---- painting ----

void TLbSpeedButton::paintEvent(QPaintEvent *)
{
    // The widget's backing store is the off-screen bitmap: the face is composed there and reaches the
    // screen in one step. What is not drawn lets the parent show through.
    const int W = width(), H = height();
    const bool down = drawnDown();
    const int press = down && style_ != bsEncarta ? 1 : 0;
    const QColor base = fillColour();

    QPainter p(this);
    if (!transparent_) {
        switch (style_) {
        case bsNormal:
        case bsEncarta:
        case bsOld: p.fillRect(rect(), base); break;
        case bsModern:
            gradient(p, 2, W - 3, 2, H / 4 + press, lightColor_, base);
            gradient(p, 2, W - 3, H / 4 + press, H - 1, base, lightColor_);
            break;
        case bsShape:
        case bsQuicken: break;
        }
    }
    drawBorders(p, base, down);
    drawContent(p, press, down);
}

void TLbSpeedButton::drawBorders(QPainter &p, const QColor &base, bool down) const
{
    const int W = width(), H = height();
    const bool edges = isEnabled() ? (!flat_ || hot_ || down) : !flat_;
    switch (style_) {
    case bsNormal:
    case bsEncarta:
        if (edges)
            edge(p, W, H, down ? shadowColor_ : lightColor_, down ? lightColor_ : shadowColor_);
        break;
    case bsOld:
        if (edges) {
            if (down) {
                lineTo(p, {1, H - 3}, {1, 1}, shadowColor_);
                lineTo(p, {1, 1}, {W - 2, 1}, shadowColor_);
            } else {
                lineTo(p, {W - 2, 0}, {W - 2, H - 2}, shadowColor_);
                lineTo(p, {W - 2, H - 2}, {0, H - 2}, shadowColor_);
            }
            const QColor dark = palette().color(QPalette::Shadow);
            edge(p, W, H, down ? dark : lightColor_, down ? lightColor_ : dark);
        }
        break;
    case bsModern:
        p.setBrush(Qt::NoBrush);
        p.setPen(down ? shadowColor_ : base);
        p.drawRect(1, 1, W - 3, H - 3);
        p.setPen(shadowColor_);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.drawRoundedRect(QRectF(0.5, 0.5, W - 1, H - 1), 3, 3);
        p.setRenderHint(QPainter::Antialiasing, false);
        break;
    case bsQuicken:
        p.setPen(Qt::NoPen);
        p.setBrush(base);
        p.drawRoundedRect(QRect(0, 1, W, H - 1), 2, 2);
        p.setBrush(Qt::NoBrush);
        lineTo(p, {4, 0}, {W - 5, 0}, shadowColor_);
        lineTo(p, {4, H - 1}, {W - 5, H - 1}, shadowColor_);
        break;
    case bsShape: break;
    }
}

void TLbSpeedButton::drawContent(QPainter &p, int press, bool down) const
{
    const int W = width(), H = height();
    const bool hotFont = hot_ && useHotTrackFont_;
    QFont f = hotFont ? hotTrackFont_ : font();
    if (style_ == bsEncarta && down)
        f.setBold(true);
    p.setFont(f);
    p.setPen(!isEnabled() ? kGrayText : hotFont ? hotTrackFontColor_ : fontColor_);
    const QFontMetrics fm(f);
    const QFontMetricsF fmf(f);

    // The glyph frame: normal, disabled, down, hot; a disabled button shows no other.
    QImage frame;
    if (!glyph_.isNull() && numGlyphs_ > 0 && glyph_.width() / numGlyphs_ > 0) {
        int index = 0;
        if (!isEnabled())
            index = numGlyphs_ > 1 ? 1 : 0;
        else if (down && numGlyphs_ > 2)
            index = 2;
        else if (hot_ && numGlyphs_ > 3)
            index = 3;
        frame = glyphFrame(glyph_, index, glyph_.width() / numGlyphs_);
    }
    const int fw = frame.width(), fh = frame.height();
    const bool beside = !frame.isNull() && (layout_ == blGlyphLeft || layout_ == blGlyphRight) && style_ != bsShape;
    const int textWidth = std::max(0, W - 8 - (beside ? fw + 4 : 0));

    QString caption = text();
    if (!wordWrap_)
        while (!caption.isEmpty() && fmf.horizontalAdvance(shownText(caption)) > textWidth)
            caption.chop(1);
    const Qt::Alignment hAlign = horizontal(alignment_);
    const int flags = Qt::TextWordWrap | Qt::TextShowMnemonic;
    const QRect measured = caption.isEmpty()
                               ? QRect()
                               : fm.boundingRect(QRect(0, 0, std::max(1, textWidth), 1 << 20), flags | int(hAlign), caption);
    const int textW = std::min(measured.width(), textWidth);
    const int textH = measured.height();
    const int gap = caption.isEmpty() ? 0 : 4;

    QRect textRect(4 + press, press, W - 8, H);
    int textFlags = flags | int(hAlign) | Qt::AlignVCenter;
    QPoint glyphAt;
    if (style_ == bsShape) {
        glyphAt = QPoint((W - fw) / 2 + press, (H - fh) / 2 + press);
        textFlags = flags | Qt::AlignCenter;
    } else if (frame.isNull()) {
        // the text alone, in the full text area
    } else if (beside) {
        const int blockW = fw + gap + textW;
        int x = 4 + press;
        if (alignment_ == taRightJustify)
            x += W - 8 - blockW;
        else if (alignment_ == taCenter)
            x += (W - 8 - blockW) / 2;
        const int glyphX = layout_ == blGlyphLeft ? x : x + textW + gap;
        const int textX = layout_ == blGlyphLeft ? x + fw + gap : x;
        glyphAt = QPoint(glyphX, (H - fh) / 2 + press);
        textRect = QRect(textX, press, textW, H);
    } else {
        const int blockH = fh + gap + textH;
        const int y = (H - blockH) / 2 + press;
        int glyphX = 4 + press;
        if (alignment_ == taRightJustify)
            glyphX = W - 4 + press - fw;
        else if (alignment_ == taCenter)
            glyphX = (W - fw) / 2 + press;
        const int glyphY = layout_ == blGlyphTop ? y : y + textH + gap;
        const int textY = layout_ == blGlyphTop ? y + fh + gap : y;
        glyphAt = QPoint(glyphX, glyphY);
        textRect = QRect(4 + press, textY, W - 8, textH);
        textFlags = flags | int(hAlign) | Qt::AlignTop;
    }
    if (!frame.isNull())
        p.drawImage(glyphAt, frame);
    if (!caption.isEmpty())
        p.drawText(textRect, textFlags, caption);

    if (popup_) {
        // The drop-down mark: a small black triangle pointing down.
        const int x = W - 11, y = H / 2 - 1;
        p.fillRect(x, y, 5, 1, Qt::black);
        p.fillRect(x + 1, y + 1, 3, 1, Qt::black);
        p.fillRect(x + 2, y + 2, 1, 1, Qt::black);
    }
}
