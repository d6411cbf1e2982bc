// The port monitor against virtual lines served by the test: never a real tty.

#include "Comms.h"
#include "FakePlatform.h"
#include "VirtualLines.h"
#include "Wait.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace platform;

namespace {

// Edges as "C+", "D-" ...; the generic events by name.
struct Line {
    fake::SerialDevices serial;
    fake::Ticks ticks;
    VirtualLineServer server{serial.socketFor(3)};
    TComPort port{nullptr, &serial.devices, &ticks};
    QStringList seen;
    std::vector<LineEdge> edges;

    Line()
    {
        EXPECT_TRUE(server.start());
        port.setPort(3);
        port.Events = (1u << evCTS) | (1u << evDSR) | (1u << evRLSD);
        QObject::connect(&port, &TComPort::OnLineEdge, [this](TComPort *sender, LineEdge e) {
            EXPECT_EQ(sender, &port);
            edges.push_back(e);
            const char *name = e.line == EvCts ? "C" : e.line == EvDsr ? "D" : e.line == EvRlsd ? "R" : "?";
            seen << QString::fromLatin1(name) + (e.active ? "+" : "-");
        });
        QObject::connect(&port, &TComPort::OnCTS, [this] { seen << "CTS"; });
        QObject::connect(&port, &TComPort::OnDSR, [this] { seen << "DSR"; });
        QObject::connect(&port, &TComPort::OnRLSD, [this] { seen << "RLSD"; });
        QObject::connect(&port, &TComPort::OnRing, [this] { seen << "RING"; });
    }
};

} // namespace

TEST(ComPort, PropertiesAndDataBitsClamp)
{
    TComPort port;
    EXPECT_EQ(port.Port(), 1);
    EXPECT_EQ(port.BaudRate, br9600);
    EXPECT_EQ(port.Events, AllEvents);
    EXPECT_EQ(port.WriteBufSize, 2048);
    port.setDataBits(9);
    EXPECT_EQ(port.DataBits(), 8);
    port.setDataBits(4);
    EXPECT_EQ(port.DataBits(), 5);
    port.setDataBits(7);
    EXPECT_EQ(port.DataBits(), 7);
    port.BaudRateUser = 28800;
    EXPECT_EQ(port.baudRateValue(), 9600); // br9600 ignores the user rate
    port.BaudRate = brUser;
    EXPECT_EQ(port.baudRateValue(), 28800);
    EXPECT_EQ(port.settings().baudRate, 28800);
    port.Events = (1u << evCTS) | (1u << evDSR) | (1u << evRLSD);
    EXPECT_EQ(port.eventMask(), 0x0038u);
    port.Events = AllEvents;
    EXPECT_EQ(port.eventMask(), 0x01FFu);
}

TEST(ComPort, OpenCloseEventsAndConnected)
{
    Line l;
    QSignalSpy opened(&l.port, &TComPort::OnOpen);
    QSignalSpy closed(&l.port, &TComPort::OnClose);
    l.port.Close(); // closed: nothing happens
    EXPECT_EQ(closed.count(), 0);
    l.port.Open();
    EXPECT_TRUE(l.port.Connected());
    EXPECT_EQ(opened.count(), 1);
    l.port.Open(); // open again: closes first
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(opened.count(), 2);
    QElapsedTimer t;
    t.start();
    l.port.Close(); // right after Open
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_FALSE(l.port.Connected());
    EXPECT_EQ(closed.count(), 2);
    l.port.Close();
    EXPECT_EQ(closed.count(), 2);
    EXPECT_EQ(l.port.GetModemStatus(), 0u);
}

TEST(ComPort, OpenFailuresRaiseWithTheSystemText)
{
    Line l;
    l.port.setPort(4); // nothing serves COM4
    try {
        l.port.Open();
        FAIL() << "opened a missing port";
    } catch (const EComHandle &e) {
        EXPECT_STREQ(e.what(), "Unable to open com port: No such file or directory");
    }
    EXPECT_FALSE(l.port.Connected());

    l.port.setPort(3);
    l.port.Open();
    TComPort second(nullptr, &l.serial.devices);
    second.setPort(3);
    EXPECT_THROW(second.Open(), EComHandle); // exclusive
    EXPECT_FALSE(second.Connected());
    EXPECT_TRUE(l.port.Connected());

    TComPort withoutDevices;
    EXPECT_THROW(withoutDevices.Open(), EComHandle);
}

TEST(ComPort, CtsAndDsrInOneReportDispatchInTheFixedOrder)
{
    Line l;
    l.port.Open();
    ASSERT_TRUE(l.server.waitForDesk(2000));
    l.server.set(LineDcd | LineDsr | LineCts, true);
    ASSERT_TRUE(waitUntil([&] { return l.seen.size() >= 6; }));
    // Every edge first, in the same order, then the generic events.
    EXPECT_EQ(l.seen, (QStringList{"C+", "D+", "R+", "CTS", "DSR", "RLSD"}));
    EXPECT_EQ(l.port.GetModemStatus(), 0x10u | 0x20u | 0x80u);
}

