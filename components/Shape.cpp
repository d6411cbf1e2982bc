#include "Shape.h"

#include <QPainter>

void TShape::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (brush_.isValid())
        p.fillRect(rect(), brush_);
    if (pen_.isValid()) {
        p.setPen(pen_);
        p.setBrush(Qt::NoBrush);
        p.drawRect(0, 0, width() - 1, height() - 1);
    }
}
