// The race state machine: start, stops, STOPP, false start, reset, places and the clock.

#include "DeskFixture.h"

#include "Label3D.h"
#include "LbSpeedButton.h"
#include "Shape.h"
#include "SpinEdit.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

QString ed(bool enabled) { return enabled ? QStringLiteral("E") : QStringLiteral("D"); }

// The controls that make up the race state, as "name:E/D[,vis/hid]".
QString state(TFormMain &f)
{
    QStringList s;
    s << "bStart:" + ed(f.bStart->isEnabled()) << "mStart:" + ed(f.mStart->isEnabled())
      << "bStop:" + ed(f.bStop->isEnabled()) << "mStop:" + ed(f.mStop->isEnabled())
      << "bFehlStart:" + ed(f.bFehlStart->isEnabled()) + (f.bFehlStart->isHidden() ? ",hid" : ",vis")
      << "bReset:" + ed(f.bReset->isEnabled()) + (f.bReset->isHidden() ? ",hid" : ",vis")
      << "mReset:" + ed(f.mReset->isEnabled()) << "bCFG:" + ed(f.bCFG->isEnabled())
      << "cmd_Auf:" + ed(f.cmd_Auf->isEnabled()) << "cmd_Fertig:" + ed(f.cmd_Fertig->isEnabled())
      << "mAllSet:" + ed(f.mAllSet->isEnabled()) << "CheckBox_all:" + ed(f.CheckBox_all->isEnabled())
      << QStringLiteral("Clock:") + (f.Clock->isActive() ? "on" : "off");
    return s.join(' ');
}

const QString kReady = "bStart:E mStart:E bStop:D mStop:D bFehlStart:D,vis bReset:D,hid mReset:D bCFG:E "
                       "cmd_Auf:E cmd_Fertig:D mAllSet:E CheckBox_all:E Clock:off";
const QString kRunning = "bStart:D mStart:D bStop:E mStop:E bFehlStart:E,vis bReset:D,hid mReset:D bCFG:D "
                         "cmd_Auf:D cmd_Fertig:D mAllSet:D CheckBox_all:D Clock:on";
const QString kFirstStop = "bStart:D mStart:D bStop:E mStop:E bFehlStart:D,vis bReset:D,hid mReset:D bCFG:D "
                           "cmd_Auf:D cmd_Fertig:D mAllSet:D CheckBox_all:D Clock:on";
const QString kAllStopped = "bStart:D mStart:D bStop:D mStop:E bFehlStart:D,vis bReset:D,hid mReset:D bCFG:D "
                            "cmd_Auf:D cmd_Fertig:D mAllSet:D CheckBox_all:D Clock:off";
const QString kAfterStopp = "bStart:D mStart:D bStop:D mStop:E bFehlStart:D,vis bReset:D,hid mReset:D bCFG:D "
                            "cmd_Auf:D cmd_Fertig:D mAllSet:D CheckBox_all:D Clock:off";

struct Race : Desk {
    TFormMain *f;
    explicit Race(int lanes = 8)
    {
        key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 1}, {"Port1", 0}, {"Port2", 0},
                 {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "T"},
                 {"LineCount", lanes}, {"Accuracy", 2}};
        f = &create();
    }
    void start() { f->mStart->trigger(); }
    void stopAt(int lane, std::uint32_t msAfterStart)
    {
        fp.ticks.now = static_cast<std::uint32_t>(f->Model.desk().start) + msAfterStart;
        f->StopEntry(lane)->trigger();
    }
    QString time(int lane) { return f->Line(lane)->LabelTime->text(); }
    QString place(int lane) { return f->Line(lane)->ePlatz->Caption(); }
};

} // namespace

