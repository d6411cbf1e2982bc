#include "Label3D.h"
#include "Pixels.h"

#include <QCoreApplication>
#include <QImage>

#include <gtest/gtest.h>

namespace {

const QColor kBackground(1, 2, 3); // the parent, where the label leaves its area undrawn
const QColor kColor(0xD2, 0xAE, 0xA2);
const QColor kBorder(10, 20, 30);
const QColor kWhite(0xFF, 0xFF, 0xFF);
const QColor kGrey(0x80, 0x80, 0x80); // button shadow and grey text
const QColor kHigh(200, 0, 0);
const QColor kShadow(0, 0, 200);
const QColor kText(0, 200, 0);

class CountingLabel : public TLabel3D {
public:
    using TLabel3D::TLabel3D;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *e) override
    {
        ++paints;
        TLabel3D::paintEvent(e);
    }
};

struct Host {
    QWidget parent;
    CountingLabel *l;

    Host(int w, int h)
    {
        parent.setAutoFillBackground(true);
        QPalette pal = parent.palette();
        pal.setColor(QPalette::Window, kBackground);
        parent.setPalette(pal);
        parent.resize(200, 120);
        l = new CountingLabel(&parent);
        l->setGeometry(0, 0, w, h);
        l->setColor(kColor);
        l->setHighLightColor(kHigh);
        l->setShadowColor(kShadow);
        QPalette lp = l->palette();
        lp.setColor(QPalette::WindowText, kText);
        l->setPalette(lp);
        // Without smoothing every text pixel has exactly its copy's colour.
        QFont f(QStringLiteral("Arial"));
        f.setPixelSize(30);
        f.setBold(true);
        f.setStyleStrategy(QFont::NoAntialias);
        l->setFont(f);
        parent.show();
    }
    QImage face() { return parent.grab(l->geometry()).toImage().convertToFormat(QImage::Format_RGB32); }
};


} // namespace

TEST(Label3D, BordersAreNestedFramesOfTheirWidth)
{
    Host h(40, 30);
    h.l->setBevel(blNone);
    EXPECT_EQ(at(h.face(), 0, 0), kColor); // lbNone

    h.l->setBorderWidth(2);
    h.l->setBorderStyle(lbNormal);
    h.l->setBorderColor(kBorder);
    QImage img = h.face();
    for (QPoint p : {QPoint(0, 0), QPoint(1, 1), QPoint(20, 1), QPoint(39, 29), QPoint(38, 28), QPoint(1, 15)})
        EXPECT_EQ(at(img, p.x(), p.y()), kBorder) << p.x() << "," << p.y();
    EXPECT_EQ(at(img, 2, 2), kColor);
    EXPECT_EQ(at(img, 37, 27), kColor);

    h.l->setBorderStyle(lbLowered); // button colours, not the label's own light and shadow
    img = h.face();
    EXPECT_EQ(at(img, 0, 0), kGrey);
    EXPECT_EQ(at(img, 1, 15), kGrey);
    EXPECT_EQ(at(img, 20, 1), kGrey);
    EXPECT_EQ(at(img, 39, 15), kWhite);
    EXPECT_EQ(at(img, 20, 28), kWhite);
    EXPECT_EQ(at(img, 39, 0), kWhite); // the corners at the ends belong to the bottom-right edge
    EXPECT_EQ(at(img, 0, 29), kWhite);
    EXPECT_EQ(at(img, 2, 2), kColor);

    h.l->setBorderStyle(lbRaised);
    img = h.face();
    EXPECT_EQ(at(img, 1, 1), kWhite);
    EXPECT_EQ(at(img, 38, 28), kGrey);
    EXPECT_EQ(at(img, 2, 2), kColor);

    h.l->setBorderStyle(lbInn); // lowered outside, raised inside: 4 pixels on each side
    img = h.face();
    EXPECT_EQ(at(img, 1, 1), kGrey);
    EXPECT_EQ(at(img, 3, 3), kWhite);
    EXPECT_EQ(at(img, 39, 29), kWhite);
    EXPECT_EQ(at(img, 36, 26), kGrey);
    EXPECT_EQ(at(img, 4, 4), kColor);
    EXPECT_EQ(at(img, 35, 25), kColor);

    h.l->setBorderStyle(lbOut);
    img = h.face();
    EXPECT_EQ(at(img, 1, 1), kWhite);
    EXPECT_EQ(at(img, 3, 3), kGrey);
    EXPECT_EQ(at(img, 36, 26), kWhite);
    EXPECT_EQ(at(img, 4, 4), kColor);

    h.l->setTransparent(true); // the border stays, the inside shows the parent
    img = h.face();
    EXPECT_EQ(at(img, 1, 1), kWhite);
    EXPECT_EQ(at(img, 20, 15), kBackground);
}

