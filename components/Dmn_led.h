#pragma once
// A 16 x 16 pixel lamp in one of seven colours, round or rectangular, on or off.

#include <QPointer>
#include <QWidget>

class QLabel;

enum TLedKind { lkRed, lkGreen, lkYellow, lkCyan, lkMagenta, lkBlue, lkWhite };
enum TLedShape { lsCircle, lsRectangle };

class TLed : public QWidget {
    Q_OBJECT
public:
    explicit TLed(QWidget *parent = nullptr);

    TLedKind Kind() const { return kind_; }
    void setKind(TLedKind kind);
    bool Value() const { return value_; }
    void setValue(bool value);
    TLedShape Shape() const { return shape_; }
    void setShape(TLedShape shape);

    QLabel *LabelLinked() const { return label_.data(); }
    void setLabelLinked(QLabel *label);
    QString LabelOnText() const { return onText_; }
    void setLabelOnText(const QString &text);
    QString LabelOffText() const { return offText_; }
    void setLabelOffText(const QString &text);

    // Colour code (0 = untouched, 1..6) of the lamp's pixel (x, y) for a shape and state.
    static int pixelCode(TLedShape shape, bool value, int x, int y);
    // RGB of colour code 1..6 of a kind's palette.
    static QRgb paletteColour(TLedKind kind, int code);

signals:
    void OnChange(TLed *sender);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void updateLabel();
    TLedKind kind_ = lkRed;
    bool value_ = false;
    TLedShape shape_ = lsCircle;
    QPointer<QLabel> label_;
    QString onText_;
    QString offText_;
};
