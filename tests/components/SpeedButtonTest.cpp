#include "LbSpeedButton.h"
#include "Pixels.h"

#include "Wait.h"

#include <QAccessible>
#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

const QColor kBackground(1, 2, 3); // the parent, where the button leaves its area undrawn
const QColor kColor(0x30, 0x50, 0xA0);
const QColor kLight(0xF0, 0xE0, 0x00);
const QColor kShadow(0x20, 0x00, 0x80);
const QColor kDown(0xA0, 0x00, 0x00);
const QColor kHot(0x00, 0xC0, 0x00);
const QColor kDarkShadow(0x09, 0x08, 0x07);
const QColor kText(0xFF, 0xFF, 0xFF);

// A shown parent of its own colour with one button at its top-left corner.
struct Host {
    QWidget parent;
    TLbSpeedButton *b;

    explicit Host(TLbSpeedButtonStyle style, int w = 60, int h = 30)
    {
        parent.setAutoFillBackground(true);
        QPalette pal = parent.palette();
        pal.setColor(QPalette::Window, kBackground);
        pal.setColor(QPalette::Shadow, kDarkShadow);
        parent.setPalette(pal);
        parent.resize(220, 160);
        b = new TLbSpeedButton(&parent);
        b->setGeometry(0, 0, w, h);
        b->setStyle(style);
        b->setColor(kColor);
        b->setLightColor(kLight);
        b->setShadowColor(kShadow);
        b->setColorWhenDown(kDown);
        b->setHotTrackColor(kHot);
        b->setFontColor(kText);
        b->setHotTrackFontColor(kText);
        QFont f = b->font();
        f.setPixelSize(14);
        f.setBold(true);
        b->setFont(f);
        parent.show();
    }
    QImage face() { return parent.grab(b->geometry()).toImage().convertToFormat(QImage::Format_RGB32); }
    void enter()
    {
        QEnterEvent e(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QCoreApplication::sendEvent(b, &e);
    }
    void leave()
    {
        QEvent e(QEvent::Leave);
        QCoreApplication::sendEvent(b, &e);
    }
};


// A strip of four 16 × 16 frames in the colours given; the lower-left pixel of each frame is magenta,
// the colour its frame leaves transparent.
QImage strip(const std::vector<QColor> &frames)
{
    QImage img(16 * int(frames.size()), 16, QImage::Format_RGB32);
    for (int i = 0; i < int(frames.size()); ++i) {
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                img.setPixel(16 * i + x, y, frames[i].rgb());
        img.setPixel(16 * i, 15, qRgb(0xFF, 0, 0xFF));
    }
    return img;
}
const QColor kF0(0x11, 0x22, 0x33), kF1(0x44, 0x55, 0x66), kF2(0x77, 0x88, 0x99), kF3(0xAA, 0xBB, 0xCC);

} // namespace

TEST(SpeedButton, FadeBlendTruncatesEachChannel)
{
    EXPECT_EQ(fadeBlend(QColor(255, 0, 100), QColor(0, 255, 20), 1), QColor(223, 31, 90));
    EXPECT_EQ(fadeBlend(QColor(255, 0, 100), QColor(0, 255, 20), 4), QColor(127, 127, 60));
    EXPECT_EQ(fadeBlend(QColor(255, 0, 100), QColor(0, 255, 20), 8), QColor(0, 255, 20));
    EXPECT_EQ(fadeBlend(QColor(255, 0, 100), QColor(0, 255, 20), 0), QColor(255, 0, 100));
}

