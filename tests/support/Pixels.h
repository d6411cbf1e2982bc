#pragma once
// Pixel helpers for tests of custom-drawn controls.

#include <QColor>
#include <QImage>
#include <QRect>

inline QColor at(const QImage &img, int x, int y)
{
    return QColor(img.pixel(x, y));
}

// The smallest rectangle holding every pixel of exactly this colour (empty if there is none).
inline QRect boxOf(const QImage &img, const QColor &colour)
{
    QRect box;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (QColor(img.pixel(x, y)) == colour)
                box |= QRect(x, y, 1, 1);
    return box;
}
