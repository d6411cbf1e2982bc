// The time of every line edge is taken where the edge is seen: contact starts, lane stops across
// four ports, pulses shorter than the hand-over and edges that wait behind a busy desk.

#include "DeskFixture.h"

#include "Comms.h"
#include "Label3D.h"
#include "LbSpeedButton.h"
#include "RealPlatform.h"
#include "VirtualLines.h"
#include "Wait.h"

#include <QAction>
#include <QListWidget>
#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

using namespace platform;

namespace {

struct FourPorts : Desk {
    std::array<std::unique_ptr<VirtualLineServer>, 5> com;
    std::array<std::unique_ptr<QSignalSpy>, 5> edges;
    TFormMain *f = nullptr;

    explicit FourPorts(bool oneBarrier = false)
    {
        for (int p = 1; p <= 4; ++p) {
            com[p] = std::make_unique<VirtualLineServer>(fp.serial.socketFor(p));
            EXPECT_TRUE(com[p]->start());
        }
        key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 1}, {"Port1", 1}, {"Port2", 2},
                 {"Port3", 3}, {"Port4", 4}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "T"},
                 {"LineCount", 10}, {"Accuracy", 2}, {"OneLS", oneBarrier ? 1 : 0}};
        f = &create();
        TComPort *ports[] = {nullptr, f->ComPort1, f->ComPort2, f->ComPort3, f->ComPort4};
        for (int p = 1; p <= 4; ++p) {
            EXPECT_TRUE(com[p]->waitForDesk(2000));
            edges[p] = std::make_unique<QSignalSpy>(ports[p], &TComPort::OnLineEdge);
        }
    }
    TComPort *port(int p) const
    {
        TComPort *ports[] = {nullptr, f->ComPort1, f->ComPort2, f->ComPort3, f->ComPort4};
        return ports[p];
    }
    // Hands over the reports of port p (and only those) until it has delivered count edges.
    bool deliver(int p, int count)
    {
        for (int i = 0; i < 4000 && edges[p]->count() < count; ++i) {
            QCoreApplication::sendPostedEvents(port(p), QEvent::MetaCall);
            QThread::usleep(500);
        }
        return edges[p]->count() >= count;
    }
    QString time(int lane) { return f->Line(lane)->LabelTime->text(); }
    QString place(int lane) { return f->Line(lane)->ePlatz->Caption(); }
};

} // namespace

TEST(EdgeTiming, AContactStartAndABarrierEdge1500MsLaterGive150)
{
    FourPorts w;
    TFormMain &f = *w.f;
    w.fp.ticks.now = 50000;
    w.com[1]->set(LineDsr, true);
    ASSERT_TRUE(w.deliver(1, 1));
    EXPECT_EQ(f.Model.desk().start, 50000u); // the edge, not the end of the start's 200 ms wait
    EXPECT_EQ(w.fp.sound.played.last(), QStringLiteral("Audio-Start.wav"));
    w.fp.ticks.now = 51500;
    w.com[1]->set(LineDcd, true); // the light barrier of lane 1
    ASSERT_TRUE(w.deliver(1, 2));
    EXPECT_EQ(w.time(1), QStringLiteral("1,50 "));
}

