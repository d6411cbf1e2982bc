// The port monitor against virtual lines served by the test: never a real tty.

#include "Comms.h"
#include "FakePlatform.h"
#include "ThreadProbe.h"
#include "VirtualLines.h"
#include "Wait.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>

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

TEST(ComPort, APulledLineIsLostOnceAfterItsEdgesAndOpensAgainWhenItReturns)
{
    Line l;
    QSignalSpy lost(&l.port, &TComPort::OnLost);
    QSignalSpy closed(&l.port, &TComPort::OnClose);
    QObject::connect(&l.port, &TComPort::OnLost, [&l](TComPort *, int) { l.seen << "gone"; });
    EXPECT_FALSE(l.port.Reopen()); // not lost: nothing to reopen
    l.port.Open();
    ASSERT_TRUE(l.server.waitForDesk(2000));
    l.server.pulse(LineCts, 0);
    ASSERT_TRUE(l.server.unplug());
    ASSERT_TRUE(waitUntil([&] { return l.port.Lost(); }));
    // The edges before the loss come first, the loss last, once.
    EXPECT_EQ(l.seen.filter(QRegularExpression("^(C[+-]|gone)$")), (QStringList{"C+", "C-", "gone"}));
    EXPECT_EQ(lost.count(), 1);
    EXPECT_EQ(closed.count(), 0);
    EXPECT_FALSE(l.port.Connected());
    EXPECT_NE(l.port.LostError(), 0);
    EXPECT_EQ(l.port.GetModemStatus(), 0u);
    EXPECT_FALSE(l.port.Reopen()); // nothing there yet: still lost
    EXPECT_TRUE(l.port.Lost());

    ASSERT_TRUE(l.server.replug());
    ASSERT_TRUE(l.port.Reopen());
    EXPECT_TRUE(l.port.Connected());
    EXPECT_FALSE(l.port.Lost());
    EXPECT_EQ(l.port.LostError(), 0);
    ASSERT_TRUE(l.server.waitForDesk(2000));
    l.server.set(LineDsr, true);
    ASSERT_TRUE(waitUntil([&] { return l.seen.contains("D+"); }));

    // The system's word that the device went loses it too, once; a closed port is no longer lost.
    l.port.Lose(ENODEV);
    EXPECT_TRUE(l.port.Lost());
    EXPECT_EQ(l.port.LostError(), ENODEV);
    l.port.Lose(EIO);
    EXPECT_EQ(l.port.LostError(), ENODEV);
    QCoreApplication::processEvents();
    EXPECT_EQ(lost.count(), 2);
    QElapsedTimer t;
    t.start();
    l.port.Close();
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_FALSE(l.port.Lost());
    EXPECT_EQ(closed.count(), 1);
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

namespace {

LineEdge edgeAt(std::int64_t nanos, unsigned line = EvDsr)
{
    LineEdge e;
    e.line = line;
    e.active = nanos % 2 == 1;
    e.nanos = e.seen = nanos;
    return e;
}

// The monitor of a scripted device, seen from the UI thread: each edge as its instant, the
// events by name, a loss as "lost <count>".
struct Scripted {
    TComPort port;
    fake::ScriptedSerialDevice scripted;
    probe::ProbedSerialDevice device{scripted};
    QStringList seen;
    std::unique_ptr<TComThread> thread;

    Scripted()
    {
        QObject::connect(&port, &TComPort::OnLineEdge,
                         [this](TComPort *, LineEdge e) { seen << QString::number(e.nanos); });
        QObject::connect(&port, &TComPort::OnEdgesLost,
                         [this](TComPort *, unsigned count) { seen << QStringLiteral("lost %1").arg(count); });
        QObject::connect(&port, &TComPort::OnCTS, [this] { seen << "CTS"; });
        QObject::connect(&port, &TComPort::OnDSR, [this] { seen << "DSR"; });
        QObject::connect(&port, &TComPort::OnRLSD, [this] { seen << "RLSD"; });
        thread = std::make_unique<TComThread>(&port, &device, EvCts | EvDsr | EvRlsd);
    }
    ~Scripted() { thread.reset(); }
    // Waits (without running the UI thread's events) until the monitor has handed reports over.
    bool handedOver(unsigned reports)
    {
        for (int i = 0; i < 20000 && scripted.waitsBegun() < reports + 1; ++i)
            QThread::usleep(250);
        return scripted.waitsBegun() >= reports + 1;
    }
};

} // namespace

TEST(ComThread, AReportLongerThanASlotKeepsItsOrderAndItsEventsFollowItsEdges)
{
    Scripted s;
    std::vector<LineEdge> nine;
    for (int i = 1; i <= 9; ++i)
        nine.push_back(edgeAt(i));
    s.scripted.report(EvCts | EvDsr, nine);
    s.scripted.report(EvRlsd, {edgeAt(10, EvRlsd)});
    s.scripted.report(EvDsr);
    ASSERT_TRUE(waitUntil([&] { return s.seen.size() >= 14; }));
    EXPECT_EQ(s.seen, QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "9", "CTS", "DSR", "10", "RLSD", "DSR"}));
}

