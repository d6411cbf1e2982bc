// End to end: how exactly the desk times line edges while its UI thread is kept busy.
//
// A second process drives virtual serial lines at instants it records (CLOCK_MONOTONIC); the desk
// runs with the real tick counter, a running race clock and a 50 ms handler every 100 ms on its
// UI thread. Part A: contact start, lane-1 stop some 30..80 ms later, compared with the true
// interval. Part B: 1000 finish-barrier pulses of 1 ms and 1000 of 2 ms (15 ms apart) in the
// one-barrier mode: how many are lost and how exact their finish times are.
//
//   bench_edge_timing [trials=100] [pulses=1000]      (offscreen unless QT_QPA_PLATFORM is set)

#include "FakePlatform.h"
#include "FormMain.h"
#include "RealPlatform.h"
#include "VirtualLines.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

namespace {

std::int64_t nowNanos()
{
    return platform::monotonicNanos();
}

std::uint32_t tickOf(std::int64_t nanos)
{
    return static_cast<std::uint32_t>(nanos / 1000000);
}

bool readAll(int fd, void *data, size_t size)
{
    auto *p = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void writeAll(int fd, const void *data, size_t size)
{
    const auto *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n <= 0)
            return;
        p += n;
        size -= static_cast<size_t>(n);
    }
}