TEST(Label3D, GradientsInsideTheBorder)
{
    Host h(20, 10);
    h.l->setBevel(blNone);
    h.l->setFillGradient(true); // white to teal
    QImage img = h.face();
    EXPECT_EQ(at(img, 0, 5), kWhite);
    EXPECT_EQ(at(img, 10, 0), QColor(120, 188, 188));
    EXPECT_EQ(at(img, 10, 9), QColor(120, 188, 188));
    EXPECT_EQ(at(img, 19, 5), QColor(0, 128, 128));

    h.l->setGradientOrientation(goVertical);
    img = h.face();
    EXPECT_EQ(at(img, 10, 0), kWhite);
    EXPECT_EQ(at(img, 0, 9), QColor(0, 128, 128));
    EXPECT_EQ(at(img, 19, 4), QColor(141, 198, 198));

    // An inner area 10 wide: five steps out from each edge, the last colour in the middle two.
    h.l->resize(14, 10);
    h.l->setBorderStyle(lbNormal);
    h.l->setBorderWidth(2);
    h.l->setGradientOrientation(goHorizontal2);
    img = h.face();
    EXPECT_EQ(at(img, 0, 5), QColor(0, 0, 0)); // border untouched
    EXPECT_EQ(at(img, 2, 5), kWhite);
    EXPECT_EQ(at(img, 11, 5), kWhite);
    EXPECT_EQ(at(img, 6, 5), QColor(0, 128, 128));
    EXPECT_EQ(at(img, 7, 5), QColor(0, 128, 128));
    EXPECT_EQ(at(img, 3, 5), QColor(204, 229, 229));
    EXPECT_EQ(at(img, 10, 5), QColor(204, 229, 229));

    h.l->resize(20, 14);
    h.l->setGradientOrientation(goVertical2);
    img = h.face();
    EXPECT_EQ(at(img, 8, 2), kWhite);
    EXPECT_EQ(at(img, 8, 11), kWhite);
    EXPECT_EQ(at(img, 8, 6), QColor(0, 128, 128));
    EXPECT_EQ(at(img, 8, 7), QColor(0, 128, 128));

    // One pixel wide inside the border: no gradient and no plain fill either.
    h.l->resize(5, 10);
    h.l->setGradientOrientation(goHorizontal);
    img = h.face();
    EXPECT_EQ(at(img, 2, 5), kBackground);
    EXPECT_EQ(at(img, 1, 5), QColor(0, 0, 0));
}