TEST(RaceStates, EveryTransitionOfTheStateTable)
{
    Race r(3);
    TFormMain &f = *r.f;
    EXPECT_EQ(state(f), kReady);
    EXPECT_FALSE(f.bProtokoll->isEnabled());

    r.start();
    EXPECT_EQ(state(f), kRunning);
    r.stopAt(2, 5000);
    EXPECT_EQ(state(f), kFirstStop);
    r.stopAt(1, 6000);
    EXPECT_FALSE(f.bProtokoll->isEnabled());
    r.stopAt(3, 7000);
    EXPECT_EQ(state(f), kAllStopped);
    EXPECT_TRUE(f.bProtokoll->isEnabled());
    f.bStopClick(); // "Stopp" stays enabled after the last lane and still acts
    EXPECT_EQ(state(f), kAfterStopp);

    f.bResetClick();
    EXPECT_EQ(state(f), kReady);
    EXPECT_TRUE(f.bProtokoll->isEnabled()); // the reset leaves the entry button alone

    r.start();
    f.bStop->click();
    EXPECT_EQ(state(f), kAfterStopp);
    f.bResetClick();

    r.start();
    r.fp.sound.played.clear();
    f.bFehlStart->click();
    EXPECT_EQ(state(f), kReady);
    EXPECT_FALSE(f.bProtokoll->isEnabled());
    EXPECT_EQ(r.fp.sound.played, QStringList{"Audio-Start-Fehl.wav"});
    for (int lane = 1; lane <= 3; ++lane) {
        EXPECT_EQ(r.time(lane), QStringLiteral("0,00 "));
        EXPECT_TRUE(f.Line(lane)->LabelTime->Transparent());
        EXPECT_FALSE(f.StopEntry(lane)->isEnabled());
    }
}

TEST(RaceStates, CallsAreOptionalAndPlayTheirCues)
{
    Race r;
    TFormMain &f = *r.f;
    f.cmd_Auf->click();
    EXPECT_FALSE(f.cmd_Auf->isEnabled());
    EXPECT_TRUE(f.cmd_Fertig->isEnabled());
    f.cmd_Fertig->click();
    EXPECT_FALSE(f.cmd_Fertig->isEnabled());
    EXPECT_EQ(r.fp.sound.played, (QStringList{"Audio-Auf-Platz.wav", "Audio-Fertig.wav"}));
    f.bResetClick();
    r.start(); // without any call
    EXPECT_EQ(state(f), kRunning);
}

TEST(RaceClock, StartWaits200MsThenTakesTheStartInstant)
{
    Race r;
    TFormMain &f = *r.f;
    r.fp.ticks.now = 50000;
    f.PanelDate->setText(QStringLiteral("14:05:33"));
    r.start();
    EXPECT_EQ(r.fp.sound.played, QStringList{"Audio-Start.wav"});
    EXPECT_EQ(r.fp.ticks.sleeps, std::vector<std::uint32_t>{200});
    EXPECT_EQ(f.Model.desk().start, 50200u);
    EXPECT_EQ(f.PanelDate->toolTip(), QStringLiteral("14:05:33"));
    EXPECT_EQ(f.RunMask(), 0xFFu);

    // The clock shows the running time of every running lane.
    r.fp.ticks.now = 50200 + 65432;
    f.ClockTimer();
    EXPECT_EQ(r.time(4), QStringLiteral("1:05,43 "));
    r.stopAt(4, 70000);
    r.fp.ticks.now = 50200 + 80000;
    f.ClockTimer();
    EXPECT_EQ(r.time(4), QStringLiteral("1:10,00 "));
    EXPECT_EQ(r.time(5), QStringLiteral("1:20,00 "));
}

