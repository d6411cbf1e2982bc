// The race desk looks exactly as it always did, pixel for pixel, in the ready, running and stopped
// states: the pictures in tests/data/desk were taken from the desk before its clock was made
// lighter. ZK_WRITE_REFERENCES=1 writes them anew (only after a deliberate change of the look).

#include "DeskFixture.h"

#include "DateTimePicker.h"
#include "TimeText.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QImage shot(TFormMain &f)
{
    return f.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

void compare(const QImage &image, const char *name)
{
    const QString path = QStringLiteral(ZK_TEST_DATA "/desk/%1.png").arg(QString::fromLatin1(name));
    if (qEnvironmentVariableIsSet("ZK_WRITE_REFERENCES")) {
        ASSERT_TRUE(image.save(path)) << qPrintable(path);
        return;
    }
    const QImage reference = QImage(path).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(reference.isNull()) << qPrintable(path);
    ASSERT_EQ(image.size(), reference.size()) << name;
    int differing = 0;
    QPoint first;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != reference.pixel(x, y) && differing++ == 0)
                first = QPoint(x, y);
    EXPECT_EQ(differing, 0) << name << ": first difference at " << first.x() << "," << first.y();
}

// What the screen shows of the lanes' time labels is what a full drawing of the window shows.
void screenShowsTheLabels(TFormMain &f, int lanes, const std::string &step)
{
    QCoreApplication::processEvents();
    const QImage screen = f.screen()->grabWindow(f.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage full = f.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(screen.size(), full.size());
    for (int lane = 1; lane <= lanes; ++lane) {
        const QRect r(f.Line(lane)->LabelTime->mapTo(&f, QPoint(0, 0)), f.Line(lane)->LabelTime->size());
        ASSERT_EQ(screen.copy(r), full.copy(r)) << "lane " << lane << " after " << step;
    }
}

void showRunningClock(Desk &d, int lanes)
{
    d.key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 1}, {"Port1", 0}, {"Port2", 0},
               {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "T"},
               {"LineCount", lanes}, {"Accuracy", 2}};
    TFormMain &f = d.create();
    f.TimerDate->stop();
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    f.mStart->trigger();
    f.Clock->stop(); // the test drives the clock itself
}

} // namespace

TEST(DeskPicture, ReadyRunningAndStoppedLookAsBefore)
{
    Desk d;
    d.key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 1}, {"Port1", 0}, {"Port2", 0},
               {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0},
               {"Title", "Hallenmeeting"}, {"LineCount", 8}, {"Accuracy", 2}};
    TFormMain &f = d.create();
    f.TimerDate->stop();
    f.PanelDate->setText(QStringLiteral("14:05:33"));
    f.DateTimePicker1->setDate(QDate(2027, 5, 14));
    const char *names[] = {"Anna Berg", "Jürgen Weiß", "Li Wang", "Zoë Ørsted", "Max Muster", "Eva Klein",
                           "Tom Groß", "Ida Sommer"};
    for (int i = 1; i <= 8; ++i) {
        f.Line(i)->eNum->setText(QString::number(100 + i));
        f.Line(i)->eName->setText(QString::fromUtf8(names[i - 1]));
    }
    f.SetEntry(3)->trigger(); // lane 3 switched off
    f.show();
    compare(shot(f), "ready");

    f.mStart->trigger();
    d.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + 9876;
    f.StopEntry(5)->trigger();
    d.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + 10234;
    f.ClockTimer();
    compare(shot(f), "running");

    const int after[] = {0, 10456, 0, 0, 10987, 0, 11020, 61500, 12010}; // by lane
    for (int lane : {1, 4, 6, 7, 8}) {
        d.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + static_cast<std::uint32_t>(after[lane]);
        f.StopEntry(lane)->trigger();
    }
    d.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + 12500;
    f.mStop->trigger(); // lane 2 did not finish
    f.Line(6)->eAusDblClick();
    compare(shot(f), "stopped");
}

