// The five race buttons of the desk look exactly as in the stored pictures, in every state.

#include "DeskFixture.h"
#include "LbSpeedButton.h"

#include <QCoreApplication>
#include <QDir>
#include <QEnterEvent>
#include <QImage>

#include <gtest/gtest.h>

namespace {

// Compares pixel for pixel; on a difference the picture drawn is kept next to the build for a look.
void expectLooksLike(TLbSpeedButton *b, const QString &state)
{
    const QString name = b->objectName() + QLatin1Char('-') + state + QStringLiteral(".png");
    const QImage expected =
        QImage(QStringLiteral(ZK_TEST_DATA "/speedbutton/") + name).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(expected.isNull()) << name.toStdString();
    const QImage actual = b->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(actual.size(), expected.size()) << name.toStdString();
    int differing = 0;
    QPoint first(-1, -1);
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x)
            if (actual.pixel(x, y) != expected.pixel(x, y) && differing++ == 0)
                first = QPoint(x, y);
    if (differing) {
        const QString kept = QDir::temp().filePath(QStringLiteral("actual-") + name);
        actual.save(kept);
        ADD_FAILURE() << name.toStdString() << ": " << differing << " pixels differ, the first at (" << first.x()
                      << ", " << first.y() << "); drawn: " << kept.toStdString();
    }
}

} // namespace

TEST(SpeedButtonDesk, RaceButtonsLookAsBeforeInEveryState)
{
    Desk d;
    TFormMain &f = d.create();
    f.show();
    QCoreApplication::processEvents();
    for (TLbSpeedButton *b : {f.bStart, f.bStop, f.bFehlStart, f.bReset, f.bProtokoll}) {
        SCOPED_TRACE(b->objectName().toStdString());
        b->show();
        b->setEnabled(true);
        expectLooksLike(b, QStringLiteral("normal"));
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QCoreApplication::sendEvent(b, &enter);
        ASSERT_TRUE(b->Hot());
        expectLooksLike(b, QStringLiteral("hot"));
        b->setDown(true);
        expectLooksLike(b, QStringLiteral("hotdown"));
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(b, &leave);
        expectLooksLike(b, QStringLiteral("down"));
        b->setDown(false);
        b->setEnabled(false);
        expectLooksLike(b, QStringLiteral("disabled"));
    }
}