TEST(EdgeTiming, PlacesFollowTheEdgesAcrossPortsNotTheHandOver)
{
    FourPorts w;
    TFormMain &f = *w.f;
    f.mStart->trigger();
    // Lanes 8, 5, 2 and 1 cross in this order, on four ports, a fraction of a millisecond apart
    // (the same tick), and the desk gets their reports in the opposite order.
    const std::int64_t t0 = platform::monotonicNanos();
    const std::pair<int, int> crossings[] = {{1, 1}, {2, 2}, {3, 5}, {4, 8}}; // port, lane, as handed over
    for (const auto &[port, lane] : crossings) {
        platform::LineEdge e;
        e.line = EvRlsd;
        e.active = true;
        e.tick = w.fp.ticks.now;
        e.nanos = t0 + (4 - port) * 200000; // port 4 first, port 1 last
        w.port(port)->DispatchEvents(EvRlsd, {e});
    }
    EXPECT_EQ(w.place(8), QStringLiteral("1"));
    EXPECT_EQ(w.place(5), QStringLiteral("2"));
    EXPECT_EQ(w.place(2), QStringLiteral("3"));
    EXPECT_EQ(w.place(1), QStringLiteral("4"));
    EXPECT_EQ(f.Model.desk().finishCount, 4);
    // Two lines of one port in one report keep the port's order (CTS, DSR, RLSD).
    platform::LineEdge dsr, cts;
    dsr.line = EvDsr;
    cts.line = EvCts;
    dsr.active = cts.active = true;
    dsr.tick = cts.tick = w.fp.ticks.now;
    dsr.nanos = cts.nanos = t0 + 5000000;
    w.port(2)->DispatchEvents(EvCts | EvDsr, {cts, dsr});
    EXPECT_EQ(w.place(4), QStringLiteral("5")); // CTS of port 2
    EXPECT_EQ(w.place(3), QStringLiteral("6")); // DSR of port 2
    // A recount ("Aus" on another lane) keeps the order of the edges, not the lane numbers.
    w.f->Line(6)->eAusDblClick();
    EXPECT_EQ(w.place(8), QStringLiteral("1"));
    EXPECT_EQ(w.place(5), QStringLiteral("2"));
    EXPECT_EQ(w.place(2), QStringLiteral("3"));
    EXPECT_EQ(w.place(1), QStringLiteral("4"));
    EXPECT_EQ(w.place(4), QStringLiteral("5"));
    EXPECT_EQ(w.place(3), QStringLiteral("6"));
}

TEST(EdgeTiming, AStartPulseShorterThanTheHandOverStartsTheRace)
{
    FourPorts w;
    TFormMain &f = *w.f;
    w.com[1]->pulse(LineDsr, 0); // on and off back to back: usually read as one report
    ASSERT_TRUE(w.deliver(1, 2));
    EXPECT_FALSE(f.mStart->isEnabled());
}

TEST(EdgeTiming, ABarrierPulseWhileTheDeskIsBusyKeepsItsEdgeTime)
{
    FourPorts w(true);
    TFormMain &f = *w.f;
    w.fp.ticks.now = 10000;
    w.com[1]->set(LineDsr, true);
    ASSERT_TRUE(w.deliver(1, 1));
    w.fp.ticks.now = 15000;
    const unsigned before = f.ComPort1->ReportsSeen();
    w.com[1]->pulse(LineCts, 2);
    for (int i = 0; i < 10000 && f.ComPort1->ReportsSeen() <= before; ++i) // the monitor has seen it ...
        QThread::usleep(500);
    QThread::msleep(20);
    w.fp.ticks.now = 19000; // ... long before the busy desk hands it on
    ASSERT_TRUE(w.deliver(1, 3));
    ASSERT_EQ(f.ListBoxStop->count(), 1);
    EXPECT_EQ(f.ListBoxStop->item(0)->text(), QStringLiteral("5,00"));
}

TEST(EdgeTiming, EdgesBeforeTheStartInstantStopNothingAndTheOffSettingStillActs)
{
    FourPorts w;
    TFormMain &f = *w.f;
    // A key start: the instant follows the start's 200 ms wait. A lane-2 edge seen during the
    // wait belongs to the ready desk.
    w.fp.ticks.now = 30000;
    w.com[2]->set(LineDcd, true);
    for (int i = 0; i < 10000 && f.ComPort2->ReportsSeen() == 0; ++i)
        QThread::usleep(500);
    f.mStart->trigger();
    ASSERT_EQ(f.Model.desk().start, 30200u);
    ASSERT_TRUE(w.deliver(2, 1));
    EXPECT_TRUE(f.StopEntry(2)->isEnabled());
    EXPECT_EQ(w.place(2), QString());
    // Its next edge after the start stops it, whichever way the line went.
    w.fp.ticks.now = 40200;
    w.com[2]->set(LineDcd, false);
    ASSERT_TRUE(w.deliver(2, 2));
    EXPECT_EQ(w.time(2), QStringLiteral("10,00 "));

    FourPorts off;
    off.f->Model.setEdge(1);
    off.com[1]->set(LineDsr, true);
    ASSERT_TRUE(off.deliver(1, 1));
    EXPECT_TRUE(off.f->mStart->isEnabled());
    off.com[1]->set(LineDsr, false);
    ASSERT_TRUE(off.deliver(1, 2));
    EXPECT_FALSE(off.f->mStart->isEnabled());
}

