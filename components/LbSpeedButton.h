#pragma once
// A push button drawn off-screen in one of several styles, with hot tracking.

#include <QAbstractButton>
#include <QColor>
#include <QFont>

enum TLbSpeedButtonStyle { bsNormal, bsEncarta, bsModern, bsOld, bsShape, bsQuicken };

class TLbSpeedButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TLbSpeedButton(QWidget *parent = nullptr);

    QString Caption() const { return text(); }
    void setCaption(const QString &caption);

    QColor Color() const { return color_; }
    void setColor(const QColor &c) { set(color_, c); }
    QColor ColorWhenDown() const { return colorWhenDown_; } // invalid = none
    void setColorWhenDown(const QColor &c) { set(colorWhenDown_, c); }
    QColor HotTrackColor() const { return hotTrackColor_; } // invalid = none
    void setHotTrackColor(const QColor &c) { hotTrackColor_ = c; }
    QColor LightColor() const { return lightColor_; }
    void setLightColor(const QColor &c) { set(lightColor_, c); }
    QColor ShadowColor() const { return shadowColor_; }
    void setShadowColor(const QColor &c) { set(shadowColor_, c); }
    QFont HotTrackFont() const { return hotTrackFont_; }
    void setHotTrackFont(const QFont &f) { hotTrackFont_ = f; }
    QColor HotTrackFontColor() const { return hotTrackFontColor_; }
    void setHotTrackFontColor(const QColor &c) { hotTrackFontColor_ = c; }
    QColor FontColor() const { return fontColor_; }
    void setFontColor(const QColor &c) { set(fontColor_, c); }
    bool UseHotTrackFont() const { return useHotTrackFont_; }
    void setUseHotTrackFont(bool v) { useHotTrackFont_ = v; }
    TLbSpeedButtonStyle Style() const { return style_; }
    void setStyle(TLbSpeedButtonStyle s) { set(style_, s); }
    bool Hot() const { return hot_; }

    // The face colour the button is drawn with now (hot blend, down colour).
    QColor fillColour() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    template <typename T> void set(T &field, const T &value)
    {
        if (field == value)
            return;
        field = value;
        update();
    }

    QColor color_{0xC0, 0xC0, 0xC0};
    QColor colorWhenDown_;
    QColor hotTrackColor_;
    QColor lightColor_{Qt::white};
    QColor shadowColor_{Qt::black};
    QColor fontColor_{Qt::black};
    QFont hotTrackFont_;
    QColor hotTrackFontColor_{Qt::black};
    bool useHotTrackFont_ = false;
    TLbSpeedButtonStyle style_ = bsNormal;
    bool hot_ = false;
    int fadeLevel_ = 0;
};
