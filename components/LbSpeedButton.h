#pragma once
// A push button drawn in one of six styles, with preset colour schemes, hot tracking (optionally
// fading back over about 240 ms, driven by a background thread), glyph strips, radio-like groups
// among its siblings and an optional drop-down menu.

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QThread>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

enum TLbSpeedButtonStyle { bsNormal, bsEncarta, bsModern, bsOld, bsShape, bsQuicken };
enum TLbSpeedButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
enum TLbColorStyle {
    lcsCustom,
    lcsGold,
    lcsChrome,
    lcsBlue,
    lcsRed,
    lcsUltraFlat1,
    lcsUltraFlat2,
    lcsUltraFlatXP,
    lcsAqua,
    lcsDefault,
    lcsQuicken
};
enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// The face colour between Color (level 0) and HotTrackColor (level 8): each channel is
// trunc(colour × (1 − level/8) + hot × level/8).
QColor fadeBlend(const QColor &colour, const QColor &hot, int level);

// The fade thread of a speed button. Until termination is requested it sleeps 30 ms, then has its
// method run on the owner's thread and waits until the method has run; while suspended it waits.
// It is created suspended. The method may suspend it (it is seen before the next sleep).
class TLbButtonThread : public QThread {
    Q_OBJECT
public:
    // owner: the object on whose thread the method runs; it must outlive the running thread.
    TLbButtonThread(QObject *owner, std::function<void()> method);
    ~TLbButtonThread() override; // requests termination and waits

    void Resume();
    void Suspend();
    bool Suspended() const;
    void Terminate(); // request termination; a suspended or waiting thread wakes at once
    bool Terminated() const;

protected:
    void run() override;

private:
    // Shared with the steps handed to the owner, which may run after the thread object is gone.
    struct Sync {
        std::mutex mutex;
        std::condition_variable changed;
        bool suspended = true;
        bool terminated = false;
        quint64 stepsDone = 0;
    };
    QObject *const owner_;
    const std::function<void()> method_;
    const std::shared_ptr<Sync> sync_ = std::make_shared<Sync>();
};

class TLbSpeedButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TLbSpeedButton(QWidget *parent = nullptr);
    ~TLbSpeedButton() override;

    QString Caption() const { return text(); }
    void setCaption(const QString &caption);

    TAlignment Alignment() const { return alignment_; }
    void setAlignment(TAlignment a) { set(alignment_, a); }
    bool AllowAllUp() const { return allowAllUp_; }
    void setAllowAllUp(bool v) { allowAllUp_ = v; }
    QColor Color() const { return color_; }
    void setColor(const QColor &c) { set(color_, c); }
    QColor ColorWhenDown() const { return colorWhenDown_; } // invalid = none
    void setColorWhenDown(const QColor &c) { set(colorWhenDown_, c); }
    // Applies a preset; the value itself is not kept, so it always reads lcsCustom.
    TLbColorStyle ColorStyle() const { return lcsCustom; }
    void setColorStyle(TLbColorStyle style);
    // The button's own pressed state (kept down in a group). Other buttons of its group on the same
    // parent go up first. Hides the framework's transient pressed state on purpose.
    bool Down() const { return down_; }
    void setDown(bool down);
    bool Flat() const { return flat_; }
    void setFlat(bool v) { set(flat_, v); }
    // A strip of NumGlyphs frames: normal, disabled, down, hot.
    QImage Glyph() const { return glyph_; }
    void setGlyph(const QImage &glyph);
    int NumGlyphs() const { return numGlyphs_; }
    void setNumGlyphs(int n) { set(numGlyphs_, n); }
    int GroupIndex() const { return groupIndex_; }
    void setGroupIndex(int index);
    QColor HotTrackColor() const { return hotTrackColor_; } // invalid = none
    void setHotTrackColor(const QColor &c) { hotTrackColor_ = c; }
    QFont HotTrackFont() const { return hotTrackFont_; }
    void setHotTrackFont(const QFont &f) { hotTrackFont_ = f; }
    // Text colours of Font and HotTrackFont (a font carries no colour here).
    QColor FontColor() const { return fontColor_; }
    void setFontColor(const QColor &c) { set(fontColor_, c); }
    QColor HotTrackFontColor() const { return hotTrackFontColor_; }
    void setHotTrackFontColor(const QColor &c) { hotTrackFontColor_ = c; }
    TLbSpeedButtonLayout Layout() const { return layout_; }
    void setLayout(TLbSpeedButtonLayout l) { set(layout_, l); }
    using QWidget::setLayout;
    QColor LightColor() const { return lightColor_; }
    void setLightColor(const QColor &c) { set(lightColor_, c); }
    QColor ShadowColor() const { return shadowColor_; }
    void setShadowColor(const QColor &c) { set(shadowColor_, c); }
    bool SlowDecease() const { return slowDecease_; }
    void setSlowDecease(bool v);
    TLbSpeedButtonStyle Style() const { return style_; }
    void setStyle(TLbSpeedButtonStyle s);
    bool Transparent() const { return transparent_; }
    void setTransparent(bool v) { set(transparent_, v); }
    bool UseHotTrackFont() const { return useHotTrackFont_; }
    void setUseHotTrackFont(bool v) { useHotTrackFont_ = v; }
    bool WordWrap() const { return wordWrap_; }
    void setWordWrap(bool v) { set(wordWrap_, v); }
    QMenu *PopupMenu() const { return popup_.data(); }
    void setPopupMenu(QMenu *menu);

    bool Hot() const { return hot_; }
    int FadeLevel() const { return fadeLevel_; }
    const TLbButtonThread *FadeThread() const { return thread_.get(); }

    // The face colour the button is drawn with now (hot blend, down colour).
    QColor fillColour() const;

signals:
    void OnMouseEnter(TLbSpeedButton *sender);
    void OnMouseExit(TLbSpeedButton *sender);

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void nextCheckState() override;

private:
    template <typename T> void set(T &field, const T &value)
    {
        if (field == value)
            return;
        field = value;
        update();
    }
    bool drawnDown() const { return down_ && isEnabled(); }
    void fadeStep();
    void stopFadeThread();
    void drawBorders(QPainter &p, const QColor &base, bool down) const;
    void drawContent(QPainter &p, int press, bool down) const;

    TAlignment alignment_ = taLeftJustify;
    bool allowAllUp_ = false;
    QColor color_{0xC0, 0xC0, 0xC0};
    QColor colorWhenDown_;
    bool down_ = false;
    bool pressedByMouse_ = false;
    bool flat_ = false;
    QImage glyph_;
    int numGlyphs_ = 0;
    int groupIndex_ = 0;
    QColor hotTrackColor_;
    QFont hotTrackFont_;
    QColor fontColor_{Qt::black};
    QColor hotTrackFontColor_{Qt::black};
    TLbSpeedButtonLayout layout_ = blGlyphLeft;
    QColor lightColor_{Qt::white};
    QColor shadowColor_{Qt::black};
    bool slowDecease_ = false;
    TLbSpeedButtonStyle style_ = bsNormal;
    bool transparent_ = false;
    bool useHotTrackFont_ = false;
    bool wordWrap_ = false;
    QPointer<QMenu> popup_;

    bool hot_ = false;
    int fadeLevel_ = 0;
    bool destroying_ = false;
    std::unique_ptr<TLbButtonThread> thread_;
};