void sleepUntil(std::int64_t nanos)
{
    timespec ts{static_cast<time_t>(nanos / 1000000000), static_cast<long>(nanos % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

// The line driver: answers the desk's requests on toDriver, reports instants on fromDriver.
int driver(const std::string &socket, int toDriver, int fromDriver, int trials, int pulses)
{
    platform::VirtualLineServer com1(socket);
    if (!com1.start() || !com1.waitForDesk(20000))
        return 1;
    std::mt19937 random(7);
    char go;
    for (int t = 0; t < trials; ++t) {
        if (!readAll(toDriver, &go, 1))
            return 1;
        const std::int64_t start = nowNanos();
        com1.set(platform::LineDsr, true);
        sleepUntil(start + (30 + static_cast<int>(random() % 50)) * 1000000LL);
        const std::int64_t stop = nowNanos();
        com1.set(platform::LineDcd, true);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        com1.set(platform::LineDsr | platform::LineDcd, false);
        const std::int64_t pair[2] = {start, stop};
        writeAll(fromDriver, pair, sizeof pair);
    }
    for (int width : {1, 2}) {
        if (!readAll(toDriver, &go, 1))
            return 1;
        const std::int64_t start = nowNanos();
        com1.set(platform::LineDsr, true);
        std::vector<std::int64_t> on(static_cast<size_t>(pulses));
        std::int64_t next = start + 50 * 1000000LL;
        for (int i = 0; i < pulses; ++i, next += 15 * 1000000LL) {
            sleepUntil(next);
            on[static_cast<size_t>(i)] = nowNanos();
            com1.set(platform::LineCts, true);
            sleepUntil(on[static_cast<size_t>(i)] + width * 1000000LL);
            com1.set(platform::LineCts, false);
        }
        com1.set(platform::LineDsr, false);
        writeAll(fromDriver, &start, sizeof start);
        writeAll(fromDriver, on.data(), on.size() * sizeof(std::int64_t));
    }
    return 0;
}

void report(const char *what, std::vector<std::int64_t> errors)
{
    if (errors.empty()) {
        std::printf("%-34s no samples\n", what);
        return;
    }
    for (auto &e : errors)
        e = std::abs(e);
    std::sort(errors.begin(), errors.end());
    auto at = [&](double q) { return errors[std::min(errors.size() - 1, static_cast<size_t>(q * errors.size()))]; };
    const auto within1 = std::count_if(errors.begin(), errors.end(), [](std::int64_t e) { return e <= 1; });
    std::printf("%-34s |error| ms  p50 %" PRId64 "  p99 %" PRId64 "  max %" PRId64 "   (%zu samples, %td within 1 ms)\n",
                what, at(0.5), at(0.99), errors.back(), errors.size(), within1);
}

} // namespace

int main(int argc, char **argv)
{
    const int trials = argc > 1 ? std::atoi(argv[1]) : 100;
    const int pulses = argc > 2 ? std::atoi(argv[2]) : 1000;
    QTemporaryDir folder;
    const std::string socket = folder.filePath(QStringLiteral("com1")).toStdString();
    int toDriver[2], fromDriver[2];
    if (::pipe(toDriver) != 0 || ::pipe(fromDriver) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0)
        _exit(driver(socket, toDriver[0], fromDriver[1], trials, pulses));

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    fake::Platform fp;
    platform::MonotonicTicks ticks;
    platform::LinuxSerialDevices devices(folder.path(), platform::DeviceTable{});
    platform::Platform services{ticks, fp.sound, fp.settings, fp.dialogs, fp.help, fp.fileTypes, devices, fp.spreadsheet};
    fp.settings.keys[QStringLiteral("bench")] = {
        {"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 1}, {"Port2", 0}, {"Port3", 0},
        {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "T"}, {"LineCount", 10},
        {"Accuracy", 2}, {"OneLS", 0}};
    for (int i = 0; i < 200 && !QFileInfo::exists(folder.filePath(QStringLiteral("com1"))); ++i)
        QThread::msleep(10);
    TFormMain form(services, QStringLiteral("/tmp/bench"));
    form.show();

    // The load: a 50 ms handler every 100 ms, beside the race clock's 10 ms refresh.
    QTimer load;
    load.setInterval(100);
    QObject::connect(&load, &QTimer::timeout, [] {
        QElapsedTimer busy;
        busy.start();
        while (busy.elapsed() < 50) {
        }
    });
    load.start();

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
    int lostStops = 0;
    const char go = 1;
    for (int t = 0; t < trials; ++t) {
        form.bResetClick();
        waitFor([] { return false; }, 20);
        writeAll(toDriver[1], &go, 1);
        std::int64_t pair[2];
        waitFor([&] { return form.Line(1)->LabelTime->Tag() > 0; }, 2000);
        if (!readAll(fromDriver[0], pair, sizeof pair))
            return 1;
        const std::int32_t desk = form.Line(1)->LabelTime->Tag();
        if (desk <= 0) {
            ++lostStops;
            continue;
        }
        const auto truth = static_cast<std::int32_t>(tickOf(pair[1]) - tickOf(pair[0]));
        stopErrors.push_back(desk - truth);
    }
    report("A  contact start -> lane stop", stopErrors);
    std::printf("   stops lost: %d of %d\n", lostStops, trials);

    form.OneLS = true;
    for (int width : {1, 2}) {
        form.bResetClick();
        waitFor([] { return false; }, 20);
        writeAll(toDriver[1], &go, 1);
        std::int64_t start = 0;
        std::vector<std::int64_t> on(static_cast<size_t>(pulses));
        // The list fills while the driver runs; read its instants when it is done.
        waitFor([&] { return form.ListBoxStop->count() >= pulses; }, pulses * 15 + 3000);
        if (!readAll(fromDriver[0], &start, sizeof start) || !readAll(fromDriver[0], on.data(), on.size() * 8))
            return 1;
        waitFor([&] { return form.ListBoxStop->count() >= pulses; }, 1000);
        // Each finish time is matched with the pulse nearest to it; a pulse left without one is
        // lost. A pulse that the loaded sender put less than 10 ms after the one before falls in
        // the barrier's lock-out by design and is counted apart.
        std::vector<std::int64_t> errors;
        std::vector<bool> matched(static_cast<size_t>(pulses), false);
        std::vector<std::int32_t> truth(static_cast<size_t>(pulses));
        for (int i = 0; i < pulses; ++i)
            truth[static_cast<size_t>(i)] = static_cast<std::int32_t>(tickOf(on[static_cast<size_t>(i)]) - tickOf(start));
        const int got = form.ListBoxStop->count();
        for (int e = 0; e < got; ++e) {
            const std::int32_t desk = form.ListBoxStop->item(e)->data(Qt::UserRole).toInt();
            const auto nearest = std::min_element(truth.begin(), truth.end(), [desk](std::int32_t a, std::int32_t b) {
                return std::abs(a - desk) < std::abs(b - desk);
            });
            matched[static_cast<size_t>(nearest - truth.begin())] = true;
            errors.push_back(desk - *nearest);
        }
        int lost = 0, tooClose = 0;
        for (int i = 0; i < pulses; ++i) {
            if (matched[static_cast<size_t>(i)])
                continue;
            if (i > 0 && on[static_cast<size_t>(i)] - on[static_cast<size_t>(i - 1)] < 10 * 1000000LL)
                ++tooClose;
            else
                ++lost;
        }
        char label[64];
        std::snprintf(label, sizeof label, "B  finish pulses of %d ms", width);
        report(label, errors);
        std::printf("   pulses lost: %d of %d (besides %d sent within the 10 ms lock-out of the one before)\n",
                    lost, pulses, tooClose);
    }
    ::close(toDriver[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return 0;
}