TEST(EdgeTiming, ALaneEdgeThatOvertookTheStartContactOnAnotherPortStillStopsItsLane)
{
    FourPorts w;
    TFormMain &f = *w.f;
    const std::int64_t t0 = platform::monotonicNanos();
    auto edge = [&](unsigned line, std::uint32_t tick, std::int64_t nanos) {
        platform::LineEdge e;
        e.line = line;
        e.active = true;
        e.tick = tick;
        e.nanos = nanos;
        return e;
    };
    // Port 3's thread hands over lane 5 at 50,030 and lane 6 at 49,990 (before the start), port 2
    // lane 2 at 50,040: all before port 1 hands over the start contact of 50,000.
    w.port(3)->DispatchEvents(EvRlsd | EvDsr, {edge(EvDsr, 49990, t0 - 10'000'000), edge(EvRlsd, 50030, t0 + 30'000'000)});
    w.port(2)->DispatchEvents(EvRlsd, {edge(EvRlsd, 50040, t0 + 40'000'000)});
    // Lane 7 0.3 ms before the start contact, within the same millisecond tick.
    w.port(3)->DispatchEvents(EvCts, {edge(EvCts, 50000, t0 - 300'000)});
    EXPECT_TRUE(f.bStart->isEnabled()); // still ready: nothing stopped yet
    w.port(1)->DispatchEvents(EvDsr, {edge(EvDsr, 50000, t0)});
    EXPECT_EQ(f.Model.desk().start, 50000u);
    EXPECT_EQ(f.Line(5)->LabelTime->Tag(), 30);
    EXPECT_EQ(w.place(5), QStringLiteral("1"));
    EXPECT_EQ(f.Line(2)->LabelTime->Tag(), 40);
    EXPECT_EQ(w.place(2), QStringLiteral("2"));
    EXPECT_EQ(f.Line(6)->LabelTime->Tag(), 0); // before the start instant: still running
    EXPECT_TRUE(f.StopEntry(6)->isEnabled());
    EXPECT_TRUE(f.StopEntry(7)->isEnabled());

    // A race started by the button takes up none of them: they came before its instant.
    f.bResetClick();
    w.port(2)->DispatchEvents(EvRlsd, {edge(EvRlsd, w.fp.ticks.now + 300, t0 + 500'000'000)});
    f.mStart->trigger();
    EXPECT_EQ(f.Line(2)->LabelTime->Tag(), 0);
}

namespace {
// A device that reports one DSR edge at a given instant, then waits for its stop.
class OneEdgeDevice final : public platform::SerialDevice {
public:
    explicit OneEdgeDevice(std::int64_t nanos) : nanos_(nanos) {}
    Wait waitEvents(unsigned, unsigned &received, platform::LineEdges &edges) override
    {
        edges.clear();
        if (!given_.exchange(true)) {
            LineEdge e;
            e.line = EvDsr;
            e.active = true;
            e.nanos = e.seen = nanos_;
            edges.push_back(e);
            received = EvDsr;
            return Wait::Events;
        }
        while (!stopped_)
            QThread::usleep(200);
        return Wait::Stopped;
    }
    void stop() override { stopped_ = true; }
    std::optional<unsigned> modemStatus() override { return 0u; }
    int inQueue() override { return 0; }
    void purge() override {}

private:
    std::int64_t nanos_;
    std::atomic<bool> given_{false}, stopped_{false};
};
} // namespace

TEST(EdgeTiming, AnEdgeGetsTheTickOfItsOwnInstant)
{
    // The last nanosecond of the millisecond before now: its tick is that millisecond, also when
    // the port's thread takes the edge in a moment later.
    platform::MonotonicTicks ticks;
    for (int round = 0; round < 20; ++round) {
        const std::int64_t now = platform::monotonicNanos();
        const std::int64_t instant = (now / 1'000'000) * 1'000'000 - 1;
        OneEdgeDevice device(instant);
        TComPort port;
        QSignalSpy spy(&port, &TComPort::OnLineEdge);
        {
            TComThread thread(&port, &device, EvDsr, &ticks);
            ASSERT_TRUE(waitUntil([&] { return spy.count() == 1; }, 3000));
        }
        const auto edge = spy.at(0).at(1).value<platform::LineEdge>();
        EXPECT_EQ(edge.tick, static_cast<std::uint32_t>(instant / 1'000'000)) << round;
    }
}