TEST(SpeedButton, NormalStyleEdgesFaceAndStates)
{
    Host h(bsNormal);
    QImage img = h.face();
    // Light edge from the bottom-left corner up and across, shadow edge round the other two sides.
    EXPECT_EQ(at(img, 0, 0), kLight);
    EXPECT_EQ(at(img, 0, 29), kLight);
    EXPECT_EQ(at(img, 58, 0), kLight);
    EXPECT_EQ(at(img, 59, 0), kShadow);
    EXPECT_EQ(at(img, 59, 29), kShadow);
    EXPECT_EQ(at(img, 1, 29), kShadow);
    EXPECT_EQ(at(img, 1, 1), kColor);
    EXPECT_EQ(at(img, 30, 15), kColor);

    h.enter();
    EXPECT_EQ(at(h.face(), 30, 15), kHot);
    h.leave();
    EXPECT_EQ(at(h.face(), 30, 15), kColor); // no fade: back at once
    EXPECT_EQ(h.b->FadeLevel(), 0);

    h.b->setDown(true);
    img = h.face();
    EXPECT_EQ(at(img, 0, 0), kShadow);
    EXPECT_EQ(at(img, 0, 29), kShadow);
    EXPECT_EQ(at(img, 59, 0), kLight);
    EXPECT_EQ(at(img, 59, 29), kLight);
    EXPECT_EQ(at(img, 30, 15), kDown);

    // Disabled: never drawn pressed, never blended, whatever Down and the pointer say.
    h.enter();
    h.b->setEnabled(false);
    img = h.face();
    EXPECT_EQ(at(img, 0, 0), kLight);
    EXPECT_EQ(at(img, 59, 29), kShadow);
    EXPECT_EQ(at(img, 30, 15), kColor);
}

TEST(SpeedButton, FlatAndTransparent)
{
    Host h(bsNormal);
    h.b->setFlat(true);
    EXPECT_EQ(at(h.face(), 0, 0), kColor); // a flat button shows its edge only when hot or down
    h.enter();
    EXPECT_EQ(at(h.face(), 0, 0), kLight);
    h.leave();
    h.b->setDown(true);
    EXPECT_EQ(at(h.face(), 0, 0), kShadow);
    h.b->setEnabled(false);
    EXPECT_EQ(at(h.face(), 0, 0), kColor);
    h.b->setEnabled(true);
    h.b->setDown(false);

    h.b->setFlat(false);
    h.b->setTransparent(true);
    QImage img = h.face();
    EXPECT_EQ(at(img, 30, 15), kBackground);
    EXPECT_EQ(at(img, 0, 0), kLight);

    Host m(bsModern, 60, 140);
    m.b->setTransparent(true);
    img = m.face();
    EXPECT_EQ(at(img, 30, 70), kBackground);
    EXPECT_EQ(at(img, 1, 70), kColor);
    EXPECT_EQ(at(img, 0, 70), kShadow);
}

TEST(SpeedButton, OldStyleHasAnInnerShadowLine)
{
    Host h(bsOld);
    QImage img = h.face();
    EXPECT_EQ(at(img, 0, 0), kLight);
    EXPECT_EQ(at(img, 59, 29), kDarkShadow);
    EXPECT_EQ(at(img, 59, 0), kDarkShadow);
    EXPECT_EQ(at(img, 58, 1), kShadow); // inner line down the right ...
    EXPECT_EQ(at(img, 58, 15), kShadow);
    EXPECT_EQ(at(img, 58, 28), kShadow); // ... and back along the bottom
    EXPECT_EQ(at(img, 1, 28), kShadow);
    EXPECT_EQ(at(img, 1, 1), kColor);
    EXPECT_EQ(at(img, 30, 15), kColor);

    h.b->setDown(true);
    img = h.face();
    EXPECT_EQ(at(img, 0, 0), kDarkShadow);
    EXPECT_EQ(at(img, 59, 29), kLight);
    EXPECT_EQ(at(img, 1, 27), kShadow); // inner line up the left and across the top
    EXPECT_EQ(at(img, 1, 28), kDown);
    EXPECT_EQ(at(img, 1, 1), kShadow);
    EXPECT_EQ(at(img, 57, 1), kShadow);
    EXPECT_EQ(at(img, 58, 1), kDown);
    EXPECT_EQ(at(img, 58, 15), kDown);
}