TEST(RaceClock, StopOrderGivesThePlacesWhateverTheTimes)
{
    Race r;
    TFormMain &f = *r.f;
    r.start();
    r.stopAt(3, 12000);
    r.stopAt(1, 11000); // a smaller time, but stopped later
    r.stopAt(4, 11000);
    EXPECT_EQ(r.place(3), QStringLiteral("1"));
    EXPECT_EQ(r.place(1), QStringLiteral("2"));
    EXPECT_EQ(r.place(4), QStringLiteral("3"));
    EXPECT_EQ(r.time(3), QStringLiteral("12,00 "));
    EXPECT_EQ(f.Line(3)->LabelTime->Tag(), 12000);
    EXPECT_FALSE(f.Line(3)->LabelTime->Transparent());
    EXPECT_FALSE(f.StopEntry(3)->isEnabled());
    EXPECT_FALSE(f.Line(3)->bKey->isEnabled());
    EXPECT_TRUE(f.Line(2)->bKey->isEnabled());
    // A second stop of the same lane does nothing.
    r.stopAt(3, 20000);
    EXPECT_EQ(f.Line(3)->LabelTime->Tag(), 12000);
    EXPECT_EQ(f.Model.desk().finishCount, 3);
}

TEST(RaceClock, TimesAreTruncatedToTheAccuracy)
{
    Race r;
    TFormMain &f = *r.f;
    r.start();
    r.stopAt(1, 12345);
    r.stopAt(2, 61000);
    EXPECT_EQ(r.time(1), QStringLiteral("12,34 "));
    EXPECT_EQ(r.time(2), QStringLiteral("1:01,00 "));
    f.bResetClick();
    f.Model.setAccuracy(1);
    f.bResetClick();
    EXPECT_EQ(r.time(1), QStringLiteral("0,0 "));
    r.start();
    r.stopAt(1, 12345);
    EXPECT_EQ(r.time(1), QStringLiteral("12,3 "));
}

TEST(RaceClock, ARaceAcrossTheWrapOfTheTickCounterIsTimedCorrectly)
{
    Race r;
    TFormMain &f = *r.f;
    r.fp.ticks.now = 0xFFFFFFFFu - 5000;
    r.start();
    EXPECT_EQ(f.Model.desk().start, 0xFFFFFFFFu - 4800);
    r.fp.ticks.now = 10195; // 15 s later, after the wrap
    f.ClockTimer();
    EXPECT_EQ(r.time(1), QStringLiteral("14,99 "));
    f.StopEntry(1)->trigger();
    EXPECT_EQ(f.Line(1)->LabelTime->Tag(), 14996);
    EXPECT_EQ(r.time(1), QStringLiteral("14,99 "));
}

TEST(RaceClock, AStopInTheStartsOwnMillisecondStillCountsAsStopped)
{
    Race r;
    TFormMain &f = *r.f;
    r.start();
    r.stopAt(1, 0);
    EXPECT_EQ(f.Line(1)->LabelTime->Tag(), 1);
    r.fp.ticks.now += 5000;
    f.ClockTimer();
    EXPECT_EQ(r.time(1), QStringLiteral("0,00 ")); // the clock leaves a stopped lane alone
    EXPECT_EQ(r.place(1), QStringLiteral("1"));
}

TEST(RaceClock, SwitchedOffLanesDoNotRun)
{
    Race r(6);
    TFormMain &f = *r.f;
    f.SetEntry(2)->trigger();
    f.SetEntry(5)->trigger();
    EXPECT_EQ(f.Line(2)->LabelTime->Tag(), 0); // -1 comes with the start
    r.start();
    EXPECT_EQ(f.RunMask(), 0b101101u);
    EXPECT_EQ(f.Line(2)->LabelTime->Tag(), -1);
    EXPECT_FALSE(f.StopEntry(2)->isEnabled());
    EXPECT_FALSE(f.StopEntry(5)->isEnabled());
    EXPECT_TRUE(f.SetEntry(2)->isEnabled()); // still settable: changes only the look
    EXPECT_FALSE(f.SetEntry(1)->isEnabled());
    r.stopAt(2, 3000);
    r.stopAt(5, 3000);
    EXPECT_EQ(f.Model.desk().finishCount, 0);
    EXPECT_FALSE(f.Line(2)->LabelTime->isEnabled());
    EXPECT_EQ(r.time(2), QStringLiteral("0,00 "));
    r.fp.ticks.now += 1000;
    f.ClockTimer();
    EXPECT_EQ(r.time(2), QStringLiteral("0,00 "));
    for (int lane : {1, 3, 4, 6})
        r.stopAt(lane, 9000 + static_cast<std::uint32_t>(lane));
    EXPECT_EQ(f.RunMask(), 0u);
    EXPECT_TRUE(f.bProtokoll->isEnabled());
}

