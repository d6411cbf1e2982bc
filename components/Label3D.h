#pragma once
// A label with embossed or shadowed text, nested 3-D borders and an optional gradient background.

#include <QColor>
#include <QLabel>
#include <QMenu>
#include <QPointer>


enum TLabel3DBevel { blNone, blLowered, blRaised, blShadow };
enum TLabel3DBorderStyle { lbNone, lbNormal, lbLowered, lbRaised, lbInn, lbOut };
enum TGradientOrientation { goHorizontal, goVertical, goHorizontal2, goVertical2 };

class TLabel3D : public QLabel {
    Q_OBJECT
public:
    explicit TLabel3D(QWidget *parent = nullptr);

    QString Caption() const { return text(); }
    void setCaption(const QString &caption) { setText(caption); }

    QColor Color() const { return color_; }
    void setColor(const QColor &c) { set(color_, c); }
    bool Transparent() const { return transparent_; }
    void setTransparent(bool v) { set(transparent_, v); }
    QColor FirstColor() const { return firstColor_; }
    void setFirstColor(const QColor &c) { set(firstColor_, c); }
    QColor LastColor() const { return lastColor_; }
    void setLastColor(const QColor &c) { set(lastColor_, c); }
    bool FillGradient() const { return fillGradient_; }
    void setFillGradient(bool v) { set(fillGradient_, v); }
    TGradientOrientation GradientOrientation() const { return orientation_; }
    void setGradientOrientation(TGradientOrientation v) { set(orientation_, v); }
    QColor HighLightColor() const { return highlight_; }
    void setHighLightColor(const QColor &c) { set(highlight_, c); }
    QColor ShadowColor() const { return shadow_; }
    void setShadowColor(const QColor &c) { set(shadow_, c); }
    TLabel3DBevel Bevel() const { return bevel_; }
    void setBevel(TLabel3DBevel v) { set(bevel_, v); }
    int ShadowSize() const { return shadowSize_; }
    void setShadowSize(quint8 v) { set(shadowSize_, int(v)); }
    QColor BorderColor() const { return borderColor_; }
    void setBorderColor(const QColor &c) { set(borderColor_, c); }
    int BorderWidth() const { return borderWidth_; }
    void setBorderWidth(int v) { set(borderWidth_, v); }
    TLabel3DBorderStyle BorderStyle() const { return borderStyle_; }
    void setBorderStyle(TLabel3DBorderStyle v) { set(borderStyle_, v); }
    int ShadowNapr() const { return shadowNapr_; }
    void setShadowNapr(int v) { set(shadowNapr_, v); }
    bool ShowAccelChar() const { return showAccelChar_; }
    void setShowAccelChar(bool v) { set(showAccelChar_, v); }

    QMenu *PopupMenu() const { return popup_.data(); }
    void setPopupMenu(QMenu *menu) { popup_ = menu; }

signals:
    void OnDblClick(TLabel3D *sender);
    void OnMouseDown(TLabel3D *sender, Qt::MouseButton button);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    template <typename T> void set(T &field, const T &value)
    {
        if (field == value)
            return;
        field = value;
        update();
    }

    QColor color_{0xD2, 0xAE, 0xA2};
    bool transparent_ = false;
    QColor firstColor_{Qt::white};
    QColor lastColor_{0x00, 0x80, 0x80};
    bool fillGradient_ = false;
    TGradientOrientation orientation_ = goHorizontal;
    QColor highlight_{0xFF, 0xFF, 0xFF};
    QColor shadow_{0x80, 0x80, 0x80};
    TLabel3DBevel bevel_ = blRaised;
    int shadowSize_ = 1;
    QColor borderColor_{Qt::black};
    int borderWidth_ = 1;
    TLabel3DBorderStyle borderStyle_ = lbNone;
    int shadowNapr_ = 1;
    bool showAccelChar_ = true;
    QPointer<QMenu> popup_;
};
