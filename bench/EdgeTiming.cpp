// End to end: how exactly the desk times line edges on a busy machine.
//
// A second process (real-time priority when the system allows it) drives the virtual serial lines
// COM1..COM4 at instants it records (CLOCK_MONOTONIC); the desk runs with the real tick counter,
// its running race clock and a 50 ms handler every 100 ms on its user-interface thread (the UI
// load). With --busy, one busy loop per core runs beside it at normal priority, as a compiler or
// an indexer would.
//
//   A  races: a contact start on COM1, then 30..80 ms later four lanes on four ports (lanes 1, 2,
//      5, 8) within 0.2 ms, in a random order 50 us apart: the error of each stored lane time
//      against the true interval, and whether the places follow the order of the edges.
//   B  one-barrier mode: finish pulses of 1 ms and of 2 ms, 15 ms apart: pulses lost, error.
//   and how long each edge waited before the port's thread took it in (what a serial port's
//   stamp would carry, where the device cannot date a change itself).
//
//   bench_edge_timing [--races=100] [--pulses=1000] [--busy] [--no-realtime]
//   bench_edge_timing --matrix [--races=..] [--pulses=..]   runs the four combinations in turn
//
// Offscreen unless QT_QPA_PLATFORM is set.

#include "BenchLoad.h"
#include "Comms.h"
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