TEST(SpeedButton, ModernStyleGradientsAndFrame)
{
    QColor base(0, 0, 0), light(248, 124, 62);
    Host h(bsModern, 60, 140);
    h.b->setColor(base);
    h.b->setLightColor(light);
    QImage img = h.face();
    EXPECT_EQ(at(img, 30, 2), light);                    // first gradient starts in LightColor ...
    EXPECT_EQ(at(img, 30, 35), base);                    // ... the second in Color at H div 4 ...
    EXPECT_EQ(at(img, 30, 137), QColor(240, 120, 60));   // ... and its last band is 30/31 of the way back
    EXPECT_EQ(at(img, 1, 70), base);                     // inner frame in the face colour
    EXPECT_EQ(at(img, 0, 70), kShadow);                  // outer rounded frame
    EXPECT_EQ(at(img, 30, 139), kShadow);
    EXPECT_EQ(at(img, 59, 70), kShadow);
    EXPECT_EQ(at(img, 0, 0), kBackground);               // the rounded corner lets the parent through

    h.b->setDown(true); // the split moves down one row; the inner frame turns to ShadowColor
    img = h.face();
    EXPECT_EQ(at(img, 30, 36), kDown);
    EXPECT_NE(at(img, 30, 35), kDown);
    EXPECT_EQ(at(img, 1, 70), kShadow);
}

TEST(SpeedButton, QuickenStyleRoundedFaceWithShadowLines)
{
    Host h(bsQuicken);
    h.b->setFlat(true); // no effect on this style
    QImage img = h.face();
    EXPECT_EQ(at(img, 30, 15), kColor);
    EXPECT_EQ(at(img, 0, 15), kColor);
    EXPECT_EQ(at(img, 4, 0), kShadow);
    EXPECT_EQ(at(img, 54, 0), kShadow);
    EXPECT_EQ(at(img, 3, 0), kBackground);
    EXPECT_EQ(at(img, 55, 0), kBackground);
    EXPECT_EQ(at(img, 30, 29), kShadow);
    EXPECT_EQ(at(img, 0, 1), kBackground); // rounded corner
    h.b->setDown(true);
    EXPECT_EQ(at(h.face(), 30, 15), kDown);
}

TEST(SpeedButton, ShapeStyleDrawsOnlyGlyphAndCaption)
{
    Host h(bsShape, 60, 40);
    QImage img = h.face();
    EXPECT_EQ(boxOf(img, kBackground), QRect(0, 0, 60, 40));
    h.b->setGlyph(strip({kF0}));
    EXPECT_EQ(boxOf(h.face(), kF0), QRect(22, 12, 16, 16));
    h.b->setDown(true);
    EXPECT_EQ(boxOf(h.face(), kF0), QRect(23, 13, 16, 16));
}

TEST(SpeedButton, CaptionMovesWithThePressExceptEncartaWhichTurnsBold)
{
    for (TLbSpeedButtonStyle style : {bsNormal, bsModern, bsOld, bsShape, bsQuicken}) {
        SCOPED_TRACE(int(style));
        Host h(style, 80, 30);
        h.b->setColorWhenDown(QColor());
        h.b->setCaption(QStringLiteral("Wm"));
        const QRect up = boxOf(h.face(), kText);
        ASSERT_FALSE(up.isEmpty());
        h.b->setDown(true);
        EXPECT_EQ(boxOf(h.face(), kText), up.translated(1, 1));
    }
    Host e(bsEncarta, 80, 30);
    e.b->setCaption(QStringLiteral("Wm"));
    QFont f = e.b->font();
    f.setBold(false);
    e.b->setFont(f);
    const QRect up = boxOf(e.face(), kText);
    e.b->setDown(true);
    const QRect down = boxOf(e.face(), kText);
    EXPECT_EQ(down.top(), up.top());
    EXPECT_GT(down.width(), up.width());
    e.b->setEnabled(false); // grey text
    EXPECT_TRUE(boxOf(e.face(), kText).isEmpty());
    EXPECT_FALSE(boxOf(e.face(), QColor(0x80, 0x80, 0x80)).isEmpty());
}

