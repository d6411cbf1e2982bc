// Serial ports of the main window: the probe at start-up, opening the configured ports, the lamps.

#include "DeskFixture.h"

#include "Comms.h"
#include "Dmn_led.h"
#include "VirtualLines.h"
#include "Wait.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <fstream>
#include <thread>

using platform::VirtualLineServer;

namespace {
fake::Key portsKey(int p1, int p2, int p3, int p4)
{
    return {{"Left", 0},  {"Top", 0},  {"Height", 0}, {"Sound", 1}, {"Port1", p1},
            {"Port2", p2}, {"Port3", p3}, {"Port4", p4}};
}
} // namespace

TEST(Ports, ProbeBuildsTheAvailablePortMask)
{
    Desk d;
    VirtualLineServer com2(d.fp.serial.socketFor(2));
    VirtualLineServer com5(d.fp.serial.socketFor(5));
    ASSERT_TRUE(com2.start());
    ASSERT_TRUE(com5.start());
    TFormMain &f = d.create();
    EXPECT_EQ(f.AvailablePorts, 0x00050012u);
    EXPECT_FALSE(com2.deskAttached()); // the probe keeps nothing open
    EXPECT_FALSE(com5.deskAttached());

    Desk none;
    EXPECT_EQ(none.create().AvailablePorts, 0u);
}

TEST(Ports, StartUpOpensTheConfiguredPortsAndTheLampsFollow)
{
    Desk d;
    VirtualLineServer com1(d.fp.serial.socketFor(1));
    VirtualLineServer com3(d.fp.serial.socketFor(3));
    ASSERT_TRUE(com1.start());
    ASSERT_TRUE(com3.start());
    d.key() = portsKey(1, 2, 3, 0); // COM2 is missing: swallowed
    TFormMain &f = d.create();
    EXPECT_TRUE(f.ComPort1->Connected());
    EXPECT_FALSE(f.ComPort2->Connected());
    EXPECT_TRUE(f.ComPort3->Connected());
    EXPECT_FALSE(f.ComPort4->Connected());
    EXPECT_EQ(f.ComPort2->Port(), 2); // kept for the settings
    EXPECT_TRUE(f.LedStart->Value());
    EXPECT_TRUE(f.Line(1)->Led->Value());
    for (int lane : {2, 3, 4, 8, 9, 10})
        EXPECT_FALSE(f.Line(lane)->Led->Value()) << lane;
    for (int lane : {5, 6, 7})
        EXPECT_TRUE(f.Line(lane)->Led->Value()) << lane;
    EXPECT_TRUE(com1.waitForDesk(2000));
    EXPECT_TRUE(com3.waitForDesk(2000));

    // The start makes the lamps of lanes with an open port red.
    f.Line(5)->Led->setKind(lkGreen);
    f.mStart->trigger();
    EXPECT_EQ(f.Line(5)->Led->Kind(), lkRed);

    f.ComPort3->Close();
    for (int lane : {5, 6, 7})
        EXPECT_FALSE(f.Line(lane)->Led->Value()) << lane;
    f.ComPort1->Close();
    EXPECT_FALSE(f.LedStart->Value());
}

