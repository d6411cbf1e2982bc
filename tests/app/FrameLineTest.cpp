// The lane row on its own and inside the desk.

#include "DeskFixture.h"

#include "Label3D.h"
#include "Shape.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

TEST(FrameLine, StartNumberTakesDigitsOnly)
{
    TFrameLine row(3);
    QTest::keyClicks(row.eNum, QStringLiteral("12a3"));
    EXPECT_EQ(row.eNum->text(), QStringLiteral("123"));
    QTest::keyClicks(row.eNum, QStringLiteral("4-5.6"));
    EXPECT_EQ(row.eNum->text(), QStringLiteral("12345")); // the sixth digit is over the limit
    QTest::keyClick(row.eNum, Qt::Key_Backspace);
    EXPECT_EQ(row.eNum->text(), QStringLiteral("1234"));
    QTest::keyClick(row.eNum, Qt::Key_Home);
    QTest::keyClick(row.eNum, Qt::Key_Delete);
    EXPECT_EQ(row.eNum->text(), QStringLiteral("234"));
    EXPECT_TRUE(TFrameLine::eNumKeyPress(QChar(8)));
    EXPECT_FALSE(TFrameLine::eNumKeyPress(QChar(0x16))); // Ctrl+V
}

TEST(FrameLine, SwitchingALaneOffGreysTheTimeAndFramesTheNumber)
{
    TFrameLine row(5);
    EXPECT_TRUE(row.LabelTime->isEnabled());
    EXPECT_TRUE(row.Shape->isHidden());
    row.cbON->setChecked(false);
    EXPECT_FALSE(row.LabelTime->isEnabled());
    EXPECT_FALSE(row.Shape->isHidden());
    row.cbON->setChecked(true);
    EXPECT_TRUE(row.LabelTime->isEnabled());
    EXPECT_TRUE(row.Shape->isHidden());
}

TEST(FrameLine, LaneKeyActsThroughItsStopEntry)
{
    Desk d;
    TFormMain &f = d.create();
    f.Line(2)->bKeyClick(); // ready: the entry is disabled
    EXPECT_EQ(f.FinishCount, 0);
    f.mStart->trigger();
    d.fp.ticks.now += 4321;
    f.Line(2)->bKey->click();
    EXPECT_EQ(f.Line(2)->LabelTime->text(), QStringLiteral("4,3 "));
    EXPECT_EQ(f.Line(2)->ePlatz->Caption(), QStringLiteral("1"));
}

TEST(FrameLine, PlaceTextMenuChangesOnlyItsRow)
{
    Desk d;
    d.writeFile(QStringLiteral("Zielkron-na.lst"), "n.a.\naufg.\ndisq.\nn.g.\n");
    TFormMain &f = d.create();
    f.show();
    QTest::mousePress(f.Line(4)->ePlatz, Qt::RightButton);
    EXPECT_EQ(f.PopupMenuNATag, 4);
    EXPECT_TRUE(f.PopupMenuNA->isVisible());
    f.PopupMenuNA->hide();
    f.N21->trigger();
    EXPECT_EQ(f.Line(4)->ePlatz->Caption(), QStringLiteral("aufg."));
    for (int lane : {1, 2, 3, 5, 6, 7, 8})
        EXPECT_EQ(f.Line(lane)->ePlatz->Caption(), QString()) << lane;
    QTest::mousePress(f.Line(4)->ePlatz, Qt::LeftButton); // only the right button picks the row
    QTest::mousePress(f.Line(6)->ePlatz, Qt::LeftButton);
    EXPECT_EQ(f.PopupMenuNATag, 4);
}

TEST(FrameLine, LaneNumberPictureCarriesTheNumber)
{
    Desk d;
    TFormMain &f = d.create();
    const QImage one = f.Line(1)->Image1->pixmap().toImage();
    const QImage twelve = f.Line(12)->Image1->pixmap().toImage();
    ASSERT_EQ(one.size(), QSize(42, 25));
    EXPECT_NE(one, twelve);
    // The number is written black on white around x = 18.
    bool black = false, white = false;
    for (int y = 6; y < 22; ++y)
        for (int x = 12; x < 24; ++x) {
            black |= one.pixel(x, y) == qRgb(0, 0, 0);
            white |= one.pixel(x, y) == qRgb(255, 255, 255);
        }
    EXPECT_TRUE(black);
    EXPECT_TRUE(white);
}