TEST(SpeedButton, GlyphStripFrames)
{
    Host h(bsNormal, 100, 40);
    h.b->setGlyph(strip({kF0, kF1, kF2, kF3}));
    EXPECT_EQ(h.b->NumGlyphs(), 4);
    QImage img = h.face();
    EXPECT_EQ(boxOf(img, kF0), QRect(4, 12, 16, 16));
    EXPECT_EQ(at(img, 4, 27), kColor); // the lower-left pixel's colour is transparent
    h.enter();
    EXPECT_EQ(boxOf(h.face(), kF3), QRect(4, 12, 16, 16));
    h.b->setDown(true); // down wins over hot, and moves the glyph with the press
    img = h.face();
    EXPECT_EQ(boxOf(img, kF2), QRect(5, 13, 16, 16));
    EXPECT_TRUE(boxOf(img, kF3).isEmpty());
    h.b->setEnabled(false);
    EXPECT_EQ(boxOf(h.face(), kF1), QRect(4, 12, 16, 16));

    h.b->setGlyph(strip({kF0, kF1})); // only two frames: no hot or down frame
    h.b->setEnabled(true);
    EXPECT_EQ(boxOf(h.face(), kF0), QRect(5, 13, 16, 16));
    h.b->setGlyph(QImage());
    EXPECT_EQ(h.b->NumGlyphs(), 0);
    EXPECT_TRUE(boxOf(h.face(), kF0).isEmpty());
    h.b->setGlyph(QImage(16, 32, QImage::Format_RGB32));
    EXPECT_EQ(h.b->NumGlyphs(), 0);
}

TEST(SpeedButton, GlyphLayoutsPlaceGlyphAndCaption)
{
    Host h(bsNormal, 100, 60);
    h.b->setGlyph(strip({kF0}));
    h.b->setCaption(QStringLiteral("Ab"));

    QImage img = h.face();
    QRect glyph = boxOf(img, kF0), text = boxOf(img, kText);
    EXPECT_EQ(glyph, QRect(4, 22, 16, 16));
    EXPECT_GT(text.left(), glyph.right() + 3);
    EXPECT_LT(text.left(), glyph.right() + 8);

    h.b->setLayout(blGlyphRight);
    h.b->setAlignment(taRightJustify);
    img = h.face();
    glyph = boxOf(img, kF0), text = boxOf(img, kText);
    EXPECT_EQ(glyph, QRect(80, 22, 16, 16));
    EXPECT_LT(text.right(), glyph.left() - 3);
    EXPECT_GT(text.right(), glyph.left() - 8);

    h.b->setLayout(blGlyphLeft);
    h.b->setAlignment(taCenter); // glyph and caption centred as a pair
    img = h.face();
    glyph = boxOf(img, kF0), text = boxOf(img, kText);
    EXPECT_NEAR(glyph.left(), 99 - text.right(), 3);

    h.b->setLayout(blGlyphTop);
    img = h.face();
    glyph = boxOf(img, kF0), text = boxOf(img, kText);
    EXPECT_EQ(glyph.left(), 42);
    EXPECT_LT(glyph.bottom(), text.top());
    EXPECT_NEAR(glyph.top(), 59 - text.bottom(), 6); // the pair is centred vertically
    EXPECT_NEAR(text.center().x(), 50, 2);

    h.b->setLayout(blGlyphBottom);
    h.b->setAlignment(taLeftJustify);
    img = h.face();
    glyph = boxOf(img, kF0), text = boxOf(img, kText);
    EXPECT_EQ(glyph.left(), 4);
    EXPECT_GT(glyph.top(), text.bottom());
    EXPECT_NEAR(text.top(), 59 - glyph.bottom(), 6);
}

