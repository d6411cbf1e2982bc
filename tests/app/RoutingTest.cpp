// Serial inputs of the desk, driven through virtual lines: start contact, finish barrier with its
// lock-out, lane lines and the one-barrier mode.

#include "DeskFixture.h"

#include "Comms.h"
#include "Dmn_led.h"
#include "Label3D.h"
#include "LbSpeedButton.h"
#include "VirtualLines.h"
#include "Wait.h"

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace platform;

namespace {

struct Wired : Desk {
    VirtualLineServer com1{fp.serial.socketFor(1)};
    VirtualLineServer com2{fp.serial.socketFor(2)};
    TFormMain *f = nullptr;
    std::unique_ptr<QSignalSpy> cts, dsr, lane3;

    explicit Wired(int alg = 0, bool oneBarrier = false)
    {
        EXPECT_TRUE(com1.start());
        EXPECT_TRUE(com2.start());
        key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 1}, {"Port1", 1}, {"Port2", 2},
                 {"Port3", 0}, {"Port4", 0}, {"Alg", alg}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "T"},
                 {"LineCount", 8}, {"Accuracy", 2}, {"OneLS", oneBarrier ? 1 : 0}};
        f = &create();
        EXPECT_TRUE(com1.waitForDesk(2000));
        EXPECT_TRUE(com2.waitForDesk(2000));
        cts = std::make_unique<QSignalSpy>(f->ComPort1, &TComPort::OnCTS);
        dsr = std::make_unique<QSignalSpy>(f->ComPort1, &TComPort::OnDSR);
        lane3 = std::make_unique<QSignalSpy>(f->ComPort2, &TComPort::OnDSR);
    }

    // Runs the port events handed over so far, and nothing else: timers (the lock-out) stand still.
    bool deliver(QSignalSpy &spy, int count)
    {
        for (int i = 0; i < 4000 && spy.count() < count; ++i) {
            QCoreApplication::sendPostedEvents(f->ComPort1, QEvent::MetaCall);
            QCoreApplication::sendPostedEvents(f->ComPort2, QEvent::MetaCall);
            QThread::usleep(500);
        }
        return spy.count() >= count;
    }
    void lockOutEnds() { EXPECT_TRUE(waitUntil([&] { return !f->TimerGesperrtLuchi->isActive(); })); }
    QString time(int lane) { return f->Line(lane)->LabelTime->text(); }
    QString place(int lane) { return f->Line(lane)->ePlatz->Caption(); }
};

} // namespace

TEST(Routing, StartContactOnTheEdgeOn)
{
    Wired w(0);
    TFormMain &f = *w.f;
    w.com1.set(LineDsr, true);
    ASSERT_TRUE(w.deliver(*w.dsr, 1));
    EXPECT_FALSE(f.mStart->isEnabled());
    EXPECT_EQ(w.fp.sound.played, QStringList{"Audio-Start.wav"});
    EXPECT_TRUE(f.TimerGesperrtLuchi->isActive());
    EXPECT_FALSE(!f.ListBoxStop->isHidden()); // not in the one-barrier mode
    f.bResetClick();
    w.com1.set(LineDsr, false);
    ASSERT_TRUE(w.deliver(*w.dsr, 2));
    EXPECT_TRUE(f.mStart->isEnabled()); // going off does nothing
}

TEST(Routing, StartContactOnTheEdgeOffAndNoEdgeAtAll)
{
    Wired w(1);
    TFormMain &f = *w.f;
    w.com1.set(LineDsr, true);
    ASSERT_TRUE(w.deliver(*w.dsr, 1));
    EXPECT_TRUE(f.mStart->isEnabled());
    w.com1.set(LineDsr, false);
    ASSERT_TRUE(w.deliver(*w.dsr, 2));
    EXPECT_FALSE(f.mStart->isEnabled());

    // A hand-edited edge value outside 0..1 is brought into the range when it is read: the start
    // contact never goes dead silently.
    Wired edited(7);
    EXPECT_EQ(edited.f->Model.settings().edge, 1);
    edited.com1.set(LineDsr, true);
    ASSERT_TRUE(edited.deliver(*edited.dsr, 1));
    EXPECT_TRUE(edited.f->mStart->isEnabled());
    edited.com1.set(LineDsr, false);
    ASSERT_TRUE(edited.deliver(*edited.dsr, 2));
    EXPECT_FALSE(edited.f->mStart->isEnabled());
}

