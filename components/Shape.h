#pragma once
// A plain rectangle: an outline in the pen colour and/or a fill in the brush colour.

#include <QColor>
#include <QWidget>

class TShape : public QWidget {
    Q_OBJECT
public:
    explicit TShape(QWidget *parent = nullptr) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    QColor PenColor() const { return pen_; }    // invalid = no outline
    void setPenColor(const QColor &c) { pen_ = c; update(); }
    QColor BrushColor() const { return brush_; } // invalid = no fill
    void setBrushColor(const QColor &c) { brush_ = c; update(); }

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QColor pen_{Qt::black};
    QColor brush_{Qt::white};
};
