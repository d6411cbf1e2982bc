// Supervision of the lines through virtual lines and the fake device monitor: a port pulled out
// during a race, the same adapter back under another node, a barrier interrupted at the start.

#include "DeskFixture.h"

#include "Comms.h"
#include "LbSpeedButton.h"
#include "LineLamps.h"
#include "VirtualLines.h"
#include "Wait.h"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

using namespace platform;

namespace {

const QString kAdapter = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0");

struct Supervised : Desk {
    VirtualLineServer com1{fp.serial.socketFor(1)};
    VirtualLineServer com2{fp.serial.socketFor(2)};
    TFormMain *f = nullptr;

    // dsrAtRest: COM2's DSR (lane 3) active from before the port opens. twins: COM1 an adapter of
    // the same make without a serial number, going by the same name as COM2's.
    explicit Supervised(bool dsrAtRest = false, bool twins = false)
    {
        EXPECT_TRUE(com1.start());
        EXPECT_TRUE(com2.start());
        if (dsrAtRest)
            com2.set(LineDsr, true);
        // COM2 is a USB adapter: its identity stays when it comes back under another node.
        fp.monitor.identities[node(2)] = kAdapter;
        if (twins)
            fp.monitor.identities[node(1)] = kAdapter;
        key() = {{"Left", 0},  {"Top", 0},  {"Height", 0}, {"Sound", 1}, {"Port1", 1},      {"Port2", 2},
                 {"Port3", 0}, {"Port4", 0}, {"Alg", 0},   {"FilterInd", 1}, {"Monitor", 0}, {"Title", "T"},
                 {"LineCount", 4}, {"Accuracy", 2}, {"OneLS", 0}};
        f = &create();
        EXPECT_TRUE(com1.waitForDesk(2000));
        EXPECT_TRUE(com2.waitForDesk(2000));
    }
    QString node(int port) const { return QString::fromStdString(fp.serial.socketFor(port)); }
    TLineLamp *lamp(int lane) const { return f->LineLamps.at(static_cast<std::size_t>(LaneLineIndex(lane))); }
    QString note(QLabel *label) const { return label->isVisible() ? label->property("fullText").toString() : QString(); }
    QString time(int lane) { return f->Line(lane)->LabelTime->text(); }
    // The adapter of COM2 pulled out: the line goes, and the node with it.
    void pullCom2()
    {
        ASSERT_TRUE(com2.unplug());
        fp.monitor.identities.remove(node(2));
        ASSERT_TRUE(waitUntil([&] { return f->ComPort2->Lost(); }));
    }
};

} // namespace

TEST(LineSupervision, APortLostMidRaceIsToldAndItsHeatAsksBeforeItIsEntered)
{
    Supervised s;
    TFormMain &f = *s.f;
    f.show();
    for (int lane = 1; lane <= 4; ++lane)
        EXPECT_EQ(s.lamp(lane)->LampState(), TLineLamp::State::Clear) << lane;
    f.mStart->trigger();
    s.pullCom2(); // the watcher finds the line gone by itself

    for (int lane = 2; lane <= 4; ++lane)
        EXPECT_EQ(s.lamp(lane)->LampState(), TLineLamp::State::Lost) << lane;
    EXPECT_EQ(s.lamp(1)->LampState(), TLineLamp::State::Clear);
    EXPECT_EQ(s.lamp(3)->toolTip(), QStringLiteral("Bahn 3: kein Signal (COM2 getrennt)"));
    EXPECT_EQ(s.note(f.LineNote), QStringLiteral("COM2 getrennt \u2013 Bahn 2, 3, 4 ohne Signal"));
    EXPECT_EQ(s.fp.sound.played.count(QStringLiteral("Audio-Warnung.wav")), 1);
    const QRegularExpression open(QStringLiteral("^Signal COM2 unterbrochen \\d\\d:\\d\\d:\\d\\d,\\d\\d\\d\u2013$"));
    ASSERT_EQ(f.Model.raceLog().size(), 1);
    EXPECT_TRUE(open.match(f.Model.raceLog().first()).hasMatch()) << f.Model.raceLog().first().toStdString();
    // The monitor's word of the same loss changes nothing more.
    s.fp.monitor.remove(s.node(2));
    EXPECT_EQ(s.fp.sound.played.count(QStringLiteral("Audio-Warnung.wav")), 1);
    EXPECT_EQ(f.Model.raceLog().size(), 1);

    // The lanes of the lost port are stopped by hand; Eintragen asks, No (the default) keeps it.
    for (int lane = 1; lane <= 4; ++lane) {
        s.fp.ticks.now = static_cast<std::uint32_t>(f.Model.desk().start) + 10000 + 100 * lane;
        f.StopEntry(lane)->trigger();
    }
    ASSERT_TRUE(f.bProtokoll->isEnabled());
    const int heat = f.Model.desk().heat;
    f.mEintragen->trigger();
    ASSERT_EQ(s.fp.dialogs.messages.size(), 1);
    EXPECT_EQ(s.fp.dialogs.messages[0].buttons, MessageButtons::YesNoDefaultNo);
    EXPECT_TRUE(s.fp.dialogs.messages[0].text.contains(f.Model.raceLog().first()));
    EXPECT_TRUE(f.Model.record().entered.isEmpty());
    s.fp.dialogs.answers.push_back(MbYes);
    f.mEintragen->trigger();
    ASSERT_EQ(f.Model.record().entered, QList<int>{heat});
    const QStringList entered = f.Model.record().raceLogs.value(heat);
    ASSERT_EQ(entered.size(), 1);
    EXPECT_TRUE(open.match(entered.first()).hasMatch());
}