TEST(Label3D, BevelCopiesOfTheText)
{
    Host h(60, 50);
    h.l->setCaption(QStringLiteral("I"));
    h.l->setAlignment(Qt::AlignCenter);
    QImage img = h.face();
    const QRect text = boxOf(img, kText);
    ASSERT_FALSE(text.isEmpty());
    EXPECT_NEAR(text.center().x(), 30, 2);
    EXPECT_NEAR(text.center().y(), 25, 3);
    // Raised, the defaults: a light copy up-left, a dark copy down-right, the text on top.
    const QRect high = boxOf(img, kHigh), shadow = boxOf(img, kShadow);
    EXPECT_EQ(high.topLeft(), text.topLeft() - QPoint(1, 1));
    EXPECT_EQ(high.bottomRight(), text.bottomRight() - QPoint(1, 1));
    EXPECT_EQ(shadow.topLeft(), text.topLeft() + QPoint(1, 1));
    EXPECT_EQ(shadow.bottomRight(), text.bottomRight() + QPoint(1, 1));

    h.l->setShadowSize(3);
    h.l->setBevel(blLowered); // colours swap
    img = h.face();
    EXPECT_EQ(boxOf(img, kShadow).topLeft(), text.topLeft() - QPoint(3, 3));
    EXPECT_EQ(boxOf(img, kHigh).bottomRight(), text.bottomRight() + QPoint(3, 3));
    EXPECT_EQ(boxOf(img, kText), text);

    h.l->setBevel(blShadow); // a shadow only
    img = h.face();
    EXPECT_TRUE(boxOf(img, kHigh).isEmpty());
    EXPECT_EQ(boxOf(img, kShadow).bottomRight(), text.bottomRight() + QPoint(3, 3));

    h.l->setShadowSize(2);
    h.l->setBevel(blRaised);
    h.l->setShadowNapr(0); // only the light copy and the text
    img = h.face();
    EXPECT_TRUE(boxOf(img, kShadow).isEmpty());
    EXPECT_EQ(boxOf(img, kHigh).topLeft(), text.topLeft() - QPoint(2, 2));

    h.l->setShadowNapr(255); // a halo of eight copies hides the light one
    img = h.face();
    EXPECT_TRUE(boxOf(img, kHigh).isEmpty());
    EXPECT_EQ(boxOf(img, kShadow), text.adjusted(-2, -2, 2, 2));
    EXPECT_EQ(at(img, text.center().x(), text.top() - 2), kShadow); // straight up, bit 7
    EXPECT_EQ(at(img, text.right() + 2, text.center().y()), kShadow); // straight right, bit 4

    h.l->setShadowNapr(1 << 1); // (−s, +s) alone
    img = h.face();
    EXPECT_EQ(boxOf(img, kShadow).bottomLeft(), text.bottomLeft() + QPoint(-2, 2));
    EXPECT_EQ(boxOf(img, kShadow).right(), text.right() - 2);

    h.l->setShadowNapr(1);
    h.l->setEnabled(false); // shadow copies stay, the light copy goes, the text turns grey
    img = h.face();
    EXPECT_TRUE(boxOf(img, kHigh).isEmpty());
    EXPECT_TRUE(boxOf(img, kText).isEmpty());
    EXPECT_EQ(boxOf(img, kGrey), text);
    EXPECT_EQ(boxOf(img, kShadow).bottomRight(), text.bottomRight() + QPoint(2, 2));
}

TEST(Label3D, WordBreakingAndLayout)
{
    Host h(30, 110);
    h.l->setCaption(QStringLiteral("II II"));
    const int line = QFontMetrics(h.l->font()).height();
    QRect text = boxOf(h.face(), kText); // a bevel breaks words only with WordWrap
    EXPECT_LT(text.height(), line);
    h.l->setWordWrap(true);
    text = boxOf(h.face(), kText);
    EXPECT_GT(text.height(), line);
    h.l->setWordWrap(false);
    h.l->setBevel(blNone); // without a bevel the text is always word-broken
    text = boxOf(h.face(), kText);
    EXPECT_GT(text.height(), line);

    h.l->setCaption(QStringLiteral("I"));
    h.l->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    text = boxOf(h.face(), kText);
    EXPECT_GT(text.right(), 22);
    EXPECT_GT(text.bottom(), 95);
    h.l->setBorderStyle(lbNormal); // the text keeps inside the border
    h.l->setBorderWidth(5);
    const QRect inside = boxOf(h.face(), kText);
    EXPECT_EQ(inside, text.translated(-5, -5));
}

TEST(Label3D, AmpersandIsDrawnWhenAcceleratorsAreOff)
{
    Host h(80, 50);
    h.l->setCaption(QStringLiteral("&I"));
    const QRect marked = boxOf(h.face(), kText);
    h.l->setShowAccelChar(false);
    const QRect plain = boxOf(h.face(), kText);
    EXPECT_GT(plain.width(), marked.width() + 10);
}

TEST(Label3D, SameValueDoesNotRepaint)
{
    Host h(40, 30);
    QCoreApplication::processEvents();
    h.l->paints = 0;
    h.l->setBevel(blRaised);
    h.l->setShadowSize(1);
    h.l->setShadowNapr(1);
    h.l->setBorderStyle(lbNone);
    h.l->setFirstColor(kWhite);
    h.l->setColor(kColor);
    QCoreApplication::processEvents();
    EXPECT_EQ(h.l->paints, 0);
    h.l->setShadowNapr(2);
    QCoreApplication::processEvents();
    EXPECT_GT(h.l->paints, 0);
}
