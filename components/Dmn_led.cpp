#include "Dmn_led.h"

#include <QLabel>
#include <QPainter>

namespace {

// Pixel maps, one text row per pixel row: '.' leaves the background, digits are palette codes.
const char *const kCircleOff[16] = {
    ".....222222.....", "...2233333322...", "..233333333331..", ".23333333333331.",
    ".23334443333331.", "2333443333333331", "2333433333333331", "2333433333333331",
    "2333333333333331", "2333333333333331", "2333333333333331", ".23333333333331.",
    ".23333333333331.", "..133333333331..", "...1133333311...", ".....111111.....",
};
const char *const kCircleOn[16] = {
    ".....222222.....", "...2234444422...", "..234455544441..", ".23455544444441.",
    ".24566644444441.", "2345664444444431", "2455644444444431", "2454444444444431",
    "2454444444444431", "2444444444444331", "2444444444444331", ".24444444444331.",
    ".24444444443331.", "..144444433331..", "...1133333311...", ".....111111.....",
};
const char *const kRectOff[16] = {
    "................", "................", "................", "2222222222222222",
    "2333333333333331", "2344443333333331", "2344333333333331", "2333333333333331",
    "2333333333333331", "2333333333333331", "2333333333333331", "2333333333333331",
    "2111111111111111", "................", "................", "................",
};
const char *const kRectOn[16] = {
    "................", "................", "................", "2222222222222222",
    "2444444444444441", "2455555555555431", "2456554444444431", "2455544444444431",
    "2455444444444431", "2454444444444431", "2444444444444431", "2433333333333331",
    "2111111111111111", "................", "................", "................",
};

// Colours 4 and 5 of each kind; 1, 2, 3 and 6 are the same for all kinds.
const QRgb kLampColours[7][2] = {
    {0xFF0000, 0xFF00FF}, {0x00FF00, 0xFFFF00}, {0xFFFF00, 0xFFFFFF}, {0x008080, 0x00FFFF},
    {0xFF00FF, 0xFFFFFF}, {0x0000FF, 0x00FFFF}, {0x808080, 0xC0C0C0},
};

} // namespace

TLed::TLed(QWidget *parent) : QWidget(parent)
{
    resize(16, 16);
}

int TLed::pixelCode(TLedShape shape, bool value, int x, int y)
{
    if (x < 0 || x > 15 || y < 0 || y > 15)
        return 0;
    const char *const *map = shape == lsCircle ? (value ? kCircleOn : kCircleOff)
                                               : (value ? kRectOn : kRectOff);
    const char c = map[y][x];
    return c == '.' ? 0 : c - '0';
}

QRgb TLed::paletteColour(TLedKind kind, int code)
{
    switch (code) {
    case 1: return qRgb(0xFF, 0xFF, 0xFF);
    case 2: return qRgb(0x80, 0x80, 0x80);
    case 3: return qRgb(0, 0, 0);
    case 4: return 0xFF000000u | kLampColours[kind][0];
    case 5: return 0xFF000000u | kLampColours[kind][1];
    default: return qRgb(0xFF, 0xFF, 0xFF);
    }
}

void TLed::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const int code = pixelCode(shape_, value_, x, y);
            if (code != 0)
                p.fillRect(x, y, 1, 1, QColor(paletteColour(kind_, code)));
        }
}

void TLed::setKind(TLedKind kind)
{
    if (kind == kind_)
        return;
    kind_ = kind;
    repaint();
}

void TLed::setShape(TLedShape shape)
{
    if (shape == shape_)
        return;
    shape_ = shape;
    repaint();
}

void TLed::setValue(bool value)
{
    if (value == value_)
        return;
    value_ = value;
    repaint();
    updateLabel();
    emit OnChange(this);
}

void TLed::updateLabel()
{
    if (label_)
        label_->setText(value_ ? onText_ : offText_);
}

void TLed::setLabelLinked(QLabel *label)
{
    if (label == label_.data())
        return;
    label_ = label;
    updateLabel();
}

void TLed::setLabelOnText(const QString &text)
{
    if (text == onText_)
        return;
    onText_ = text;
    updateLabel();
}

void TLed::setLabelOffText(const QString &text)
{
    if (text == offText_)
        return;
    offText_ = text;
    updateLabel();
}
