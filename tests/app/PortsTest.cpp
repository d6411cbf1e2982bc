// Serial ports of the main window: the probe at start-up, opening the configured ports, the lamps.

#include "DeskFixture.h"

#include "Comms.h"
#include "Dmn_led.h"
#include "VirtualLines.h"

#include <gtest/gtest.h>

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
