// How late the desk's port threads take in a line edge on a busy machine, and how exactly the desk
// times the edges end to end.
//
// A second process (real-time priority when the system allows it) drives the virtual serial lines
// COM1..COM4 at instants it records (CLOCK_MONOTONIC); the desk runs with the real tick counter,
// its running race clock and a 50 ms handler every 100 ms on its user-interface thread (the UI
// load). With --busy, one busy loop per core runs beside it at normal priority, as a compiler or
// an indexer would.
//
// The headline: how long each edge waited, from the instant the kernel took the simulator's message
// to the moment the port's thread read it. A real serial port cannot date a change itself, so this
// wake-up wait is what its stamps would carry. Beside it the machine's floor: the same wait for a
// bare thread of the benchmark's own at the port threads' scheduling (SCHED_FIFO 20 with real-time
// priority), sleeping on clock_nanosleep every millisecond and measuring how late it woke (as
// cyclictest does).
//
//   A  races: a contact start on COM1, then 30..80 ms later four lanes on four ports (lanes 1, 2,
//      5, 8) within 0.2 ms, in a random order 50 us apart: the error of each stored lane time
//      against the true interval, and whether the places follow the order of the edges.
//   B  one-barrier mode: finish pulses of 1 ms and of 2 ms, 15 ms apart: pulses lost, error.
//   C  (--replug=N) N more races in which COM4's line is pulled out 10 ms after the start and put
//      back 2 ms before the lanes come (the desk takes it up again through its device monitor
//      while the other ports' edges arrive), each followed by a race with COM4 back: the error
//      of the other ports' lane times meanwhile, and whether COM4 came back and times its lane.
//   The simulator's lines are dated by the kernel when they are sent, so A and B hold with or
//   without the desk's real-time priority: they show the desk's handling, not what a real port
//   would carry. (The instants the sender records are true only when the sender runs real-time.)
//
// With real-time priority (the default) the benchmark refuses to run, with a message and exit
// status 3, when the port threads or its own floor thread do not get it; --no-realtime measures
// the desk as it runs without.
//
//   bench_edge_timing [--races=100] [--pulses=1000] [--replug=0] [--busy] [--no-realtime]
//   bench_edge_timing --matrix [--races=..] [--pulses=..]   runs the four combinations in turn
//
// Offscreen unless QT_QPA_PLATFORM is set.

#include "BenchLoad.h"
#include "Comms.h"
#include "DeviceMonitorLinux.h"
#include "FakePlatform.h"
#include "FormMain.h"
#include "Label3D.h"
#include "RealPlatform.h"
#include "Realtime.h"
#include "VirtualLines.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QListWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pthread.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kPorts = 4;
constexpr int kRaceLanes[kPorts] = {1, 2, 5, 8}; // the DCD line of COM1..COM4
constexpr std::int64_t kMs = 1000000;

std::int64_t nowNanos()
{
    return platform::monotonicNanos();
}

std::uint32_t tickOf(std::int64_t nanos)
{
    return static_cast<std::uint32_t>(nanos / kMs);
}

