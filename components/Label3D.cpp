#include "Label3D.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

namespace {

const QColor kButtonShadow(0x80, 0x80, 0x80);
const QColor kButtonHighlight(0xFF, 0xFF, 0xFF);
const QColor kGrayText(0x80, 0x80, 0x80);

// width nested one-pixel frames; the rectangle shrinks by one pixel on every side per frame.
void frame(QPainter &p, QRect &r, int width, const QColor &top, const QColor &bottom)
{
    for (int i = 0; i < width && r.width() > 0 && r.height() > 0; ++i) {
        p.fillRect(r.left(), r.top(), r.width(), 1, top);
        p.fillRect(r.left(), r.top(), 1, r.height(), top);
        p.fillRect(r.left(), r.bottom(), r.width(), 1, bottom);
        p.fillRect(r.right(), r.top(), 1, r.height(), bottom);
        r.adjust(1, 1, -1, -1);
    }
}

} // namespace

TLabel3D::TLabel3D(QWidget *parent) : QLabel(parent)
{
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void TLabel3D::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    QRect r = rect();

    switch (borderStyle_) {
    case lbNone: break;
    case lbNormal: frame(p, r, borderWidth_, borderColor_, borderColor_); break;
    case lbLowered: frame(p, r, borderWidth_, kButtonShadow, kButtonHighlight); break;
    case lbRaised: frame(p, r, borderWidth_, kButtonHighlight, kButtonShadow); break;
    case lbInn:
        frame(p, r, borderWidth_, kButtonShadow, kButtonHighlight);
        frame(p, r, borderWidth_, kButtonHighlight, kButtonShadow);
        break;
    case lbOut:
        frame(p, r, borderWidth_, kButtonHighlight, kButtonShadow);
        frame(p, r, borderWidth_, kButtonShadow, kButtonHighlight);
        break;
    }

    if (fillGradient_) {
        // Inclusive edges as the area inside the border: L, T, R, B with R and B exclusive.
        const int L = r.left(), T = r.top(), R = r.left() + r.width(), B = r.top() + r.height();
        int c = 0;
        switch (orientation_) {
        case goHorizontal: c = R - L - 1; break;
        case goVertical: c = B - T - 1; break;
        case goHorizontal2: c = (R - L) / 2; break;
        case goVertical2: c = (B - T) / 2; break;
        }
        for (int k = 0; c > 0 && k <= c; ++k) {
            const QColor col(((c - k) * firstColor_.red() + k * lastColor_.red()) / c,
                             ((c - k) * firstColor_.green() + k * lastColor_.green()) / c,
                             ((c - k) * firstColor_.blue() + k * lastColor_.blue()) / c);
            switch (orientation_) {
            case goHorizontal: p.fillRect(L + k, T, 1, B - T, col); break;
            case goVertical: p.fillRect(L, T + k, R - L, 1, col); break;
            case goHorizontal2:
                p.fillRect(L + k, T, 1, B - T, col);
                p.fillRect(R - k - 1, T, 1, B - T, col);
                break;
            case goVertical2:
                p.fillRect(L, T + k, R - L, 1, col);
                p.fillRect(L, B - k - 1, R - L, 1, col);
                break;
            }
        }
    } else if (!transparent_) {
        p.fillRect(r, color_);
    }

    p.setFont(font());
    const Qt::Alignment align = alignment();
    int flags = int(align & (Qt::AlignHorizontal_Mask | Qt::AlignVertical_Mask)) | Qt::TextExpandTabs;
    // Without the accelerator an '&' is an ordinary character and is drawn.
    if (showAccelChar_)
        flags |= Qt::TextShowMnemonic;
    const QString caption = text();
    const bool enabled = isEnabled();
    const QColor fontColour = palette().color(QPalette::Active, QPalette::WindowText);

    auto draw = [&](int dx, int dy, const QColor &colour, bool wrap) {
        p.setPen(colour);
        p.drawText(r.translated(dx, dy), flags | (wrap ? Qt::TextWordWrap : 0), caption);
    };

    if (bevel_ == blNone) {
        draw(0, 0, enabled ? fontColour : kGrayText, true);
        return;
    }
    const int s = shadowSize_;
    const bool wrap = wordWrap();
    QColor c1, c2;
    if (bevel_ == blLowered) {
        c1 = shadow_;
        c2 = highlight_;
    } else if (bevel_ == blRaised) {
        c1 = highlight_;
        c2 = shadow_;
    } else {
        c2 = shadow_;
    }
    if (bevel_ != blShadow && enabled)
        draw(-s, -s, c1, wrap);
    static const int offsets[8][2] = {{1, 1}, {-1, 1}, {-1, -1}, {1, -1}, {1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    for (int bit = 0; bit < 8; ++bit)
        if (shadowNapr_ & (1 << bit))
            draw(offsets[bit][0] * s, offsets[bit][1] * s, c2, wrap);
    draw(0, 0, enabled ? fontColour : kGrayText, wrap);
}

void TLabel3D::mousePressEvent(QMouseEvent *event)
{
    emit OnMouseDown(this, event->button());
    if (event->button() == Qt::RightButton && popup_)
        popup_->popup(event->globalPosition().toPoint());
    event->accept();
}

void TLabel3D::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit OnDblClick(this);
    event->accept();
}
