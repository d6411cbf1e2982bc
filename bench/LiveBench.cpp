// The live view's cost on the UI thread and its delivery time.
//
// 1. UI-thread handler latency: the live view's refresh handler (read the desk, compare, publish)
//    after a change of the desk and without one, with no client and with 64 event streams of
//    which half never read (their sockets fill up and stay full).
// 2. Delivery: from a change of the desk (a lane marked "Aus") to the moment a reading client has
//    the new snapshot, through the view's own 40 ms refresh timer; target below 100 ms.
// Prints median, p99 and maximum.

#include "DeskFixture.h"
#include "LiveClient.h"
#include "LiveView.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

using SteadyClock = std::chrono::steady_clock;

namespace {

struct Stats {
    double median, p99, max;
};

Stats stats(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))]; };
    return {at(0.5), at(0.99), v.back()};
}

void print(const char *what, const Stats &s, const char *unit)
{
    std::printf("%-58s median %8.1f  p99 %8.1f  max %8.1f %s\n", what, s.median, s.p99, s.max, unit);
}

double micros(SteadyClock::time_point a, SteadyClock::time_point b)
{
    return std::chrono::duration<double, std::micro>(b - a).count();
}

// Times the refresh handler `rounds` times after a change and `rounds` times without one.
void handlerLatency(Desk &desk, live::LiveView &view, int rounds, const char *label)
{
    TFormMain &f = *desk.form;
    std::vector<double> changed, unchanged;
    for (int i = 0; i < rounds; ++i) {
        f.Line(2)->eAusDblClick();
        auto t0 = SteadyClock::now();
        view.refresh();
        auto t1 = SteadyClock::now();
        changed.push_back(micros(t0, t1));
        t0 = SteadyClock::now();
        view.refresh();
        t1 = SteadyClock::now();
        unchanged.push_back(micros(t0, t1));
        QCoreApplication::processEvents();
    }
    // The hand-over alone: what the UI thread spends on the server's side of a change.
    std::vector<double> handOver;
    const QByteArray json = live::SnapshotOfDesk(f).toJson();
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = SteadyClock::now();
        view.server()->publish(json, 0);
        handOver.push_back(micros(t0, SteadyClock::now()));
        if (i % 50 == 0)
            QThread::msleep(1);
    }
    char line[128];
    std::snprintf(line, sizeof line, "publish (hand-over to the server), %s", label);
    print(line, stats(handOver), "us");
    std::snprintf(line, sizeof line, "refresh after a change, %s", label);
    print(line, stats(changed), "us");
    std::snprintf(line, sizeof line, "refresh without a change, %s", label);
    print(line, stats(unchanged), "us");
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;

    Desk desk;
    desk.key() = {{"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 0}, {"Port2", 0},
                  {"Port3", 0}, {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "Bench"},
                  {"LineCount", 8}, {"Accuracy", 2}};
    TFormMain &f = desk.create();
    // A meeting of 40 entered heats in the results table, as the snapshot carries them all.
    for (int h = 1; h <= 40; ++h) {
        for (int lane = 1; lane <= 8; ++lane)
            f.Line(lane)->eName->setText(QStringLiteral("Läuferin %1-%2").arg(h).arg(lane));
        f.mStart->trigger();
        for (int lane = 1; lane <= 8; ++lane) {
            desk.fp.ticks.now = static_cast<std::uint32_t>(f.StartTime) + 10000 + 37 * static_cast<std::uint32_t>(lane);
            f.StopEntry(lane)->trigger();
        }
        f.bProtokollClick();
    }
    f.mStart->trigger(); // a race runs

    live::LiveView view(f);
    view.refreshTimer()->setInterval(1000000); // refreshed by hand in part 1
    f.LiveSettings = {true, 0, QStringLiteral("127.0.0.1")};
    view.apply();
    if (!view.isServing()) {
        std::fprintf(stderr, "the live view did not start\n");
        return 1;
    }
    std::printf("snapshot with 40 heats: %d bytes\n", static_cast<int>(live::SnapshotOfDesk(f).toJson().size()));

    handlerLatency(desk, view, rounds, "no client");

    std::vector<std::unique_ptr<LiveClient>> clients;
    for (int i = 0; i < 64; ++i)
        clients.push_back(std::make_unique<LiveClient>(view.port(), "/events", i % 2 == 0));
    QElapsedTimer wait;
    wait.start();
    while (view.server()->streamCount() < 64 && wait.elapsed() < 10000) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    std::printf("event streams open: %d (32 of them never read)\n", view.server()->streamCount());
    handlerLatency(desk, view, rounds, "64 clients");

    // Part 2: delivery through the refresh timer.
    view.refreshTimer()->setInterval(live::LiveView::RefreshMs);
    clients.pop_back(); // a never-reading one makes place for a fresh reader
    LiveClient reader(view.port(), "/events");
    while (reader.snapshotCount() == 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(200);
    }
    std::vector<double> delivery;
    for (int i = 0; i < 200; ++i) {
        const int before = reader.snapshotCount();
        f.Line(3)->eAusDblClick();
        const auto t0 = SteadyClock::now();
        while (reader.snapshotCount() == before
               && std::chrono::duration_cast<std::chrono::seconds>(SteadyClock::now() - t0).count() < 5) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            QThread::usleep(200);
        }
        delivery.push_back(micros(t0, SteadyClock::now()) / 1000.0);
        QThread::msleep(static_cast<unsigned long>(i % 37)); // changes at every phase of the timer
    }
    print("change to a reading client, 64 clients, timer 40 ms", stats(delivery), "ms");
    std::printf("event streams still open: %d\n", view.server()->streamCount());
    return 0;
}