TEST(Ports, ShutDownClosesThePortsAndKeepsTheirNumbers)
{
    Desk d;
    VirtualLineServer com4(d.fp.serial.socketFor(4));
    ASSERT_TRUE(com4.start());
    d.key() = portsKey(0, 0, 0, 4);
    TFormMain &f = d.create();
    EXPECT_TRUE(f.ComPort4->Connected());
    EXPECT_TRUE(f.Line(8)->Led->Value());
    ASSERT_TRUE(com4.waitForDesk(2000));
    d.destroy();
    for (int i = 0; i < 400 && com4.deskAttached(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(com4.deskAttached());
    EXPECT_EQ(d.key().value("Port4"), 4);
}

TEST(Ports, EachOpenPortAsksRealTimeForItsStampingThreadAndTheDeskSaysWhenItGotNone)
{
    Desk d;
    VirtualLineServer com1(d.fp.serial.socketFor(1));
    VirtualLineServer com2(d.fp.serial.socketFor(2));
    ASSERT_TRUE(com1.start());
    ASSERT_TRUE(com2.start());
    d.key() = portsKey(1, 2, 0, 0);
    d.fp.realtime.grant = platform::RealtimeGrant::Denied;
    TFormMain &f = d.create();
    f.show();
    // The threads asked for are the ones that wait for the lines, one per open port.
    ASSERT_EQ(d.fp.realtime.asked.size(), 2u);
    EXPECT_EQ(d.fp.realtime.asked[0], f.ComPort1->WatcherThreadId());
    EXPECT_EQ(d.fp.realtime.asked[1], f.ComPort2->WatcherThreadId());
    EXPECT_NE(f.ComPort1->WatcherThreadId(), f.ComPort2->WatcherThreadId());
    EXPECT_TRUE(QFileInfo::exists(QStringLiteral("/proc/self/task/%1").arg(f.ComPort1->WatcherThreadId())));
    // Refused: the note shows, with its own text for assistive technology, and says how to grant it.
    EXPECT_TRUE(f.RealtimeNote->isVisible());
    EXPECT_EQ(f.RealtimeNote->text(), QStringLiteral("Zeitnahme ohne Echtzeit-Vorrang"));
    EXPECT_TRUE(f.RealtimeNote->accessibleName().isEmpty());
    EXPECT_TRUE(f.RealtimeNote->toolTip().contains(QStringLiteral("usermod -aG zielkron")));

    // Only open ports count: with both closed the note goes.
    f.ComPort1->Close();
    EXPECT_TRUE(f.RealtimeNote->isVisible());
    f.ComPort2->Close();
    EXPECT_FALSE(f.RealtimeNote->isVisible());

    // Granted (directly or through the desktop's service): no note.
    d.fp.realtime.grant = platform::RealtimeGrant::RealtimeKit;
    f.ComPort1->Open();
    EXPECT_FALSE(f.RealtimeNote->isVisible());

    // An answer that comes after its port was closed and opened again counts for nothing; the
    // answer for the thread now running does.
    d.fp.realtime.holdAnswers = true;
    f.ComPort2->Open();
    f.ComPort2->Close();
    f.ComPort2->Open();
    ASSERT_EQ(d.fp.realtime.held.size(), 2u);
    auto stale = std::move(d.fp.realtime.held[0]);
    auto current = std::move(d.fp.realtime.held[1]);
    stale(platform::RealtimeGrant::Denied);
    EXPECT_FALSE(f.RealtimeNote->isVisible());
    current(platform::RealtimeGrant::Denied);
    EXPECT_TRUE(f.RealtimeNote->isVisible());
}

TEST(Ports, WhatTheStampingThreadTouchesIsKeptInMemory)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the address sanitizer makes locking memory a no-op";
#endif
    rlimit limit{};
    if (::getrlimit(RLIMIT_MEMLOCK, &limit) != 0 || limit.rlim_cur < (4u << 20))
        GTEST_SKIP() << "locking memory is limited here";
    auto lockedKb = [] {
        std::ifstream status("/proc/self/status");
        for (std::string text; std::getline(status, text);)
            if (const QByteArray line = QByteArray::fromStdString(text); line.startsWith("VmLck:"))
                return line.mid(6).trimmed().split(' ').value(0).toLong();
        return -1L;
    };
    Desk d;
    VirtualLineServer com3(d.fp.serial.socketFor(3));
    ASSERT_TRUE(com3.start());
    d.key() = portsKey(0, 0, 3, 0);
    TFormMain &f = d.create();
    ASSERT_TRUE(f.ComPort3->Connected());
    // (A thread's stack, once locked, stays so while the system keeps it for the next thread.)
    EXPECT_TRUE(waitUntil([&] { return lockedKb() >= 64; }, 5000)) << lockedKb();
}