TEST(Routing, CtsAndDsrInOneReportStartTheRace)
{
    Wired w(0);
    TFormMain &f = *w.f;
    w.com1.set(LineCts | LineDsr, true);
    ASSERT_TRUE(w.deliver(*w.dsr, 1));
    EXPECT_EQ(w.cts->count(), 1);
    EXPECT_FALSE(f.mStart->isEnabled()); // every line of the report is examined
    EXPECT_EQ(f.LastModemStatus, 0x30u);
}

TEST(Routing, FinishBarrierLockOutInTheOneBarrierMode)
{
    Wired w(0, true);
    TFormMain &f = *w.f;
    w.com1.set(LineDsr, true); // start through the contact
    ASSERT_TRUE(w.deliver(*w.dsr, 1));
    EXPECT_TRUE(!f.ListBoxStop->isHidden());
    EXPECT_EQ(f.ListBoxStop->count(), 0);
    EXPECT_EQ(f.ListBoxStop->height(), f.PanelLines->height());
    // An edge within 10 ms of the start contact's edge adds nothing.
    w.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + 9;
    w.com1.set(LineCts, true);
    ASSERT_TRUE(w.deliver(*w.cts, 1));
    EXPECT_EQ(f.ListBoxStop->count(), 0);
    w.com1.set(LineCts, false);
    ASSERT_TRUE(w.deliver(*w.cts, 2));
    w.lockOutEnds();

    w.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + 10234;
    w.com1.set(LineCts, true);
    ASSERT_TRUE(w.deliver(*w.cts, 3));
    ASSERT_EQ(f.ListBoxStop->count(), 1);
    EXPECT_EQ(f.ListBoxStop->item(0)->text(), QStringLiteral("10,23")); // no trailing blank
    EXPECT_EQ(f.ListBoxStop->currentRow(), 0);
    // The next edge comes within the lock-out of the accepted one (no timer runs while the port
    // events are delivered here).
    w.com1.set(LineCts, false);
    ASSERT_TRUE(w.deliver(*w.cts, 4));
    w.com1.set(LineCts, true);
    ASSERT_TRUE(w.deliver(*w.cts, 5));
    EXPECT_EQ(f.ListBoxStop->count(), 1);
    w.lockOutEnds();
    w.fp.ticks.now += 10; // 10 ms of edge time later the barrier counts again
    w.com1.set(LineCts, false);
    ASSERT_TRUE(w.deliver(*w.cts, 6));
    w.com1.set(LineCts, true);
    ASSERT_TRUE(w.deliver(*w.cts, 7));
    EXPECT_EQ(f.ListBoxStop->count(), 2);
    EXPECT_EQ(f.ListBoxStop->currentRow(), 1);
}

TEST(Routing, LockOutTickTurnsTheLitLampsGreen)
{
    Wired w(0);
    TFormMain &f = *w.f;
    EXPECT_TRUE(f.Line(1)->Led->Value());
    w.com1.set(LineDsr, true);
    ASSERT_TRUE(w.deliver(*w.dsr, 1));
    EXPECT_EQ(f.Line(2)->Led->Kind(), lkRed);
    w.lockOutEnds();
    for (int lane : {1, 2, 3, 4})
        EXPECT_EQ(f.Line(lane)->Led->Kind(), lkGreen) << lane;
    EXPECT_EQ(f.Line(5)->Led->Kind(), lkRed); // port 3 is not open: its lamps are off
    EXPECT_FALSE(f.Line(5)->Led->Value());
}

TEST(Routing, LaneLinesStopTheirLaneOnce)
{
    Wired w(0);
    TFormMain &f = *w.f;
    w.com2.set(LineDsr, true); // lane 3 before the start: nothing
    ASSERT_TRUE(w.deliver(*w.lane3, 1));
    w.com2.set(LineDsr, false); // (the barrier clear again at the start)
    ASSERT_TRUE(w.deliver(*w.lane3, 2));
    EXPECT_EQ(f.Model.desk().finishCount, 0);
    f.mStart->trigger();
    w.fp.ticks.now += 11110;
    w.com2.set(LineDsr, true);
    ASSERT_TRUE(w.deliver(*w.lane3, 3));
    EXPECT_EQ(w.time(3), QStringLiteral("11,11 "));
    EXPECT_EQ(w.place(3), QStringLiteral("1"));
    w.fp.ticks.now += 500;
    w.com2.set(LineDsr, false); // a second change after the stop changes nothing
    ASSERT_TRUE(w.deliver(*w.lane3, 4));
    EXPECT_EQ(w.time(3), QStringLiteral("11,11 "));
    EXPECT_EQ(f.Model.desk().finishCount, 1);
}