TEST(ComPort, OnlyWatchedEventsFire)
{
    Line l;
    l.port.Events = 1u << evDSR;
    l.port.Open();
    ASSERT_TRUE(l.server.waitForDesk(2000));
    l.server.set(LineCts | LineRi, true);
    l.server.set(LineDsr, true);
    ASSERT_TRUE(waitUntil([&] { return l.seen.size() >= 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(l.seen, (QStringList{"D+", "DSR"}));
}

TEST(ComPort, APulseShorterThanTheHandOverIsReported)
{
    Line l;
    l.port.Open();
    ASSERT_TRUE(l.server.waitForDesk(2000));
    l.server.pulse(LineCts, 0);
    ASSERT_TRUE(waitUntil([&] { return l.edges.size() >= 2 && l.seen.last() == "CTS"; }));
    EXPECT_EQ(l.seen.first(), QStringLiteral("C+"));
    EXPECT_EQ(l.seen.filter(QRegularExpression("^C[+-]$")), (QStringList{"C+", "C-"}));
    EXPECT_EQ(l.port.GetModemStatus() & 0x10u, 0u);
}

TEST(ComPort, CloseWhileAChangeIsHandedOverRunsItAndReturns)
{
    Line l;
    l.port.Open();
    ASSERT_TRUE(l.server.waitForDesk(2000));
    // No events are processed: the monitor thread hands the change over and blocks.
    l.server.set(LineCts, true);
    QThread::msleep(100);
    QSignalSpy closed(&l.port, &TComPort::OnClose);
    QElapsedTimer t;
    t.start();
    l.port.Close();
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_EQ(l.seen, (QStringList{"C+", "CTS"})); // the handed-over change ran inside Close
    EXPECT_EQ(closed.count(), 1);
}

TEST(ComPort, AnEmptyEventSetWaitsForTheStopOnly)
{
    Line l;
    l.port.Events = 0;
    l.port.Open();
    ASSERT_TRUE(l.server.waitForDesk(2000));
    l.server.set(LineCts | LineDsr, true);
    QThread::msleep(50);
    QCoreApplication::processEvents();
    EXPECT_TRUE(l.seen.isEmpty());
    QElapsedTimer t;
    t.start();
    l.port.Close();
    EXPECT_LT(t.elapsed(), 500);
}

TEST(ComPort, ThePortStaysOpenWhenTheLinesGoAway)
{
    Line l;
    l.port.Open();
    ASSERT_TRUE(l.server.waitForDesk(2000));
    l.server.stop();
    QThread::msleep(50);
    QCoreApplication::processEvents();
    EXPECT_TRUE(l.port.Connected());
    QElapsedTimer t;
    t.start();
    l.port.Close();
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_FALSE(l.port.Connected());
}

TEST(ComPort, EdgesKeepTheTickOfTheirArrivalWhileTheUiThreadIsBusy)
{
    Line l;
    l.port.Open();
    ASSERT_TRUE(l.server.waitForDesk(2000));
    // No events are processed: the first report waits for the UI thread, the second edge comes
    // meanwhile. Each keeps the tick counter's value of the moment it arrived.
    auto seenBy = [&l](unsigned reports) {
        for (int i = 0; i < 10000 && l.port.ReportsSeen() < reports; ++i)
            QThread::usleep(500);
        return l.port.ReportsSeen() >= reports;
    };
    l.ticks.now = 5000;
    l.server.set(LineDsr, true);
    ASSERT_TRUE(seenBy(1));
    QThread::msleep(60);
    l.ticks.now = 6000;
    l.server.set(LineDsr, false);
    ASSERT_TRUE(seenBy(2));
    l.ticks.now = 9000;
    ASSERT_TRUE(waitUntil([&] { return l.seen.size() >= 4; }));
    EXPECT_EQ(l.seen, (QStringList{"D+", "DSR", "D-", "DSR"}));
    ASSERT_EQ(l.edges.size(), 2u);
    EXPECT_EQ(l.edges[0].tick, 5000u);
    EXPECT_EQ(l.edges[1].tick, 6000u);
    EXPECT_GT(l.edges[1].nanos - l.edges[0].nanos, 50'000'000); // 60 ms apart or more, whatever the hand-over
}

TEST(ComPort, WithoutATickSourceEdgesCarryTheMonotonicMilliseconds)
{
    fake::SerialDevices serial;
    VirtualLineServer server(serial.socketFor(2));
    ASSERT_TRUE(server.start());
    TComPort port(nullptr, &serial.devices);
    port.setPort(2);
    port.Events = 1u << evRLSD;
    std::vector<LineEdge> edges;
    QObject::connect(&port, &TComPort::OnLineEdge, [&](TComPort *, LineEdge e) { edges.push_back(e); });
    port.Open();
    ASSERT_TRUE(server.waitForDesk(2000));
    server.set(LineDcd, true);
    ASSERT_TRUE(waitUntil([&] { return !edges.empty(); }));
    EXPECT_TRUE(edges[0].active);
    const auto ms = static_cast<std::uint32_t>(edges[0].nanos / 1000000);
    EXPECT_LE(static_cast<std::uint32_t>(edges[0].tick - ms), 5u);
}