TEST(RaceClock, StoppThenALateStop)
{
    Race r(3);
    TFormMain &f = *r.f;
    r.start();
    r.stopAt(1, 10000);
    r.stopAt(2, 10500);
    f.mStop->trigger();
    EXPECT_EQ(r.time(3), QString());
    EXPECT_FALSE(f.Line(3)->bKey->isEnabled());
    EXPECT_TRUE(f.StopEntry(3)->isEnabled()); // the lane's key still acts
    r.stopAt(3, 30000);
    EXPECT_EQ(r.time(3), QStringLiteral("30,00 "));
    EXPECT_EQ(r.place(3), QStringLiteral("3"));
}

TEST(RaceClock, AusToggleRecountsThePlaces)
{
    Race r(3);
    TFormMain &f = *r.f;
    r.start();
    r.stopAt(2, 10000);
    r.stopAt(3, 10100);
    r.stopAt(1, 10200);
    f.Line(2)->eAusDblClick(); // the winner is out
    EXPECT_EQ(r.place(2), QStringLiteral("Aus"));
    EXPECT_TRUE(f.Line(2)->LabelTime->isHidden());
    EXPECT_EQ(r.place(3), QStringLiteral("1"));
    EXPECT_EQ(r.place(1), QStringLiteral("2"));
    f.Line(2)->eAusDblClick(); // and back
    EXPECT_FALSE(f.Line(2)->LabelTime->isHidden());
    EXPECT_EQ(r.place(2), QStringLiteral("1"));
    EXPECT_EQ(r.place(3), QStringLiteral("2"));
    EXPECT_EQ(r.place(1), QStringLiteral("3"));
    EXPECT_EQ(f.Model.desk().finishCount, 3);
}

TEST(RaceClock, RecountKeepsTheOrderOfEqualTimesAndSkipsLanesWithoutTime)
{
    Race r(4);
    TFormMain &f = *r.f;
    r.start();
    r.stopAt(4, 9000);
    r.stopAt(2, 9000);
    f.mStop->trigger(); // lanes 1 and 3 blanked
    f.RecountPlaces();
    EXPECT_EQ(r.place(4), QStringLiteral("1")); // stopped first within the same millisecond
    EXPECT_EQ(r.place(2), QStringLiteral("2"));
    EXPECT_EQ(r.place(1), QString());
    EXPECT_EQ(r.place(3), QString());
}

TEST(RaceClock, EqualTimesKeepTheirPlacesThroughAusAndAHeatChange)
{
    Race r(8);
    TFormMain &f = *r.f;
    r.start();
    r.stopAt(1, 9950);
    for (int lane : {8, 5, 4, 2}) // one millisecond, four lanes
        r.stopAt(lane, 10010);
    for (int lane : {3, 6, 7})
        r.stopAt(lane, 10500 + static_cast<std::uint32_t>(lane));
    const auto places = [&r] {
        QStringList out;
        for (int lane = 1; lane <= 8; ++lane)
            out << r.place(lane);
        return out.join(QLatin1Char(' '));
    };
    ASSERT_EQ(places(), QStringLiteral("1 5 6 4 3 7 8 2"));
    f.Line(1)->eAusDblClick(); // the winner is out: the four move up in their order
    EXPECT_EQ(places(), QStringLiteral("Aus 4 5 3 2 6 7 1"));
    f.Line(5)->eAusDblClick();
    f.Line(5)->eAusDblClick(); // out and back: lane 5 takes its place between 8 and 4 again
    EXPECT_EQ(places(), QStringLiteral("Aus 4 5 3 2 6 7 1"));
    f.Line(1)->eAusDblClick();
    EXPECT_EQ(places(), QStringLiteral("1 5 6 4 3 7 8 2"));

    // The heat entered, a second heat run in which the same lanes cross in the opposite order, and
    // the first heat looked at again: its places come from the table, and so does their order.
    f.mEintragen->trigger();
    r.start();
    for (int lane = 1; lane <= 8; ++lane)
        r.stopAt(lane, 11000);
    f.seLauf->setValue(1);
    ASSERT_EQ(places(), QStringLiteral("1 5 6 4 3 7 8 2"));
    f.Line(6)->eAusDblClick();
    EXPECT_EQ(places(), QStringLiteral("1 5 6 4 3 Aus 7 2"));
}