TEST(Routing, ACompleteRaceFromTheLines)
{
    Wired w(0);
    TFormMain &f = *w.f;
    QSignalSpy lane1(f.ComPort1, &TComPort::OnRLSD);
    QSignalSpy lane2(f.ComPort2, &TComPort::OnRLSD);
    QSignalSpy lane4(f.ComPort2, &TComPort::OnCTS);
    for (int lane = 5; lane <= 8; ++lane)
        f.SetEntry(lane)->trigger();
    w.com1.set(LineDsr, true); // start contact
    ASSERT_TRUE(w.deliver(*w.dsr, 1));
    const auto start = static_cast<std::uint32_t>(f.Model.desk().start);
    w.fp.ticks.now = start + 10480;
    w.com2.pulse(LineCts, 0); // lane 4
    ASSERT_TRUE(w.deliver(lane4, 1));
    w.fp.ticks.now = start + 10512;
    w.com1.pulse(LineDcd, 0); // lane 1
    ASSERT_TRUE(w.deliver(lane1, 1));
    w.fp.ticks.now = start + 10599;
    w.com2.pulse(LineDcd, 0); // lane 2
    ASSERT_TRUE(w.deliver(lane2, 1));
    w.fp.ticks.now = start + 11000;
    w.com2.pulse(LineDsr, 0); // lane 3
    ASSERT_TRUE(w.deliver(*w.lane3, 1));
    EXPECT_EQ(w.time(4), QStringLiteral("10,48 "));
    EXPECT_EQ(w.time(1), QStringLiteral("10,51 "));
    EXPECT_EQ(w.time(2), QStringLiteral("10,59 "));
    EXPECT_EQ(w.place(4), QStringLiteral("1"));
    EXPECT_EQ(w.place(1), QStringLiteral("2"));
    EXPECT_EQ(w.place(2), QStringLiteral("3"));
    EXPECT_EQ(w.place(3), QStringLiteral("4"));
    EXPECT_TRUE(f.bProtokoll->isEnabled());
}

TEST(Routing, OneBarrierRaceWithThreeRunners)
{
    Wired w(0, true);
    TFormMain &f = *w.f;
    w.com1.set(LineDsr, true);
    ASSERT_TRUE(w.deliver(*w.dsr, 1));
    ASSERT_TRUE(!f.ListBoxStop->isHidden());
    const auto start = static_cast<std::uint32_t>(f.Model.desk().start);
    int edges = 0;
    for (std::uint32_t ms : {10120u, 10340u, 10990u}) {
        w.lockOutEnds();
        w.fp.ticks.now = start + ms;
        w.com1.set(LineCts, true); // the barrier is interrupted ...
        ASSERT_TRUE(w.deliver(*w.cts, ++edges));
        w.com1.set(LineCts, false); // ... and clear again
        ASSERT_TRUE(w.deliver(*w.cts, ++edges));
    }
    ASSERT_EQ(f.ListBoxStop->count(), 3);
    f.show();
    f.mStop->trigger();
    EXPECT_EQ(f.ListBoxStop->currentRow(), 0);
    EXPECT_TRUE(f.ListBoxStop->hasFocus() || !f.isActiveWindow());
    w.fp.sound.played.clear();
    f.StopEntry(4)->trigger();
    f.StopEntry(2)->trigger();
    EXPECT_TRUE(!f.ListBoxStop->isHidden());
    f.StopEntry(6)->trigger();
    EXPECT_EQ(w.time(4), QStringLiteral("10,12"));
    EXPECT_EQ(w.time(2), QStringLiteral("10,34"));
    EXPECT_EQ(w.time(6), QStringLiteral("10,99"));
    EXPECT_EQ(w.place(4), QStringLiteral("1"));
    EXPECT_EQ(w.place(2), QStringLiteral("2"));
    EXPECT_EQ(w.place(6), QStringLiteral("3"));
    EXPECT_FALSE(f.Line(4)->LabelTime->Transparent());
    EXPECT_FALSE(!f.ListBoxStop->isHidden());
    EXPECT_EQ(f.Model.desk().finishListTag, 0);
    EXPECT_EQ(w.fp.sound.played.size(), 3); // the stop cue for every assignment
    // A lane timed from the list takes the entry's time as its lane time (the place recount
    // ranks it like a stopped lane); the finish counter of the race is untouched.
    EXPECT_EQ(f.Line(4)->LabelTime->Tag(), 10120);
    EXPECT_EQ(f.Model.desk().finishCount, 0);
    f.StopEntry(4)->trigger(); // an empty list: only the cue
    EXPECT_EQ(w.time(4), QStringLiteral("10,12"));
}