TEST(SpeedButton, AlignmentAndWordWrap)
{
    Host h(bsNormal, 120, 60);
    h.b->setCaption(QStringLiteral("HI"));
    QRect text = boxOf(h.face(), kText);
    EXPECT_GE(text.left(), 4);
    EXPECT_LE(text.left(), 7);
    h.b->setAlignment(taRightJustify);
    text = boxOf(h.face(), kText);
    EXPECT_LE(text.right(), 115);
    EXPECT_GE(text.right(), 112);
    h.b->setAlignment(taCenter);
    text = boxOf(h.face(), kText);
    EXPECT_NEAR(text.center().x(), 60, 2);
    EXPECT_NEAR(text.center().y(), 30, 2);

    const int lineHeight = QFontMetrics(h.b->font()).height();
    h.b->setAlignment(taLeftJustify);
    h.b->setCaption(QStringLiteral("Eins Zwei Drei Vier Fünf"));
    text = boxOf(h.face(), kText); // cut from the end until it fits on one line
    EXPECT_LT(text.height(), lineHeight);
    EXPECT_GE(text.left(), 4);
    EXPECT_LE(text.right(), 115);
    EXPECT_GT(text.right(), 100);
    h.b->setWordWrap(true);
    text = boxOf(h.face(), kText);
    EXPECT_GT(text.height(), lineHeight * 3 / 2); // two lines
}

