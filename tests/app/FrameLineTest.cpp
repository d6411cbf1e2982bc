// The lane row on its own and inside the desk.

#include "DeskFixture.h"

#include "Label3D.h"
#include "Shape.h"

#include <QAccessible>
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
    EXPECT_EQ(f.Model.desk().finishCount, 0);
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
    const QImage bare = f.ImageListLine[0].toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(bare.size(), QSize(42, 25));
    QImage previous;
    for (int lane : {1, 7, 12}) {
        const QImage pic = f.Line(lane)->Image1->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(pic.size(), bare.size());
        // The number is written on the lane marker near x = 18, y = 6, black on white: the
        // drawing whitens part of the black marker and changes nothing far from that spot.
        int whitened = 0, blackOnWhite = 0;
        for (int y = 0; y < pic.height(); ++y)
            for (int x = 0; x < pic.width(); ++x) {
                if (pic.pixel(x, y) == bare.pixel(x, y))
                    continue;
                EXPECT_TRUE(x >= 6 && x < 32 && y >= 6) << lane << " changed at " << x << "," << y;
                whitened += pic.pixel(x, y) == qRgb(255, 255, 255) && bare.pixel(x, y) == qRgb(0, 0, 0);
                blackOnWhite += pic.pixel(x, y) == qRgb(0, 0, 0);
            }
        EXPECT_GT(whitened, 15) << lane;
        EXPECT_GT(blackOnWhite + whitened, 30) << lane;
        EXPECT_NE(pic, previous) << lane;
        previous = pic;
    }
}

TEST(FrameLine, AssistiveTechnologyReadsEachLanesTime)
{
    Desk d;
    d.key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 1}, {"Port1", 0}, {"Port2", 0}, {"Port3", 0},
               {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "T"}, {"LineCount", 3},
               {"Accuracy", 2}};
    TFormMain &f = d.create();
    f.show();
    const auto seen = [&f](int lane) {
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(f.Line(lane)->LabelTime);
        return a ? a->text(QAccessible::Name) : QStringLiteral("(none)");
    };
    const auto state = [&f](int lane) { return QAccessible::queryAccessibleInterface(f.Line(lane)->LabelTime)->state(); };
    EXPECT_EQ(QAccessible::queryAccessibleInterface(f.Line(1)->LabelTime)->role(), QAccessible::StaticText);
    EXPECT_EQ(seen(1), QStringLiteral("Zeit Bahn 1: 0,00"));

    f.SetEntry(3)->trigger(); // lane 3 off: greyed
    EXPECT_TRUE(state(3).disabled);
    f.mStart->trigger();
    d.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + 10234;
    f.ClockTimer();
    EXPECT_EQ(seen(1), QStringLiteral("Zeit Bahn 1: 10,23")); // the running time
    f.StopEntry(2)->trigger();
    d.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + 10987;
    f.ClockTimer();
    EXPECT_EQ(seen(2), QStringLiteral("Zeit Bahn 2: 10,23")); // the final time stays
    EXPECT_EQ(seen(1), QStringLiteral("Zeit Bahn 1: 10,98"));
    f.mStop->trigger();
    EXPECT_EQ(seen(1), QStringLiteral("Zeit Bahn 1")); // blanked by STOPP
    f.Line(2)->eAusDblClick();
    EXPECT_TRUE(state(2).invisible); // "Aus"
    f.Line(2)->eAusDblClick();
    EXPECT_FALSE(state(2).invisible);
    EXPECT_EQ(seen(2), QStringLiteral("Zeit Bahn 2: 10,23"));
}