TEST(LineSupervision, TheSameAdapterBackUnderAnotherNodeIsReopenedAndTimesItsLanes)
{
    Supervised s;
    TFormMain &f = *s.f;
    f.show();
    f.mStart->trigger();
    const auto start = static_cast<std::uint32_t>(f.Model.desk().start);
    s.pullCom2();
    s.fp.monitor.remove(s.node(2));

    // Another adapter comes: not this port's.
    VirtualLineServer other(s.fp.serial.socketFor(8));
    ASSERT_TRUE(other.start());
    s.fp.monitor.identities[s.node(8)] = QStringLiteral("/dev/serial/by-id/usb-Prolific_X-port0");
    s.fp.monitor.add(s.node(8));
    EXPECT_TRUE(f.ComPort2->Lost());
    EXPECT_FALSE(other.deskAttached());

    // The adapter itself, under a new number, told before its line can be opened: tried again.
    VirtualLineServer back(s.fp.serial.socketFor(9));
    s.fp.monitor.identities[s.node(9)] = kAdapter;
    s.fp.monitor.add(s.node(9));
    EXPECT_FALSE(f.ComPort2->Connected());
    ASSERT_TRUE(back.start());
    ASSERT_TRUE(waitUntil([&] { return f.ComPort2->Connected(); }));
    EXPECT_EQ(f.ComPort2->DeviceNode(), s.node(9));
    ASSERT_TRUE(back.waitForDesk(2000));
    EXPECT_EQ(s.note(f.LineNote), QStringLiteral("COM2 wieder verbunden"));
    EXPECT_EQ(s.lamp(3)->LampState(), TLineLamp::State::Clear);
    ASSERT_EQ(f.Model.raceLog().size(), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Signal COM2 unterbrochen [0-9:,]{12}\u2013[0-9:,]{12}$"))
                    .match(f.Model.raceLog().first())
                    .hasMatch())
        << f.Model.raceLog().first().toStdString();

    // No edge was made of the levels read at the reopening; the next barrier edge stops lane 3.
    EXPECT_TRUE(f.Model.lane(3).running);
    s.fp.ticks.now = start + 12340;
    back.set(LineDsr, true);
    ASSERT_TRUE(waitUntil([&] { return !f.Model.lane(3).running; }));
    EXPECT_EQ(s.time(3), QStringLiteral("12,34 "));
    EXPECT_TRUE(f.Model.lane(2).running);
    f.TimerLineNote->setInterval(0);
    f.TimerLineNote->start();
    ASSERT_TRUE(waitUntil([&] { return s.note(f.LineNote).isEmpty(); }));

    // A port known by its node alone (an on-board port, a virtual line) is lost at the monitor's
    // word and tried again by its node.
    s.fp.unplug(s.com1);
    EXPECT_TRUE(f.ComPort1->Lost());
    EXPECT_EQ(f.LineLamps[0]->LampState(), TLineLamp::State::Lost);
    ASSERT_TRUE(s.fp.replug(s.com1));
    ASSERT_TRUE(f.ComPort1->Connected());
    EXPECT_EQ(f.LineLamps[0]->LampState(), TLineLamp::State::Clear);
    EXPECT_EQ(s.note(f.LineNote), QStringLiteral("COM1 wieder verbunden"));
}