void sleepUntil(std::int64_t nanos)
{
    timespec ts{static_cast<time_t>(nanos / 1000000000), static_cast<long>(nanos % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

struct Options {
    int races = 100;
    int pulses = 1000;
    int replug = 0; // C: races with COM4 pulled and returned
    bool busy = false;
    bool realtime = true;
    bool matrix = false;
};

// The instant of a change the driver sends: the middle of the send.
std::int64_t sendAt(const std::function<void()> &send)
{
    const std::int64_t before = nowNanos();
    send();
    return before + (nowNanos() - before) / 2;
}

// The line driver: answers the desk's requests on toDriver, reports instants on fromDriver.
int driver(const QString &folder, int toDriver, int fromDriver, const Options &o)
{
    // The sender stands in for hardware: it runs above the desk's own stamping threads.
    sched_param param{};
    param.sched_priority = platform::SystemRealtimeScheduler::kPriority + 10;
    const bool senderRealtime = sched_setscheduler(0, SCHED_FIFO, &param) == 0;
    writeAll(fromDriver, &senderRealtime, 1);

    std::array<std::unique_ptr<platform::VirtualLineServer>, kPorts + 1> com;
    for (int p = 1; p <= kPorts; ++p) {
        com[static_cast<size_t>(p)] = std::make_unique<platform::VirtualLineServer>(
            QStringLiteral("%1/com%2").arg(folder).arg(p).toStdString());
        if (!com[static_cast<size_t>(p)]->start())
            return 1;
    }
    for (int p = 1; p <= kPorts; ++p)
        if (!com[static_cast<size_t>(p)]->waitForDesk(30000))
            return 1;
    std::mt19937 random(7);
    char go;
    for (int t = 0; t < o.races + 2 * o.replug; ++t) {
        if (!readAll(toDriver, &go, 1))
            return 1;
        // C: COM4 pulled out after the start and put back just before the lanes (its lane silent)
        const bool pulled = t >= o.races && (t - o.races) % 2 == 0;
        // start, then the four lanes in a random order, 50 us apart
        std::array<std::int64_t, 1 + kPorts> at{}; // [0] start, [p] the edge of COMp's lane
        std::array<int, kPorts> order = {1, 2, 3, 4};
        std::shuffle(order.begin(), order.end(), random);
        at[0] = sendAt([&] { com[1]->set(platform::LineDsr, true); });
        std::int64_t next = at[0] + (30 + static_cast<int>(random() % 50)) * kMs;
        if (pulled) {
            sleepUntil(at[0] + 10 * kMs);
            com[4]->unplug();
            sleepUntil(next - 2 * kMs);
            if (!com[4]->replug())
                return 1;
        }
        for (const int p : order) {
            if (pulled && p == 4)
                continue;
            sleepUntil(next);
            at[static_cast<size_t>(p)] = sendAt([&] { com[static_cast<size_t>(p)]->set(platform::LineDcd, true); });
            next = at[static_cast<size_t>(p)] + 50000;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        com[1]->set(platform::LineDsr | platform::LineDcd, false);
        for (int p = 2; p <= kPorts; ++p)
            com[static_cast<size_t>(p)]->set(platform::LineDcd, false);
        writeAll(fromDriver, at.data(), sizeof at);
        writeAll(fromDriver, order.data(), sizeof order);
    }
    for (int width : {1, 2}) {
        if (!readAll(toDriver, &go, 1))
            return 1;
        const std::int64_t start = sendAt([&] { com[1]->set(platform::LineDsr, true); });
        std::vector<std::int64_t> on(static_cast<size_t>(o.pulses));
        std::int64_t next = start + 50 * kMs;
        for (int i = 0; i < o.pulses; ++i, next += 15 * kMs) {
            sleepUntil(next);
            on[static_cast<size_t>(i)] = sendAt([&] { com[1]->set(platform::LineCts, true); });
            sleepUntil(on[static_cast<size_t>(i)] + width * kMs);
            com[1]->set(platform::LineCts, false);
        }
        com[1]->set(platform::LineDsr, false);
        writeAll(fromDriver, &start, sizeof start);
        writeAll(fromDriver, on.data(), on.size() * sizeof(std::int64_t));
    }
    // The lines stay until the desk has read its counts (its last word): their going away would
    // end the ports' threads.
    readAll(toDriver, &go, 1);
    return 0;
}

// |error| in microseconds: p50, p99, max, and how many within 1 ms.
void report(const char *what, std::vector<std::int64_t> errors)
{
    if (errors.empty()) {
        std::printf("   %-30s no samples\n", what);
        return;
    }
    for (auto &e : errors)
        e = std::abs(e);
    std::sort(errors.begin(), errors.end());
    auto at = [&](double q) { return errors[std::min(errors.size() - 1, static_cast<size_t>(q * errors.size()))]; };
    const auto within = std::count_if(errors.begin(), errors.end(), [](std::int64_t e) { return e <= 1000; });
    std::printf("   %-30s |error| us  p50 %6" PRId64 "  p99 %6" PRId64 "  max %6" PRId64 "   %td of %zu within 1 ms\n",
                what, at(0.5), at(0.99), errors.back(), within, errors.size());
}

// Wake-up waits in microseconds: p50, p99, p99.9, max, and how many took longer than 1 ms.
void reportWaits(const char *what, std::vector<std::int64_t> waits, const char *of)
{
    if (waits.empty()) {
        std::printf("   %-46s no samples\n", what);
        return;
    }
    std::sort(waits.begin(), waits.end());
    auto at = [&](double q) { return waits[std::min(waits.size() - 1, static_cast<size_t>(q * waits.size()))]; };
    const auto over = std::count_if(waits.begin(), waits.end(), [](std::int64_t w) { return w > 1000; });
    std::printf("   %-46s us  p50 %6" PRId64 "  p99 %6" PRId64 "  p99.9 %6" PRId64 "  max %6" PRId64
                "   %td of %zu %s over 1 ms\n",
                what, at(0.5), at(0.99), at(0.999), waits.back(), over, waits.size(), of);
}

// The machine's floor: a bare thread that sleeps until the next millisecond on clock_nanosleep
// and notes how late it woke, at the port threads' scheduling, for as long as the desk is measured.
class Floor {
public:
    explicit Floor(bool realtime)
    {
        late_.reserve(kMaxSamples);
        thread_ = std::thread([this, realtime] {
            sched_param param{};
            param.sched_priority = platform::SystemRealtimeScheduler::kPriority;
            fifo_ = realtime && pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
            platform::keepStampPathResident(reinterpret_cast<const void *>(&sleepUntil));
            ready_ = true;
            ready_.notify_all();
            if (realtime && !fifo_)
                return;
            std::int64_t next = nowNanos() + kMs;
            while (!stop_.load()) {
                sleepUntil(next);
                const std::int64_t late = nowNanos() - next;
                if (measuring_.load() && late_.size() < kMaxSamples)
                    late_.push_back(late / 1000);
                next += kMs;
                if (next < nowNanos()) // a wake-up later than the period: the next from now
                    next = nowNanos() + kMs;
            }
        });
        ready_.wait(false);
    }
    ~Floor()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    bool realtime() const { return fifo_; }
    void measure(bool on) { measuring_ = on; }
    // After the end of the measuring only.
    std::vector<std::int64_t> late()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return late_;
    }

private:
    static constexpr std::size_t kMaxSamples = 2'000'000;
    std::vector<std::int64_t> late_;
    std::atomic<bool> ready_{false}, stop_{false}, measuring_{false};
    bool fifo_ = false;
    std::thread thread_;
};

// The kernel's scheduling policy of a thread, without the flag that resets it in a child process
// (-1 when it cannot be read).
int policyOf(long threadId)
{
    const int policy = ::sched_getscheduler(static_cast<pid_t>(threadId));
    return policy < 0 ? policy : policy & ~0x40000000; // SCHED_RESET_ON_FORK
}

int runOne(int argc, char **argv, const Options &o)
{
    QTemporaryDir folder;
    int toDriver[2], fromDriver[2];
    if (::pipe(toDriver) != 0 || ::pipe(fromDriver) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0)
        _exit(driver(folder.path(), toDriver[0], fromDriver[1], o));
    auto endDriver = [child] {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    };
    bool senderRealtime = false;
    readAll(fromDriver[0], &senderRealtime, 1);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    fake::Platform fp;
    platform::MonotonicTicks ticks;
    platform::LinuxSerialDevices devices(folder.path(), platform::DeviceTable{});
    platform::SystemRealtimeScheduler systemRealtime;
    platform::NoRealtimeScheduler noRealtime;
    platform::RealtimeScheduler &realtime = o.realtime ? static_cast<platform::RealtimeScheduler &>(systemRealtime)
                                                       : static_cast<platform::RealtimeScheduler &>(noRealtime);
    // The devices folder watched as the desk watches it: a line pulled out and put back is taken up.
    platform::UdevDeviceMonitor monitor(folder.path(), false);
    platform::Platform services{ticks, fp.sound, fp.settings, fp.dialogs, fp.help, fp.fileTypes,
                                devices, fp.spreadsheet, realtime, platform::FileCalls::system(),
                                platform::Printers::system(), platform::DataFolders::currentFolderOnly(), monitor};
    fp.settings.keys[QStringLiteral("bench")] = {
        {"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 1}, {"Port2", 2}, {"Port3", 3},
        {"Port4", 4}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "T"}, {"LineCount", 10},
        {"Accuracy", 2}, {"OneLS", 0}};
    for (int i = 0; i < 300; ++i) {
        bool all = true;
        for (int p = 1; p <= kPorts; ++p)
            all = all && QFileInfo::exists(folder.filePath(QStringLiteral("com%1").arg(p)));
        if (all)
            break;
        QThread::msleep(10);
    }
    TFormMain form(services, QStringLiteral("/tmp/bench"));
    form.show();
    const std::array<TComPort *, kPorts> ports = {form.ComPort1, form.ComPort2, form.ComPort3, form.ComPort4};
    for (TComPort *port : ports)
        if (!port->Connected()) {
            std::fprintf(stderr, "a port did not open\n");
            endDriver();
            return 1;
        }

    // Runs the event loop (sleeping while idle) until done holds or ms have passed.
    auto waitFor = [&](const std::function<bool()> &done, int ms) {
        QEventLoop loop;
        QTimer poll;
        QElapsedTimer t;
        t.start();
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (done() || t.elapsed() >= ms)
                loop.quit();
        });
        poll.start(1);
        loop.exec();
        return done();
    };

    // The scheduling the port threads really run at (RealtimeKit answers on the bus, a moment later).
    auto portsAtFifo = [&] {
        return std::all_of(ports.begin(), ports.end(),
                           [](TComPort *port) { return policyOf(port->WatcherThreadId()) == SCHED_FIFO; });
    };
    const bool portsRealtime = o.realtime ? waitFor(portsAtFifo, 5000) : portsAtFifo();
    Floor floor(o.realtime);
    if (o.realtime && (!portsRealtime || !floor.realtime())) {
        std::fprintf(stderr,
                     "bench_edge_timing: real-time priority was not granted (%s): the real-time column is not "
                     "measured.\n  Give the user a real-time limit (the group zielkron with rtprio 20 in "
                     "/etc/security/limits.d, then log in again) or a running RealtimeKit, or measure "
                     "without it: --no-realtime.\n",
                     !portsRealtime ? "the port threads run SCHED_OTHER" : "the benchmark's own floor thread");
        endDriver();
        return 3;
    }
    const QString how = o.realtime ? QStringLiteral("with real-time priority (SCHED_FIFO %1 on the %2 port threads)")
                                         .arg(platform::SystemRealtimeScheduler::kPriority)
                                         .arg(kPorts)
                                   : QStringLiteral("without real-time priority (SCHED_OTHER)");

    // How long each edge waited before its port's thread took it in (microseconds).
    std::vector<std::int64_t> waits;
    for (TComPort *port : ports)
        QObject::connect(port, &TComPort::OnLineEdge, [&waits](TComPort *, const platform::LineEdge &e) {
            waits.push_back((e.seen - e.nanos) / 1000);
        });
    int lostEdges = 0;
    for (TComPort *port : ports)
        QObject::connect(port, &TComPort::OnEdgesLost, [&lostEdges](TComPort *, unsigned n) { lostEdges += int(n); });

    // The UI load: a 50 ms handler every 100 ms, beside the race clock's 10 ms refresh.
    QTimer load;
    load.setInterval(100);
    QObject::connect(&load, &QTimer::timeout, [] {
        QElapsedTimer busy;
        busy.start();
        while (busy.elapsed() < 50) {
        }
    });
    load.start();
    const std::vector<pid_t> loops = o.busy ? startBusyLoops() : std::vector<pid_t>{};
    floor.measure(true);

    std::vector<std::int64_t> stopErrors, replugErrors, replugWaits;
    int lostStops = 0, exactStops = 0, inOrder = 0;
    int replugLost = 0, reopened = 0, notBack = 0, backTimed = 0;
    QObject::connect(form.ComPort4, &TComPort::OnOpen, [&reopened] { ++reopened; });
    const char go = 1;
    for (int t = 0; t < o.races + 2 * o.replug; ++t) {
        const bool replugRace = t >= o.races;
        const bool pulled = replugRace && (t - o.races) % 2 == 0;
        form.bResetClick();
        waitFor([] { return false; }, 20);
        const std::size_t waitsBefore = waits.size();
        writeAll(toDriver[1], &go, 1);
        auto allStopped = [&] {
            for (const int lane : kRaceLanes)
                if (!(pulled && lane == kRaceLanes[3]) && form.Line(lane)->LabelTime->Tag() <= 0)
                    return false;
            return true;
        };
        waitFor(allStopped, 2000);
        std::array<std::int64_t, 1 + kPorts> at{};
        std::array<int, kPorts> order{};
        if (!readAll(fromDriver[0], at.data(), sizeof at) || !readAll(fromDriver[0], order.data(), sizeof order))
            return 1;
        waitFor(allStopped, 500);
        if (replugRace) {
            for (int p = 1; p <= kPorts; ++p) {
                const int lane = kRaceLanes[p - 1];
                const std::int32_t desk = form.Line(lane)->LabelTime->Tag();
                if (pulled && p == kPorts)
                    continue;
                if (desk <= 0) {
                    ++(pulled ? replugLost : lostStops);
                    continue;
                }
                const std::int64_t error = std::int64_t{desk} * 1000 - (at[static_cast<size_t>(p)] - at[0]) / 1000;
                if (pulled)
                    replugErrors.push_back(error);
                else if (p == kPorts)
                    backTimed += std::abs(error) <= 1000;
            }
            if (pulled) {
                replugWaits.insert(replugWaits.end(), waits.begin() + static_cast<std::ptrdiff_t>(waitsBefore), waits.end());
                notBack += !waitFor([&] { return form.ComPort4->Connected(); }, 5000);
            }
            continue;
        }
        bool placesRight = true;
        for (int p = 1; p <= kPorts; ++p) {
            const int lane = kRaceLanes[p - 1];
            const std::int32_t desk = form.Line(lane)->LabelTime->Tag();
            if (desk <= 0) {
                ++lostStops;
                placesRight = false;
                continue;
            }
            const std::int64_t truthMicros = (at[static_cast<size_t>(p)] - at[0]) / 1000;
            stopErrors.push_back(std::int64_t{desk} * 1000 - truthMicros);
            exactStops += desk == static_cast<std::int32_t>(tickOf(at[static_cast<size_t>(p)]) - tickOf(at[0]));
            const int expectedPlace = static_cast<int>(std::find(order.begin(), order.end(), p) - order.begin()) + 1;
            placesRight = placesRight && form.Line(lane)->ePlatz->Caption() == QString::number(expectedPlace);
        }
        inOrder += placesRight;
    }

    struct PulseRun {
        std::vector<std::int64_t> errors;
        int lost = 0, tooClose = 0;
    };
    std::array<PulseRun, 2> pulseRuns;
    form.Model.setOneBarrier(true);
    for (int width : {1, 2}) {
        PulseRun &run = pulseRuns[static_cast<size_t>(width - 1)];
        form.bResetClick();
        waitFor([] { return false; }, 20);
        writeAll(toDriver[1], &go, 1);
        std::int64_t start = 0;
        std::vector<std::int64_t> on(static_cast<size_t>(o.pulses));
        // The list fills while the driver runs; read its instants when it is done.
        waitFor([&] { return form.ListBoxStop->count() >= o.pulses; }, o.pulses * 15 + 3000);
        if (!readAll(fromDriver[0], &start, sizeof start) || !readAll(fromDriver[0], on.data(), on.size() * 8))
            return 1;
        // A UI thread that gets little of a loaded machine may still be behind: the finish times
        // are right however late it lists them, so it gets the time to catch up.
        int expected = o.pulses;
        for (int i = 1; i < o.pulses; ++i)
            expected -= on[static_cast<size_t>(i)] - on[static_cast<size_t>(i - 1)] < 10 * kMs;
        waitFor([&] { return form.ListBoxStop->count() >= expected; }, 30000);
        // Each finish time is matched with the pulse nearest to it; a pulse left without one is
        // lost. A pulse that the sender put less than 10 ms after the one before falls in the
        // barrier's lock-out by design and is counted apart.
        std::vector<bool> matched(static_cast<size_t>(o.pulses), false);
        std::vector<std::int64_t> truth(static_cast<size_t>(o.pulses));
        for (int i = 0; i < o.pulses; ++i)
            truth[static_cast<size_t>(i)] = (on[static_cast<size_t>(i)] - start) / 1000;
        // The times the model keeps (the list's items carry only their texts).
        const std::vector<meeting::FinishEntry> &finishes = form.Model.desk().finishList;
        const int got = static_cast<int>(finishes.size());
        for (int e = 0; e < got; ++e) {
            const std::int64_t desk = std::int64_t{finishes[static_cast<size_t>(e)].ms} * 1000;
            const auto nearest = std::min_element(truth.begin(), truth.end(), [desk](std::int64_t a, std::int64_t b) {
                return std::abs(a - desk) < std::abs(b - desk);
            });
            matched[static_cast<size_t>(nearest - truth.begin())] = true;
            run.errors.push_back(desk - *nearest);
        }
        for (int i = 0; i < o.pulses; ++i) {
            if (matched[static_cast<size_t>(i)])
                continue;
            if (i > 0 && on[static_cast<size_t>(i)] - on[static_cast<size_t>(i - 1)] < 10 * kMs)
                ++run.tooClose;
            else
                ++run.lost;
        }
    }
    floor.measure(false);
    stopBusyLoops(loops);

    std::printf("desk %s, %s, UI load (sender %s)\n", qPrintable(how),
                o.busy ? "busy loops on every core" : "no other load", senderRealtime ? "real-time" : "normal priority");
    std::printf("   wake-up wait: what a real serial port's stamps would carry\n");
    reportWaits("port threads, from the kernel's send stamp", waits, "edges");
    reportWaits(o.realtime ? "floor: a bare SCHED_FIFO thread, 1 ms sleeps" : "floor: a bare SCHED_OTHER thread, 1 ms sleeps",
                floor.late(), "wake-ups");
    unsigned reportsSeen = 0;
    for (TComPort *port : ports)
        reportsSeen += port->ReportsSeen();
    std::printf("   reports the port threads took in: %u (COM4: since its last opening); edges the UI thread got: %zu, lost in the hand-over: %d\n",
                reportsSeen, waits.size(), lostEdges);
    std::printf("   the desk's handling of edges the simulator dated in the kernel (holds with or without the desk's "
                "real-time priority; the true instants need a real-time sender):\n");
    std::printf("A  %d races, contact start -> four lanes on four ports 50 us apart\n", o.races);
    report("lane times", stopErrors);
    std::printf("   lane times equal to the edges' own milliseconds: %d of %zu; stops lost: %d\n", exactStops,
                stopErrors.size(), lostStops);
    std::printf("   races with the places in edge order: %d of %d\n", inOrder, o.races);
    if (o.replug > 0) {
        std::printf("C  %d races with COM4 pulled out after the start and put back before the lanes, each followed "
                    "by one with COM4 back\n",
                    o.replug);
        report("lane times of COM1..COM3", replugErrors);
        reportWaits("their wake-up waits (COM1..COM3)", replugWaits, "edges");
        std::printf("   stops lost on COM1..COM3: %d; COM4 opened again: %d of %d (not back within 5 s: %d); its lane "
                    "timed within 1 ms in the race after: %d of %d\n",
                    replugLost, reopened, o.replug, notBack, backTimed, o.replug);
    }
    for (int width : {1, 2}) {
        const PulseRun &run = pulseRuns[static_cast<size_t>(width - 1)];
        char label[64];
        std::snprintf(label, sizeof label, "finish pulses of %d ms", width);
        std::printf("B  %d finish-barrier pulses of %d ms, 15 ms apart\n", o.pulses, width);
        report(label, run.errors);
        std::printf("   pulses lost: %d of %d (besides %d sent within the 10 ms lock-out of the one before)\n",
                    run.lost, o.pulses, run.tooClose);
    }
    std::printf("\n");
    std::fflush(stdout);

    writeAll(toDriver[1], &go, 1);
    ::close(toDriver[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--races=", 0) == 0)
            o.races = std::max(1, std::atoi(a.c_str() + 8));
        else if (a.rfind("--pulses=", 0) == 0)
            o.pulses = std::max(1, std::atoi(a.c_str() + 9));
        else if (a.rfind("--replug=", 0) == 0)
            o.replug = std::max(0, std::atoi(a.c_str() + 9));
        else if (a == "--busy")
            o.busy = true;
        else if (a == "--no-realtime")
            o.realtime = false;
        else if (a == "--matrix")
            o.matrix = true;
        else {
            std::fprintf(stderr, "usage: %s [--races=N] [--pulses=N] [--replug=N] [--busy] [--no-realtime] [--matrix]\n", argv[0]);
            return 2;
        }
    }
    if (!o.matrix)
        return runOne(argc > 0 ? 1 : 0, argv, o);
    // Each combination in a process of its own: a fresh desk, fresh ports, its own scheduling.
    int worst = 0;
    for (const bool realtime : {true, false})
        for (const bool busy : {false, true}) {
            std::fflush(stdout);
            const pid_t pid = ::fork();
            if (pid == 0) {
                Options one = o;
                one.matrix = false;
                one.realtime = realtime;
                one.busy = busy;
                _exit(runOne(1, argv, one));
            }
            int status = 0;
            ::waitpid(pid, &status, 0);
            worst = std::max(worst, WIFEXITED(status) ? WEXITSTATUS(status) : 1);
        }
    return worst;
}
