#include "LbSpeedButton.h"

#include <QEnterEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

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

} // namespace

TLbSpeedButton::TLbSpeedButton(QWidget *parent) : QAbstractButton(parent)
{
    resize(100, 23);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover, true);
}

void TLbSpeedButton::setCaption(const QString &caption)
{
    setText(caption);
    update();
}

QColor TLbSpeedButton::fillColour() const
{
    QColor c = color_;
    if (isEnabled() && hotTrackColor_.isValid())
        c = blend(color_, hotTrackColor_, fadeLevel_, 8);
    if (isEnabled() && isDown() && colorWhenDown_.isValid())
        c = colorWhenDown_;
    return c;
}

void TLbSpeedButton::paintEvent(QPaintEvent *)
{
    const int W = width(), H = height();
    const bool down = isEnabled() && isDown();
    const int press = down && style_ != bsEncarta ? 1 : 0;
    const QColor base = fillColour();

    QPainter p(this);
    switch (style_) {
    case bsModern:
        gradient(p, 2, W - 3, 2, H / 4 + press, lightColor_, base);
        gradient(p, 2, W - 3, H / 4 + press, H - 1, base, lightColor_);
        p.setBrush(Qt::NoBrush);
        p.setPen(down ? shadowColor_ : base);
        p.drawRect(1, 1, W - 3, H - 3);
        p.setPen(shadowColor_);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.drawRoundedRect(QRectF(0.5, 0.5, W - 1, H - 1), 3, 3);
        p.setRenderHint(QPainter::Antialiasing, false);
        break;
    default:
        p.fillRect(rect(), base);
        p.setPen(down ? shadowColor_ : lightColor_);
        p.drawLine(0, H - 1, 0, 0);
        p.drawLine(0, 0, W - 1, 0);
        p.setPen(down ? lightColor_ : shadowColor_);
        p.drawLine(W - 1, 0, W - 1, H - 1);
        p.drawLine(W - 1, H - 1, 0, H - 1);
        break;
    }

    const bool useHot = hot_ && useHotTrackFont_ && isEnabled();
    p.setFont(useHot ? hotTrackFont_ : font());
    p.setPen(!isEnabled() ? QColor(0x80, 0x80, 0x80) : useHot ? hotTrackFontColor_ : fontColor_);
    const QRect textRect(4 + press, press, W - 8, H);
    // A caption too wide for the face is cut from the end.
    QString shown = text();
    while (!shown.isEmpty() && p.fontMetrics().horizontalAdvance(QString(shown).remove(QLatin1Char('&'))) > W - 8)
        shown.chop(1);
    p.drawText(textRect, Qt::AlignCenter | Qt::TextShowMnemonic, shown);
}

void TLbSpeedButton::enterEvent(QEnterEvent *event)
{
    QAbstractButton::enterEvent(event);
    if (isEnabled() && isVisible()) {
        hot_ = true;
        fadeLevel_ = 8;
        update();
    }
}

void TLbSpeedButton::leaveEvent(QEvent *event)
{
    QAbstractButton::leaveEvent(event);
    hot_ = false;
    fadeLevel_ = 0;
    update();
}

void TLbSpeedButton::changeEvent(QEvent *event)
{
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        hot_ = false;
        fadeLevel_ = 0;
    }
}