TEST(DeskPicture, ARunningClockRepaintsOnlyWhatChangedAndLeavesNoTrace)
{
    Desk d;
    showRunningClock(d, 4);
    TFormMain &f = *d.form;
    auto sameAsFullDrawing = [&f](const std::string &step) { screenShowsTheLabels(f, 4, step); };
    // Texts that grow, shrink, change in one digit, in a middle digit, in all of them, and a run
    // of consecutive hundredths across seconds, ten seconds and the minute.
    std::vector<std::uint32_t> times{0u, 9u, 990u, 9990u, 9999u, 10000u, 10010u, 59990u, 60000u, 61234u, 61834u,
                                     65432u, 600000u, 9876u, 11111u, 1u};
    for (std::uint32_t t = 9930; t <= 10080; t += 10)
        times.push_back(t);
    for (std::uint32_t t = 59950; t <= 60030; t += 10)
        times.push_back(t);
    for (std::uint32_t t : times) {
        d.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + t;
        // Lanes showing the same are copied from the lane drawn first; when that lane stops, the
        // next running lane is drawn and the others copied from it.
        if (t == 61234u)
            f.StopEntry(1)->trigger();
        f.ClockTimer();
        sameAsFullDrawing(std::to_string(t) + " ms");
    }
    f.Line(2)->LabelTime->setText(QString()); // as STOPP blanks a lane
    f.Line(3)->LabelTime->setText(QStringLiteral("1:05,43 "));
    sameAsFullDrawing("blank and stopped lanes");
    // Same beginning, different widths: the beginning moves and is drawn anew.
    f.Line(4)->LabelTime->setText(QStringLiteral("1:05,43 "));
    sameAsFullDrawing("1:05,43");
    f.Line(4)->LabelTime->setText(QStringLiteral("1:0 "));
    sameAsFullDrawing("1:0");
}

TEST(DeskPicture, ARunningClockDrawsLanesThatShowDifferentTimesEachAsItself)
{
    // Lanes whose changes differ within one frame, none of them drawn before: each is drawn as
    // itself, none copied from another lane or clipped away by the lane drawn before it.
    Desk d;
    showRunningClock(d, 4);
    TFormMain &f = *d.form;
    std::vector<TTimeLabel *> labels;
    const char *texts[] = {"7:11,17 ", "7:22,27 ", "7:33,37 ", "7:44,47 "};
    for (int lane = 1; lane <= 4; ++lane) {
        labels.push_back(f.Line(lane)->LabelTime);
        labels.back()->showRunningTime(QString::fromLatin1(texts[lane - 1]), true);
    }
    TTimeLabel::PaintRunningTimes(&f, labels);
    screenShowsTheLabels(f, 4, "four different times");
}

TEST(DeskPicture, EveryRunningTimeIsDrawnAsTheLabelItselfWouldDrawIt)
{
    Desk d;
    TFormMain &f = d.create();
    TTimeLabel *fast = f.Line(1)->LabelTime;
    fast->setTransparent(false);
    QLabel plain; // the same label without the time label's own drawing
    plain.setFont(fast->font());
    plain.setAlignment(fast->alignment());
    plain.setPalette(fast->palette());
    plain.setAutoFillBackground(true);
    plain.resize(fast->size());
    int compared = 0;
    for (bool enabled : {true, false}) {
        fast->setEnabled(enabled);
        plain.setEnabled(enabled);
        for (int accuracy : {0, 1, 2})
            for (std::int32_t t = 0; t < 700000; t += t < 12000 ? 37 : 4999) {
                const QString text = RaceTimeText(t, accuracy) + QLatin1Char(' ');
                fast->setText(text);
                plain.setText(text);
                ASSERT_EQ(fast->grab().toImage(), plain.grab().toImage()) << qPrintable(text) << (enabled ? "" : " disabled");
                ++compared;
            }
    }
    EXPECT_GT(compared, 1000);
}
