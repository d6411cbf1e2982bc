#pragma once
// One lane row of the race desk: lane-number picture, start number, name, time, stop key and
// place. The row shows a lane of the meeting (TFormMain::ShowLane) and passes the operator's edits on.

#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QRawFont>

#include <array>

#include <cstdint>
#include <optional>
#include <vector>

class QCheckBox;
class QLineEdit;
class QPushButton;
class TLed;
class TLabel3D;
class TShape;

// The time display of a lane. Its tag is the lane time in milliseconds: -1 the lane does not take
// part, 0 ready or running, above 0 stopped. A transparent label lets the row colour through and
// marks a lane that has not stopped; a stopped lane's label is opaque black.
//
// Assistive technology reads it as a static text named after its lane and the time it shows
// ("Zeit Bahn 1: 10,23"); the lane part is the label's accessible name. A new text is announced
// while an assistive client listens: every change, but the running clock's at most once a second.
class TTimeLabel : public QLabel {
    Q_OBJECT
public:
    explicit TTimeLabel(QWidget *parent = nullptr);
    std::int32_t Tag() const { return tag_; }
    void setTag(std::int32_t tag) { tag_ = tag; }
    bool Transparent() const { return transparent_; }
    void setTransparent(bool transparent);
    // As QLabel's, but a change repaints only the part of the label that changed: the running
    // clock's hundredths redraw one digit, not the whole time.
    void setText(const QString &text);
    // A new time of the running clock: as setText, announced at most once a second. batched: the
    // change is painted by the next PaintRunningTimes with those of the other lanes.
    void showRunningTime(const QString &text, bool batched = false);
    // Paints the changes of the labels' batched running times at once, straight into the window's
    // backing store, and sends them to the screen in one flush. Only for labels that nothing
    // covers but their own window; where the window cannot be painted so (not shown, a label
    // hidden or drawn by QLabel itself) the labels are updated as usual. True when painted directly.
    static bool PaintRunningTimes(QWidget *window, const std::vector<TTimeLabel *> &labels);
    // What a kept picture of a repainted part shows (the drawing's own).
    struct PictureKey;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    // A time made of digits, separators and blanks is drawn from glyphs looked up once per font,
    // at the very positions the label's own text layout gives them: the glyphs whose ink reaches
    // into area, and how they are drawn.
    void glyphsIn(const QString &t, const QRect &area, QList<quint32> &indexes, QList<QPointF> &positions) const;
    void drawGlyphs(QPainter &p, const QList<quint32> &indexes, const QList<QPointF> &positions,
                    const QColor &ink) const;
    void prepareGlyphs();
    // The label is laid out as the glyph drawing assumes, and every character of a text has its glyph.
    bool ownLayout() const;
    bool known(QStringView text) const;
    qreal advance(QStringView text) const;
    int baseline(const QRect &contents) const;
    // The pixels a change of text touches: the ink of the glyphs that go and of those that come;
    // none when the text is not drawn from the glyph table.
    std::optional<QRect> changedInk(const QString &old, const QString &text, const QRect &contents) const;

    bool changeText(const QString &text, bool batched = false);
    // contentsRect(), kept while the label's size and margins stay: the running clock asks for it
    // on every frame, and QWidget works it out anew through the window's safe margins each time.
    QRect contents() const;
    // The glyph drawing applies to the label as it is now (its layout, font and text).
    bool drawnFromGlyphs();
    QColor fillColour() const;
    QColor inkColour() const;
    // Paints area (label coordinates) of the time, the painter's origin at the label's corner;
    // keep: what was drawn may be kept as a picture (nothing clipped it).
    void paintTime(QPainter &p, const QRect &area, bool keep);
    // The key of area's picture, from the glyphs glyphsIn put into paintIndexes_ and paintPositions_.
    void pictureKey(const QRect &area, int format, QRgb fill, QRgb ink, PictureKey &key) const;
    // Copies the kept picture of area (label coordinates) into target, the label's corner at
    // corner; false where no picture is kept or it cannot be copied as it is.
    bool copyKept(QImage &target, QPoint corner, const QRect &area);
    // Copies a picture into the rectangle to of image, line by line; false where it cannot.
    static bool copyPicture(QImage &image, const QRect &to, const QImage &picture);
    // The label's batched change shows the very pixels the other label's does.
    bool looksLike(const TTimeLabel &other) const;
    void announceName();

    std::int32_t tag_ = -1;
    bool transparent_ = true;
    QElapsedTimer announced_;  // the running clock's last announcement
    bool unannounced_ = false; // the running clock changed the text since the last announcement
    QFont glyphFont_;
    QRawFont raw_;
    int fontId_ = -1;
    int fontHeight_ = 0;
    int fontAscent_ = 0;
    std::array<quint32, 128> glyphs_{};   // glyph index per character of a time, 0: not usable
    std::array<qreal, 128> advances_{};
    std::array<QRectF, 128> inks_{};      // ink rectangle per character, from the baseline origin
    QList<quint32> paintIndexes_;         // kept from paint to paint (paintEvent)
    QList<QPointF> paintPositions_;
    QRect pendingDirty_; // batched running-time change not yet painted
    mutable QRect contents_;     // contents(), valid for contentsSize_
    mutable QSize contentsSize_; // invalid: contents() works it out anew
};

class TFrameLine : public QFrame {
    Q_OBJECT
public:
    static constexpr int RowWidth = 1024;
    static constexpr int RowHeight = 63;

    explicit TFrameLine(int lane, QWidget *parent = nullptr);

    int Tag() const { return tag_; }

    QCheckBox *cbON;
    QLabel *Image1;
    TShape *Shape;
    QLineEdit *eNum;
    QLineEdit *eName;
    TTimeLabel *LabelTime;
    QPushButton *bKey;
    TLed *Led;
    TLabel3D *ePlatz;
    TShape *Shape1;

    // Handlers of the row's own events.
    void cbONClick();
    void bKeyClick();
    void eAusDblClick();
    void ePlatzMouseDown(Qt::MouseButton button);
    // The start-number filter: true when the typed character passes.
    static bool eNumKeyPress(QChar key);
    // Puts a start number from the results table into eNum as it stands, letters included: the
    // filter is for what the operator types or pastes.
    void setStartNumber(const QString &text);

signals:
    // The lane key asks for the stop entry of this lane.
    void StopKeyPressed(int lane);
    // A double click on the place label: the lane is marked "Aus", or back (and the places are
    // counted again).
    void OutToggled(int lane);
    // A right click on the place label: this row is the target of the place-text menu.
    void PlaceMenuTarget(TFrameLine *row);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int tag_;
};