#include <algorithm>
#include <array>
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
    for (int t = 0; t < o.races; ++t) {
        if (!readAll(toDriver, &go, 1))
            return 1;
        // start, then the four lanes in a random order, 50 us apart
        std::array<std::int64_t, 1 + kPorts> at{}; // [0] start, [p] the edge of COMp's lane
        std::array<int, kPorts> order = {1, 2, 3, 4};
        std::shuffle(order.begin(), order.end(), random);
        at[0] = sendAt([&] { com[1]->set(platform::LineDsr, true); });
        std::int64_t next = at[0] + (30 + static_cast<int>(random() % 50)) * kMs;
        for (const int p : order) {
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

// One busy loop per core at normal priority, until killed.
std::vector<pid_t> startBusyLoops()
{
    std::vector<pid_t> loops;
    const long cores = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
    for (long i = 0; i < cores; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            volatile std::uint64_t n = 0;
            for (;;)
                n = n + 1;
        }
        if (pid > 0)
            loops.push_back(pid);
    }
    return loops;
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
    platform::Platform services{ticks, fp.sound, fp.settings, fp.dialogs, fp.help, fp.fileTypes,
                                devices, fp.spreadsheet, realtime};
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
    for (TComPort *port : {form.ComPort1, form.ComPort2, form.ComPort3, form.ComPort4})
        if (!port->Connected()) {
            std::fprintf(stderr, "a port did not open\n");
            return 1;
        }
    const QString how = form.RealtimeNote->isVisible() ? QStringLiteral("without real-time priority")
                                                       : QStringLiteral("with real-time priority");

    // How long each edge waited before its port's thread took it in (microseconds).
    std::vector<std::int64_t> waits;
    for (TComPort *port : {form.ComPort1, form.ComPort2, form.ComPort3, form.ComPort4})
        QObject::connect(port, &TComPort::OnLineEdge, [&waits](TComPort *, const platform::LineEdge &e) {
            waits.push_back((e.seen - e.nanos) / 1000);
        });

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

    std::printf("desk %s, %s, UI load%s (sender %s)\n", qPrintable(how),
                o.busy ? "busy loops on every core" : "no other load", "", senderRealtime ? "real-time" : "normal priority");
    std::fflush(stdout);

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

    std::vector<std::int64_t> stopErrors;
    int lostStops = 0, exactStops = 0, inOrder = 0;
    const char go = 1;
    for (int t = 0; t < o.races; ++t) {
        form.bResetClick();
        waitFor([] { return false; }, 20);
        writeAll(toDriver[1], &go, 1);
        auto allStopped = [&] {
            for (const int lane : kRaceLanes)
                if (form.Line(lane)->LabelTime->Tag() <= 0)
                    return false;
            return true;
        };
        waitFor(allStopped, 2000);
        std::array<std::int64_t, 1 + kPorts> at{};
        std::array<int, kPorts> order{};
        if (!readAll(fromDriver[0], at.data(), sizeof at) || !readAll(fromDriver[0], order.data(), sizeof order))
            return 1;
        waitFor(allStopped, 500);
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
    std::printf("A  %d races, contact start -> four lanes on four ports 50 us apart\n", o.races);
    report("lane times", stopErrors);
    std::printf("   lane times equal to the edges' own milliseconds: %d of %zu; stops lost: %d\n", exactStops,
                stopErrors.size(), lostStops);
    std::printf("   races with the places in edge order: %d of %d\n", inOrder, o.races);

    form.Model.setOneBarrier(true);
    for (int width : {1, 2}) {
        form.bResetClick();
        waitFor([] { return false; }, 20);
        writeAll(toDriver[1], &go, 1);
        std::int64_t start = 0;
        std::vector<std::int64_t> on(static_cast<size_t>(o.pulses));
        // The list fills while the driver runs; read its instants when it is done.
        waitFor([&] { return form.ListBoxStop->count() >= o.pulses; }, o.pulses * 15 + 3000);
        if (!readAll(fromDriver[0], &start, sizeof start) || !readAll(fromDriver[0], on.data(), on.size() * 8))
            return 1;
        waitFor([&] { return form.ListBoxStop->count() >= o.pulses; }, 1000);
        // Each finish time is matched with the pulse nearest to it; a pulse left without one is
        // lost. A pulse that the sender put less than 10 ms after the one before falls in the
        // barrier's lock-out by design and is counted apart.
        std::vector<std::int64_t> errors;
        std::vector<bool> matched(static_cast<size_t>(o.pulses), false);
        std::vector<std::int64_t> truth(static_cast<size_t>(o.pulses));
        for (int i = 0; i < o.pulses; ++i)
            truth[static_cast<size_t>(i)] = (on[static_cast<size_t>(i)] - start) / 1000;
        const int got = form.ListBoxStop->count();
        for (int e = 0; e < got; ++e) {
            const std::int64_t desk = std::int64_t{form.ListBoxStop->item(e)->data(Qt::UserRole).toInt()} * 1000;
            const auto nearest = std::min_element(truth.begin(), truth.end(), [desk](std::int64_t a, std::int64_t b) {
                return std::abs(a - desk) < std::abs(b - desk);
            });
            matched[static_cast<size_t>(nearest - truth.begin())] = true;
            errors.push_back(desk - *nearest);
        }
        int lost = 0, tooClose = 0;
        for (int i = 0; i < o.pulses; ++i) {
            if (matched[static_cast<size_t>(i)])
                continue;
            if (i > 0 && on[static_cast<size_t>(i)] - on[static_cast<size_t>(i - 1)] < 10 * kMs)
                ++tooClose;
            else
                ++lost;
        }
        char label[64];
        std::snprintf(label, sizeof label, "finish pulses of %d ms", width);
        std::printf("B  %d finish-barrier pulses of %d ms, 15 ms apart\n", o.pulses, width);
        report(label, errors);
        std::printf("   pulses lost: %d of %d (besides %d sent within the 10 ms lock-out of the one before)\n",
                    lost, o.pulses, tooClose);
    }
    report("wait before the port's thread", waits);
    std::printf("\n");
    std::fflush(stdout);

    for (const pid_t pid : loops) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
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
        else if (a == "--busy")
            o.busy = true;
        else if (a == "--no-realtime")
            o.realtime = false;
        else if (a == "--matrix")
            o.matrix = true;
        else {
            std::fprintf(stderr, "usage: %s [--races=N] [--pulses=N] [--busy] [--no-realtime] [--matrix]\n", argv[0]);
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