TEST(RaceClock, ResetAfterFewerLanesDisarmsTheRowsOutOfView)
{
    Race r(8);
    TFormMain &f = *r.f;
    r.start();
    f.Model.setLanes(6);
    f.bResetClick();
    EXPECT_FALSE(f.StopEntry(7)->isEnabled());
    EXPECT_FALSE(f.StopEntry(8)->isEnabled());
    r.start();
    r.stopAt(8, 1000);
    EXPECT_EQ(f.Model.desk().finishCount, 0);
}

TEST(RaceClock, SetKeysAndAllSet)
{
    Race r(4);
    TFormMain &f = *r.f;
    f.SetEntry(3)->trigger();
    EXPECT_FALSE(f.Line(3)->cbON->isChecked());
    EXPECT_TRUE(f.Line(3)->Shape->isVisibleTo(f.Line(3)));
    f.mAllSet->trigger(); // all off
    EXPECT_FALSE(f.CheckBox_all->isChecked());
    for (int lane = 1; lane <= 4; ++lane)
        EXPECT_FALSE(f.Line(lane)->cbON->isChecked());
    EXPECT_TRUE(f.Line(5)->cbON->isChecked()); // beyond the lane count
    f.mAllSet->trigger(); // all on
    for (int lane = 1; lane <= 4; ++lane)
        EXPECT_TRUE(f.Line(lane)->cbON->isChecked());
    r.start();
    f.mAllSet->trigger(); // disabled while running
    EXPECT_TRUE(f.CheckBox_all->isChecked());
}

TEST(RaceClock, SoundToggleSilencesEveryCue)
{
    Race r;
    TFormMain &f = *r.f;
    f.Sound1->trigger();
    EXPECT_FALSE(f.bSound->isChecked());
    EXPECT_FALSE(f.SoundOn);
    f.cmd_Auf->click();
    f.cmd_Fertig->click();
    r.start();
    f.bFehlStart->click();
    r.start();
    r.stopAt(1, 5000);
    EXPECT_TRUE(r.fp.sound.played.isEmpty());
    EXPECT_EQ(r.fp.ticks.sleeps.size(), 2u); // the start waits all the same
    f.bResetClick();
    f.bSound->click();
    EXPECT_TRUE(f.SoundOn);
    f.cmd_Auf->click();
    EXPECT_EQ(r.fp.sound.played, QStringList{"Audio-Auf-Platz.wav"});
}