TEST(ComThread, AFullRingNeverHoldsTheWatcherAndTellsTheLossInItsPlace)
{
    Scripted s;
    const int total = 2 * static_cast<int>(TComThread::kSlots) + 100;
    // The UI thread takes nothing meanwhile: the dispatcher blocks on the first reports it took,
    // the ring fills, and the watcher still takes every report (two edges each) in and comes back
    // to wait.
    for (int i = 1; i <= total; ++i)
        s.scripted.report(EvDsr, {edgeAt(2 * i - 1), edgeAt(2 * i)});
    ASSERT_TRUE(s.handedOver(static_cast<unsigned>(total)));
    // Then the UI thread comes back: the edges in order, none twice; the loss told where the first
    // edge went missing, after at least a ring's worth; then the events of the reports lost whole.
    // Taken in only once every edge is either seen or counted lost: the UI thread may still be
    // handing on the edges behind the loss when it is told.
    int lostCount = -1;
    const QRegularExpression edge(QStringLiteral("^\\d+$"));
    ASSERT_TRUE(waitUntil(
        [&] {
            const QStringList told = s.seen.filter(QStringLiteral("lost"));
            lostCount = told.isEmpty() ? -1 : told.first().mid(5).toInt();
            return lostCount >= 0 && s.seen.filter(edge).size() + lostCount >= 2 * total;
        },
        20000));
    std::vector<int> got;
    for (const QString &e : s.seen.filter(edge))
        got.push_back(e.toInt());
    EXPECT_EQ(lostCount, 2 * total - static_cast<int>(got.size()));
    EXPECT_TRUE(std::adjacent_find(got.begin(), got.end(), std::greater_equal<int>()) == got.end());
    int before = 0; // the edges before the first one missing
    while (before < static_cast<int>(got.size()) && got[static_cast<std::size_t>(before)] == before + 1)
        ++before;
    EXPECT_GE(before, 2 * (static_cast<int>(TComThread::kSlots) - 1));
    const auto at = s.seen.indexOf(QStringLiteral("lost %1").arg(lostCount));
    ASSERT_EQ(at, s.seen.indexOf(QString::number(before)) + 2); // after the edge and its DSR
    EXPECT_EQ(s.seen.value(at + 1), QStringLiteral("DSR"));
    // The ring works on, and a later loss is told again.
    s.seen.clear();
    s.scripted.report(EvCts, {edgeAt(1, EvCts)});
    ASSERT_TRUE(waitUntil([&] { return s.seen.size() >= 2; }));
    EXPECT_EQ(s.seen, (QStringList{"1", "CTS"}));
    s.seen.clear();
    for (int i = 1; i <= total; ++i)
        s.scripted.report(EvDsr, {edgeAt(i)});
    ASSERT_TRUE(s.handedOver(static_cast<unsigned>(2 * total + 1)));
    // Every edge seen or counted lost.
    EXPECT_TRUE(waitUntil(
        [&] {
            const QStringList told = s.seen.filter(QStringLiteral("lost"));
            return !told.isEmpty() && s.seen.filter(edge).size() + told.first().mid(5).toInt() == total;
        },
        20000));
}