TEST(SpeedButton, PopupMenuArrowAndDropDownBeforeTheClick)
{
    Host h(bsNormal, 60, 30);
    QMenu menu;
    menu.addAction(QStringLiteral("eins"));
    EXPECT_TRUE(boxOf(h.face(), Qt::black).isEmpty());
    h.b->setPopupMenu(&menu);
    EXPECT_EQ(boxOf(h.face(), Qt::black), QRect(49, 14, 5, 3));
    const QImage img = h.face();
    EXPECT_EQ(at(img, 50, 15), Qt::black);
    EXPECT_EQ(at(img, 49, 15), kColor);
    EXPECT_EQ(at(img, 51, 16), Qt::black);
    EXPECT_EQ(at(img, 50, 16), kColor);

    bool menuUpAtClick = false;
    QObject::connect(h.b, &QAbstractButton::clicked, [&] { menuUpAtClick = menu.isVisible(); });
    QTest::mouseClick(h.b, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(menuUpAtClick);
    EXPECT_EQ(menu.pos(), h.b->mapToGlobal(QPoint(0, 30)));
    menu.hide();
}

TEST(SpeedButton, PressAndReleaseOutsideAGroup)
{
    Host h(bsNormal);
    std::vector<bool> downAtClick;
    QObject::connect(h.b, &QAbstractButton::clicked, [&] { downAtClick.push_back(h.b->Down()); });
    QTest::mousePress(h.b, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(h.b->Down());
    EXPECT_EQ(at(h.face(), 30, 15), kDown);
    QTest::mouseRelease(h.b, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_FALSE(h.b->Down());
    EXPECT_EQ(downAtClick, std::vector<bool>{true}); // the click runs while the button is down

    QTest::mousePress(h.b, Qt::RightButton, {}, QPoint(10, 10));
    EXPECT_FALSE(h.b->Down());
    QTest::mouseRelease(h.b, Qt::RightButton, {}, QPoint(10, 10));

    // Disabled in mid-press (the start command does so), it does not come back pressed.
    QTest::mousePress(h.b, Qt::LeftButton, {}, QPoint(10, 10));
    h.b->setEnabled(false);
    h.b->setEnabled(true);
    EXPECT_FALSE(h.b->Down());
    QTest::mouseRelease(h.b, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(downAtClick.size(), 1u);
}

TEST(SpeedButton, OneButtonDownPerGroupAmongSiblings)
{
    Host h(bsNormal);
    auto *second = new TLbSpeedButton(&h.parent);
    auto *other = new TLbSpeedButton(&h.parent);
    second->setGeometry(0, 40, 60, 30);
    other->setGeometry(0, 80, 60, 30);
    QWidget elsewhere;
    auto *cousin = new TLbSpeedButton(&elsewhere);
    h.b->setGroupIndex(5);
    second->setGroupIndex(5);
    other->setGroupIndex(6);
    cousin->setGroupIndex(5);
    other->setDown(true);
    cousin->setDown(true);

    QTest::mouseClick(h.b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(h.b->Down()); // stays down after the release
    QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(second->Down());
    EXPECT_FALSE(h.b->Down());
    EXPECT_TRUE(other->Down());  // another group
    EXPECT_TRUE(cousin->Down()); // another parent
    QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(second->Down()); // all up is not allowed

    second->setAllowAllUp(true);
    QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(second->Down());
    EXPECT_FALSE(h.b->Down());

    h.b->setDown(true); // by program, too
    second->setDown(true);
    EXPECT_FALSE(h.b->Down());
    second->setDown(false);
    EXPECT_FALSE(h.b->Down());

    // A screen reader sees a grouped button as checked while it is down.
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(second);
    ASSERT_NE(a, nullptr);
    EXPECT_FALSE(a->state().checked);
    second->setDown(true);
    EXPECT_TRUE(a->state().checked);
}

TEST(SpeedButton, AccessibleAsAButton)
{
    Host h(bsModern);
    h.b->setCaption(QStringLiteral("&Los"));
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(h.b);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->role(), QAccessible::Button);
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("Los"));
    EXPECT_FALSE(a->state().disabled);
    h.b->setEnabled(false);
    EXPECT_TRUE(a->state().disabled);
}

TEST(SpeedButton, AcceleratorClicksWithTheButtonShownDown)
{
    Host h(bsNormal);
    h.b->setCaption(QStringLiteral("&Los"));
    h.parent.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&h.parent));
    std::vector<bool> downAtClick;
    QObject::connect(h.b, &QAbstractButton::clicked, [&] { downAtClick.push_back(h.b->Down()); });
    QTest::keyClick(&h.parent, Qt::Key_L, Qt::AltModifier);
    EXPECT_EQ(downAtClick, std::vector<bool>{true});
    EXPECT_FALSE(h.b->Down()); // restored at once, no delayed release

    // In a group the press is only shown: the group's down button stays down.
    auto *sibling = new TLbSpeedButton(&h.parent);
    sibling->setGroupIndex(3);
    h.b->setGroupIndex(3);
    sibling->setDown(true);
    QTest::keyClick(&h.parent, Qt::Key_L, Qt::AltModifier);
    EXPECT_EQ(downAtClick, (std::vector<bool>{true, true}));
    EXPECT_TRUE(sibling->Down());
    EXPECT_FALSE(h.b->Down());
    EXPECT_FALSE(h.b->isChecked());

    h.b->setEnabled(false);
    QTest::keyClick(&h.parent, Qt::Key_L, Qt::AltModifier);
    EXPECT_EQ(downAtClick.size(), 2u);
}

TEST(SpeedButton, EnterAndExitEvents)
{
    Host h(bsNormal);
    QSignalSpy entered(h.b, &TLbSpeedButton::OnMouseEnter);
    QSignalSpy exited(h.b, &TLbSpeedButton::OnMouseExit);
    h.enter();
    EXPECT_TRUE(h.b->Hot());
    EXPECT_EQ(h.b->FadeLevel(), 8);
    ASSERT_EQ(entered.count(), 1);
    EXPECT_EQ(entered.at(0).at(0).value<TLbSpeedButton *>(), h.b);
    h.leave();
    EXPECT_FALSE(h.b->Hot());
    EXPECT_EQ(exited.count(), 1);

    h.b->setEnabled(false); // a disabled button does not light up and reports neither
    h.enter();
    EXPECT_FALSE(h.b->Hot());
    h.leave();
    EXPECT_EQ(entered.count(), 1);
    EXPECT_EQ(exited.count(), 1);

    h.b->setEnabled(true);
    h.b->setUseHotTrackFont(true); // the hot-track font and its colour while the pointer is over it
    h.b->setHotTrackFontColor(QColor(0xFF, 0xFF, 0x00));
    h.b->setCaption(QStringLiteral("HI"));
    EXPECT_TRUE(boxOf(h.face(), QColor(0xFF, 0xFF, 0x00)).isEmpty());
    h.enter();
    EXPECT_FALSE(boxOf(h.face(), QColor(0xFF, 0xFF, 0x00)).isEmpty());
}

TEST(SpeedButton, ColourSchemes)
{
    Host h(bsNormal);
    h.b->setFlat(true);
    h.b->setColorStyle(lcsQuicken);
    EXPECT_EQ(h.b->ColorStyle(), lcsCustom);
    EXPECT_EQ(h.b->Style(), bsQuicken);
    EXPECT_EQ(h.b->FontColor(), QColor(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(h.b->Color(), QColor(0x00, 0x30, 0x60));
    EXPECT_EQ(h.b->ColorWhenDown(), QColor(0x29, 0x65, 0xAD));
    EXPECT_EQ(h.b->HotTrackColor(), QColor(0x9C, 0xAE, 0xCE));
    EXPECT_EQ(h.b->LightColor(), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_FALSE(h.b->Flat());
    EXPECT_EQ(at(h.face(), 30, 15), QColor(0x00, 0x30, 0x60));

    h.b->setColorStyle(lcsUltraFlat2);
    EXPECT_TRUE(h.b->Flat());
    EXPECT_EQ(h.b->Style(), bsNormal);
    EXPECT_EQ(h.b->Color(), h.b->palette().color(QPalette::Button));
    EXPECT_EQ(h.b->FontColor(), QColor(0, 0, 0));
    EXPECT_EQ(h.b->ColorWhenDown(), QColor(0xBC, 0xDA, 0x24));

    h.b->setColorStyle(lcsGold);
    EXPECT_FALSE(h.b->Flat());
    EXPECT_EQ(h.b->Style(), bsModern);
    EXPECT_FALSE(h.b->ColorWhenDown().isValid());

    h.b->setColor(kColor);
    h.b->setColorStyle(lcsCustom); // changes nothing
    EXPECT_EQ(h.b->Color(), kColor);
    EXPECT_EQ(h.b->Style(), bsModern);
}

TEST(SpeedButton, SlowDeceaseFadesInStepsOnItsThread)
{
    Host h(bsNormal);
    h.b->setSlowDecease(true);
    const TLbButtonThread *t = h.b->FadeThread();
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->isRunning());
    EXPECT_TRUE(t->Suspended()); // idle until the pointer leaves

    for (int round = 0; round < 2; ++round) {
        h.enter();
        EXPECT_EQ(at(h.face(), 30, 15), kHot);
        h.leave();
        EXPECT_EQ(h.b->FadeLevel(), 8); // leaving only starts the fade
        std::vector<int> seen;
        ASSERT_TRUE(waitUntil([&] {
            if (seen.empty() || seen.back() != h.b->FadeLevel())
                seen.push_back(h.b->FadeLevel());
            return h.b->FadeLevel() == 0 && t->Suspended();
        }));
        EXPECT_GE(seen.size(), 4u); // several steps in between, each lower than the one before
        for (size_t i = 1; i < seen.size(); ++i)
            EXPECT_LT(seen[i], seen[i - 1]);
        EXPECT_EQ(at(h.face(), 30, 15), kColor);
        EXPECT_EQ(h.b->FadeThread(), t); // the same thread sleeps until the next leave
    }

    h.enter();
    h.leave();
    ASSERT_TRUE(waitUntil([&] { return h.b->FadeLevel() < 8; }));
    h.b->setSlowDecease(false); // stopped mid-fade: back to Color at once
    EXPECT_EQ(h.b->FadeThread(), nullptr);
    EXPECT_EQ(h.b->FadeLevel(), 0);
    EXPECT_EQ(at(h.face(), 30, 15), kColor);
}

TEST(SpeedButton, DestroyedMidFadeStopsItsThread)
{
    for (int pending = 0; pending < 2; ++pending) {
        Host h(bsNormal);
        h.b->setSlowDecease(true);
        h.enter();
        h.leave();
        ASSERT_TRUE(waitUntil([&] { return h.b->FadeLevel() < 8; }));
        if (pending)
            QThread::msleep(45); // a step is now waiting in the queue for the destroyed button
        delete h.b;
        // the queued step is dropped with the button
        waitUntil([] { return false; }, 100);
    }
    // A button destroyed with an idle thread.
    Host idle(bsNormal);
    idle.b->setSlowDecease(true);
    delete idle.b;
}
