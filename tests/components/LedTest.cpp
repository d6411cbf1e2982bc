#include "Dmn_led.h"

#include <QImage>
#include <QLabel>
#include <QSignalSpy>

#include <gtest/gtest.h>

TEST(Led, ValueChangesRepaintLabelAndNotifyOnlyOnChange)
{
    TLed led;
    QLabel label;
    led.setLabelOnText(QStringLiteral("an"));
    led.setLabelOffText(QStringLiteral("aus"));
    led.setLabelLinked(&label);
    EXPECT_EQ(label.text(), QStringLiteral("aus"));
    QSignalSpy changes(&led, &TLed::OnChange);
    led.setValue(false);
    EXPECT_EQ(changes.count(), 0);
    led.setValue(true);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(label.text(), QStringLiteral("an"));
    led.setLabelOffText(QStringLiteral("weg")); // the label keeps showing the on text
    EXPECT_EQ(label.text(), QStringLiteral("an"));
    led.setLabelOnText(QString());
    EXPECT_EQ(label.text(), QString());
}

TEST(Led, DrawsItsPixelMapAtTheTopLeft)
{
    QWidget parent;
    parent.setAutoFillBackground(true);
    QPalette pal = parent.palette();
    pal.setColor(QPalette::Window, QColor(1, 2, 3));
    parent.setPalette(pal);
    parent.resize(40, 40);
    TLed led(&parent);
    led.setGeometry(0, 0, 24, 24);
    led.setKind(lkRed);
    const QImage off = parent.grab().toImage();
    // An off red circle: black body, grey and white rim, a small red reflection at the upper left.
    EXPECT_EQ(off.pixel(7, 7), qRgb(0, 0, 0));
    EXPECT_EQ(off.pixel(5, 0), qRgb(0x80, 0x80, 0x80));
    EXPECT_EQ(off.pixel(10, 15), qRgb(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(off.pixel(5, 4), qRgb(0xFF, 0, 0));
    EXPECT_EQ(off.pixel(0, 0), qRgb(1, 2, 3));   // untouched corner
    EXPECT_EQ(off.pixel(20, 20), qRgb(1, 2, 3)); // a larger control still draws 16 x 16
    led.setValue(true);
    led.setKind(lkGreen);
    const QImage on = parent.grab().toImage();
    EXPECT_EQ(on.pixel(7, 7), qRgb(0, 0xFF, 0));
    EXPECT_EQ(on.pixel(4, 4), qRgb(0xFF, 0xFF, 0xFF)); // highlight, code 6
    EXPECT_EQ(on.pixel(6, 2), qRgb(0xFF, 0xFF, 0));    // reflection, code 5
}