TEST(ComThread, TheWatcherNeitherAllocatesNorLocksFromTheWaitToTheHandOver)
{
    // The probe counts in this program: an allocation and a lock on a counted thread show.
    const probe::Counts before = probe::counts();
    probe::countThisThread(true);
    {
        void *memory = ::operator new(16);
        std::mutex m;
        std::lock_guard<std::mutex> lock(m);
        ::operator delete(memory);
    }
    probe::countThisThread(false);
    EXPECT_EQ(probe::counts(), (probe::Counts{before.allocations + 1, before.locks + 1}));

    // Scripted reports: long ones, and a full ring with its losses.
    const probe::Counts start = probe::counts();
    {
        Scripted s;
        const int total = 2 * static_cast<int>(TComThread::kSlots) + 20;
        for (int i = 1; i <= total; ++i)
            s.scripted.report(EvDsr, std::vector<LineEdge>(i % 7 == 0 ? 9 : 1, edgeAt(i)));
        ASSERT_TRUE(s.handedOver(static_cast<unsigned>(total)));
        ASSERT_TRUE(waitUntil([&] { return !s.seen.filter(QStringLiteral("lost")).isEmpty(); }, 20000));
    }
    // A device that fails after its reports: the watcher ends without a lock or an allocation.
    {
        Scripted s;
        s.scripted.report(EvDsr, {edgeAt(1)});
        s.scripted.fail(EIO);
        ASSERT_TRUE(waitUntil([&] { return s.thread->deviceLost(); }));
        ASSERT_TRUE(waitUntil([&] { return s.seen.contains(QStringLiteral("1")); }));
    }
    // A virtual line pulled out while the port watches it.
    {
        Line l;
        probe::ProbedSerialDevices probed(l.serial.devices);
        l.port.setDevices(&probed);
        l.port.Open();
        ASSERT_TRUE(l.server.waitForDesk(2000));
        l.server.pulse(LineDcd, 0);
        l.server.unplug();
        ASSERT_TRUE(waitUntil([&] { return l.port.Lost(); }));
        l.port.Close();
    }
    // The virtual lines' own device, messages read and parsed on the watcher.
    {
        Line l;
        probe::ProbedSerialDevices probed(l.serial.devices);
        l.port.setDevices(&probed);
        l.port.Open();
        ASSERT_TRUE(l.server.waitForDesk(2000));
        for (int i = 0; i < 20; ++i)
            l.server.pulse(LineCts | LineDcd, 0);
        ASSERT_TRUE(waitUntil([&] { return l.edges.size() >= 80; }));
        l.port.Close();
    }
    EXPECT_EQ(probe::counts(), start);
}

TEST(ComThread, ABurstOfChangesBeyondOneReportArrivesWholeOverSeveralReports)
{
    fake::SerialDevices serial;
    VirtualLineServer server(serial.socketFor(1));
    ASSERT_TRUE(server.start());
    std::unique_ptr<SerialDevice> device = serial.devices.open(1, SerialSettings{});
    ASSERT_TRUE(server.waitForDesk(2000));
    // 30 messages that each turn three watched lines (90 edges) wait in the socket together (a
    // message is there when set returns).
    for (int i = 0; i < 30; ++i)
        server.set(LineCts | LineDsr | LineDcd, i % 2 == 0);
    std::map<unsigned, int> perLine;
    unsigned received = 0;
    LineEdges edges;
    for (int taken = 0; taken < 90; taken += static_cast<int>(edges.size())) {
        ASSERT_EQ(device->waitEvents(EvCts | EvDsr | EvRlsd, received, edges), SerialDevice::Wait::Events);
        // Three edges a message: a report filled to the last edge refused one.
        ASSERT_LT(edges.size(), LineEdges::kCapacity);
        for (const LineEdge &e : edges) // per line on, off, on ...
            EXPECT_EQ(e.active, perLine[e.line]++ % 2 == 0) << e.line;
    }
    EXPECT_EQ(perLine, (std::map<unsigned, int>{{EvCts, 30}, {EvDsr, 30}, {EvRlsd, 30}}));
}