TEST(Routing, DeleteRemovesTheSelectedFinishTime)
{
    Wired w(0, true);
    TFormMain &f = *w.f;
    w.com1.set(LineDsr, true);
    ASSERT_TRUE(w.deliver(*w.dsr, 1));
    int edges = 0;
    for (int i = 0; i < 2; ++i) {
        w.lockOutEnds();
        w.fp.ticks.now += 1000;
        w.com1.set(LineCts, true);
        ASSERT_TRUE(w.deliver(*w.cts, ++edges));
        w.com1.set(LineCts, false);
        ASSERT_TRUE(w.deliver(*w.cts, ++edges));
    }
    ASSERT_EQ(f.ListBoxStop->count(), 2);
    f.show();
    f.ListBoxStop->setCurrentRow(1);
    QTest::keyClick(f.ListBoxStop, Qt::Key_Delete);
    EXPECT_EQ(f.ListBoxStop->count(), 1);
    EXPECT_EQ(f.ListBoxStop->currentRow(), 0);
    QTest::keyClick(f.ListBoxStop, Qt::Key_Delete);
    EXPECT_EQ(f.ListBoxStop->count(), 0);
    EXPECT_FALSE(!f.ListBoxStop->isHidden());
}

// Each of these catches a single changed line of the routing or of the state machine.
TEST(Routing, TheFinishBarrierIsDeadInTheReadyState)
{
    Wired w(0, true);
    TFormMain &f = *w.f;
    w.com1.set(LineCts, true);
    ASSERT_TRUE(w.deliver(*w.cts, 1));
    EXPECT_FALSE(f.TimerGesperrtLuchi->isActive());
    EXPECT_EQ(f.ListBoxStop->count(), 0);
}

TEST(Routing, TheStartContactWaitsForTheLockOut)
{
    Wired w(0);
    TFormMain &f = *w.f;
    f.StartLockOut(w.fp.ticks.now - 3);
    w.com1.set(LineDsr, true);
    ASSERT_TRUE(w.deliver(*w.dsr, 1));
    EXPECT_TRUE(f.mStart->isEnabled());
    // The reset ends the lock-out: the next edge, still within 10 ms, starts the race.
    f.bResetClick();
    EXPECT_FALSE(f.TimerGesperrtLuchi->isActive());
    w.com1.set(LineDsr, false);
    ASSERT_TRUE(w.deliver(*w.dsr, 2));
    w.com1.set(LineDsr, true);
    ASSERT_TRUE(w.deliver(*w.dsr, 3));
    EXPECT_FALSE(f.mStart->isEnabled());
}

TEST(Routing, StartEmptiesTheFinishListAndResetTurnsLitLampsRed)
{
    Wired w(0, true);
    TFormMain &f = *w.f;
    f.ListBoxStop->addItem(QStringLiteral("9,99"));
    f.ListBoxStopTag = 2;
    w.com1.set(LineDsr, true); // start through the contact
    ASSERT_TRUE(w.deliver(*w.dsr, 1));
    EXPECT_EQ(f.ListBoxStop->count(), 0);
    EXPECT_EQ(f.Model.desk().finishListTag, 0);
    w.lockOutEnds();
    ASSERT_EQ(f.Line(2)->Led->Kind(), lkGreen);
    f.bResetClick();
    for (int lane : {1, 2, 3, 4})
        EXPECT_EQ(f.Line(lane)->Led->Kind(), lkRed) << lane;
}

TEST(Routing, StoppGivesTheShownFinishListTheFocus)
{
    Wired w(0, true);
    TFormMain &f = *w.f;
    f.show();
    w.com1.set(LineDsr, true);
    ASSERT_TRUE(w.deliver(*w.dsr, 1));
    ASSERT_TRUE(f.ListBoxStop->isVisible());
    f.Line(1)->eName->setFocus();
    f.mStop->trigger();
    EXPECT_EQ(f.focusWidget(), f.ListBoxStop);
}