TEST(RaceKeys, FunctionKeysActWhereverTheFocusIsAndDisabledKeysAreSwallowed)
{
    Race r(3);
    TFormMain &f = *r.f;
    f.show();
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    QLineEdit *name = f.Line(2)->eName;
    name->setFocus();
    name->setText(QStringLiteral("Meyer"));
    name->selectAll();

    QTest::keyClick(name, Qt::Key_F1); // ready: F1 is disabled and does nothing
    EXPECT_EQ(name->text(), QStringLiteral("Meyer"));
    EXPECT_EQ(r.fp.sound.played, QStringList());

    QTest::keyClick(name, Qt::Key_L, Qt::AltModifier);
    EXPECT_EQ(state(f), kRunning);
    r.fp.ticks.now += 9870;
    QTest::keyClick(name, Qt::Key_F2);
    EXPECT_EQ(r.time(2), QStringLiteral("9,87 "));
    EXPECT_EQ(r.place(2), QStringLiteral("1"));
    QTest::keyClick(name, Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(state(f), kAfterStopp);
    QTest::keyClick(name, Qt::Key_F1, Qt::ControlModifier); // set keys are off until the reset
    EXPECT_TRUE(f.Line(1)->cbON->isChecked());
    QTest::keyClick(name, Qt::Key_S, Qt::ControlModifier);
    EXPECT_FALSE(f.SoundOn);
    EXPECT_EQ(name->text(), QStringLiteral("Meyer"));
}

TEST(RaceClock, TheClockWakesWhenTheShownTimeChangesNext)
{
    // Hundredths change every 10 ms, but the clock shows a frame every 39 ms: it wakes at the next
    // frame (frames counted from the start), tenths and seconds at their next step.
    for (const auto &[accuracy, interval] : {std::pair{2, 14}, std::pair{1, 66}, std::pair{0, 766}}) {
        Race r(2);
        r.f->Model.setAccuracy(accuracy);
        r.start();
        r.fp.ticks.now = static_cast<std::uint32_t>(r.f->Model.desk().start) + 1234;
        r.f->ClockTimer();
        EXPECT_EQ(r.f->FrameMs, 39);
        EXPECT_EQ(r.f->Clock->interval(), interval) << accuracy;
        EXPECT_TRUE(r.f->Clock->isActive());
    }
}

TEST(RaceClock, RoundedUpFinalTimesKeepThePlacesOfTheEdgesAndTheClockTruncates)
{
    Race r(4);
    TFormMain &f = *r.f;
    f.Model.setRoundUp(true);
    r.start();
    r.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + 10239;
    f.ClockTimer();
    EXPECT_EQ(r.time(1).trimmed(), QStringLiteral("10,23")); // the running clock is no result
    r.stopAt(3, 10231);
    r.stopAt(1, 10239);
    r.stopAt(4, 10240);
    r.stopAt(2, 10300);
    EXPECT_EQ(r.time(3), QStringLiteral("10,24 "));
    EXPECT_EQ(r.time(1), QStringLiteral("10,24 "));
    EXPECT_EQ(r.time(4), QStringLiteral("10,24 "));
    EXPECT_EQ(r.time(2), QStringLiteral("10,30 "));
    EXPECT_EQ(f.Line(3)->LabelTime->Tag(), 10231); // the lane keeps its millisecond
    // Equal shown times keep the order of their edges, also through a recount.
    f.Line(2)->eAusDblClick();
    EXPECT_EQ(r.place(3), QStringLiteral("1"));
    EXPECT_EQ(r.place(1), QStringLiteral("2"));
    EXPECT_EQ(r.place(4), QStringLiteral("3"));
    EXPECT_EQ(r.place(2), QStringLiteral("Aus"));
    f.Line(2)->eAusDblClick();
    EXPECT_EQ(r.time(2), QStringLiteral("10,30 "));
    EXPECT_EQ(r.place(2), QStringLiteral("4"));
}

TEST(RaceClock, TheFinishListRoundsUpTooAndHandsOutTheMillisecond)
{
    Race r(2);
    TFormMain &f = *r.f;
    f.Model.setRoundUp(true);
    f.Model.setOneBarrier(true);
    r.start();
    f.AddFinishTime(12341);
    f.AddFinishTime(12350);
    EXPECT_EQ(f.ListBoxStop->item(0)->text(), QStringLiteral("12,35"));
    EXPECT_EQ(f.ListBoxStop->item(1)->text(), QStringLiteral("12,35"));
    f.mStop->trigger();
    f.StopEntry(2)->trigger(); // after STOPP the lane keys hand out the list
    EXPECT_EQ(r.time(2), QStringLiteral("12,35"));
    EXPECT_EQ(f.Line(2)->LabelTime->Tag(), 12341);
    EXPECT_EQ(r.place(2), QStringLiteral("1"));
}