TEST(LineSupervision, ABarrierInterruptedAtTheStartIsWarnedAndItsClearingStopsNothing)
{
    Supervised s;
    TFormMain &f = *s.f;
    f.show();
    s.com2.set(LineDsr, true); // lane 3's barrier blocked
    ASSERT_TRUE(waitUntil([&] { return s.lamp(3)->LampState() == TLineLamp::State::Interrupted; }));
    EXPECT_EQ(s.lamp(3)->toolTip(), QStringLiteral("Bahn 3: unterbrochen"));
    EXPECT_EQ(f.CfgDialog->Lamps.at(static_cast<std::size_t>(LaneLineIndex(3)))->LampState(),
              TLineLamp::State::Interrupted);
    EXPECT_TRUE(s.note(f.BarrierNote).isEmpty()); // told at the call and the start, not before
    f.cmd_Auf->click();
    EXPECT_EQ(s.note(f.BarrierNote), QStringLiteral("Lichtschranke Bahn 3 unterbrochen"));

    f.mStart->trigger();
    const auto start = static_cast<std::uint32_t>(f.Model.desk().start);
    EXPECT_EQ(s.note(f.BarrierNote), QStringLiteral("Lichtschranke Bahn 3 unterbrochen"));
    EXPECT_EQ(f.Model.desk().state, meeting::RaceState::Running); // the start went ahead
    EXPECT_TRUE(s.fp.dialogs.messages.isEmpty());

    s.fp.ticks.now = start + 3000;
    s.com2.set(LineDsr, false); // the barrier clears: nothing stops
    ASSERT_TRUE(waitUntil([&] { return s.lamp(3)->LampState() == TLineLamp::State::Clear; }));
    EXPECT_TRUE(f.Model.lane(3).running);
    EXPECT_TRUE(s.note(f.BarrierNote).isEmpty());
    s.fp.ticks.now = start + 10070;
    s.com2.set(LineDsr, true); // the runner
    ASSERT_TRUE(waitUntil([&] { return !f.Model.lane(3).running; }));
    EXPECT_EQ(s.time(3), QStringLiteral("10,07 "));

    // A port closed by the settings shows grey.
    f.ComPort2->Close();
    EXPECT_EQ(s.lamp(3)->LampState(), TLineLamp::State::Closed);
    EXPECT_EQ(s.lamp(1)->LampState(), TLineLamp::State::Clear);
}

TEST(LineSupervision, WhatTheLinesSayAtOpeningAndTwinAdaptersTakeNoTimeAndNoPortAway)
{
    // A lane line active from the opening on may be a barrier wired the other way round: its first
    // edge after the start is the runner's and stops the lane.
    {
        Supervised s(true);
        TFormMain &f = *s.f;
        f.mStart->trigger();
        const auto start = static_cast<std::uint32_t>(f.Model.desk().start);
        s.fp.ticks.now = start + 10000;
        s.com2.set(LineDsr, false);
        ASSERT_TRUE(waitUntil([&] { return !f.Model.lane(3).running; }));
        EXPECT_EQ(s.time(3), QStringLiteral("10,00 "));
    }
    // Two adapters of one name: pulling out COM2's leaves COM1 open and timing.
    Supervised s(false, true);
    TFormMain &f = *s.f;
    s.pullCom2();
    s.fp.monitor.remove(s.node(2), {s.node(2), kAdapter});
    EXPECT_TRUE(f.ComPort1->Connected());
    EXPECT_FALSE(f.ComPort1->Lost());
    // Settings applied while COM2's adapter is out: it stays lost, and is taken up when it returns.
    s.fp.dialogs.modalAnswers.push_back([](QDialog *) { return int{QDialog::Accepted}; });
    f.Config1->trigger();
    EXPECT_TRUE(f.ComPort2->Lost());
    EXPECT_EQ(s.lamp(3)->LampState(), TLineLamp::State::Lost);
    ASSERT_TRUE(s.com2.replug());
    s.fp.monitor.identities[s.node(2)] = kAdapter;
    s.fp.monitor.add(s.node(2));
    EXPECT_TRUE(f.ComPort2->Connected());
}
