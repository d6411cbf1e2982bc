// CPU cost of the running race clock: ten lanes running for 20 s, CPU seconds of the desk process
// per second of wall time. Offscreen by default; under an X server (xvfb-run) with
// QT_QPA_PLATFORM=xcb.
//
//   bench_clock_cpu [--busy] [--fps=N] [accuracy=2] [seconds=20] [lanes=10]
//
// --busy: one busy loop per core at normal priority beside it, as a laptop has while other programs
// run. --fps=N: the clock shows up to N frames a second instead of the desk's own rate (to compare).
//
// ZK_BENCH_PAINTS=1 lists the widgets painted and their mean painted area; ZK_BENCH_KEEP_SHM=1
// leaves X11 shared-memory images on (Qt's default, the desk turns them off).

#include "BenchLoad.h"
#include "FakePlatform.h"
#include "FormMain.h"
#include "GuardedApplication.h"
#include "RealPlatform.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPaintEvent>
#include <QScreen>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace {
// Runs the event loop for ms milliseconds, sleeping while there is nothing to do.
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double cpuSeconds(bool systemOnly = false)
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    const double system = static_cast<double>(u.ru_stime.tv_sec) + static_cast<double>(u.ru_stime.tv_usec) / 1e6;
    return systemOnly ? system
                      : system + static_cast<double>(u.ru_utime.tv_sec) + static_cast<double>(u.ru_utime.tv_usec) / 1e6;
}
} // namespace

int main(int argc, char **argv)
{
    std::vector<const char *> args(argv + 1, argv + argc);
    const bool busy = !args.empty() && std::strcmp(args.front(), "--busy") == 0;
    if (busy)
        args.erase(args.begin());
    int fps = 0;
    if (!args.empty() && std::strncmp(args.front(), "--fps=", 6) == 0) {
        fps = std::atoi(args.front() + 6);
        args.erase(args.begin());
    }
    const int accuracy = args.size() > 0 ? std::atoi(args[0]) : 2;
    const int seconds = args.size() > 1 ? std::atoi(args[1]) : 20;
    const int lanes = args.size() > 2 ? std::atoi(args[2]) : 10;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // As the desk itself prepares the display; ZK_BENCH_KEEP_SHM=1 measures Qt's default.
    if (!qEnvironmentVariableIsSet("ZK_BENCH_KEEP_SHM"))
        platform::GuardedApplication::prepareDisplay();
    QApplication app(argc, argv);
    fake::Platform fp;
    platform::MonotonicTicks ticks;
    platform::Platform services{ticks, fp.sound, fp.settings, fp.dialogs, fp.help, fp.fileTypes, fp.serial.devices, fp.spreadsheet, fp.realtime};
    fp.settings.keys[QStringLiteral("bench")] = {
        {"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 0}, {"Port2", 0}, {"Port3", 0},
        {"Port4", 0}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "T"}, {"LineCount", lanes},
        {"Accuracy", accuracy}};
    TFormMain form(services, QStringLiteral("/tmp/bench"));
    form.show();
    runFor(1000);

    // ZK_BENCH_PAINTS=1: which widgets repaint, and how often, while the clock runs.
    struct PaintCounter : QObject {
        std::map<QString, int> counts;
        std::map<QString, qint64> pixels;
        bool eventFilter(QObject *o, QEvent *e) override
        {
            if (e->type() == QEvent::Paint) {
                const QString name = QString::fromLatin1(o->metaObject()->className()) + QLatin1Char(' ') + o->objectName();
                ++counts[name];
                const QRect r = static_cast<QPaintEvent *>(e)->rect();
                pixels[name] += qint64(r.width()) * r.height();
            }
            return false;
        }
    } painter;
    const bool countPaints = qEnvironmentVariableIsSet("ZK_BENCH_PAINTS");
    if (countPaints)
        app.installEventFilter(&painter);
    const std::vector<pid_t> loops = busy ? startBusyLoops() : std::vector<pid_t>{};
    form.mStart->trigger();
    if (fps > 0)
        form.FrameMs = static_cast<int>(std::ceil(1000.0 / fps));
    const double cpu0 = cpuSeconds();
    const double system0 = cpuSeconds(true);
    QElapsedTimer wall;
    wall.start();
    runFor(seconds * 1000);
    const double cpu = cpuSeconds() - cpu0;
    const double system = cpuSeconds(true) - system0;
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
    stopBusyLoops(loops);
    for (const auto &[name, n] : painter.counts)
        std::printf("  %6d paints of %s, %lld pixels each\n", n, qPrintable(name), painter.pixels[name] / n);
    std::printf("%s%s, accuracy %d, a frame every %d ms at most, %d lanes running, %.1f s: %.2f %% of one core (%.3f CPU s, %.0f %% of it in the "
                "kernel)\n",
                qgetenv("QT_QPA_PLATFORM").constData(), busy ? " with every core busy" : "", accuracy, form.FrameMs, lanes, elapsed, 100.0 * cpu / elapsed, cpu,
                cpu > 0 ? 100.0 * system / cpu : 0.0);

    // What the screen shows of the running times is what the labels draw themselves: the X server's
    // picture of the window against the window drawn anew, label by label.
    {
        form.Clock->stop();
        form.ClockTimer();
        QCoreApplication::processEvents();
        const QImage screen = form.screen()->grabWindow(form.winId()).toImage().convertToFormat(QImage::Format_RGB32);
        const QImage drawn = form.grab().toImage().convertToFormat(QImage::Format_RGB32);
        int differing = 0;
        for (int lane = 1; lane <= lanes; ++lane) {
            const QWidget *label = form.Line(lane)->LabelTime;
            const QRect r(label->mapTo(&form, QPoint()), label->size());
            differing += screen.copy(r) != drawn.copy(r);
        }
        std::printf("screen against the labels' own drawing: %s\n",
                    screen.size() != drawn.size() ? "not comparable" : differing == 0 ? "the same" : "DIFFERENT");
        form.Clock->start(1);
    }

    // After every lane has stopped the clock has nothing left to show.
    for (int lane = 1; lane <= lanes; ++lane)
        form.StopEntry(lane)->trigger();
    const double cpu1 = cpuSeconds();
    QElapsedTimer after;
    after.start();
    runFor(5000);
    std::printf("%s, all lanes stopped, 5 s: %.2f %% of one core\n", qgetenv("QT_QPA_PLATFORM").constData(),
                100.0 * (cpuSeconds() - cpu1) / (static_cast<double>(after.elapsed()) / 1000.0));

    // The machine's floor: the same event loop woken as often as the clock wakes it, doing nothing.
    // What the running clock costs beyond this is the desk's own.
    {
        const int frame = form.FrameMs;
        const int step = std::max(accuracy >= 2 ? 10 : accuracy == 1 ? 100 : 1000, frame);
        const std::vector<pid_t> floorLoops = busy ? startBusyLoops() : std::vector<pid_t>{};
        QTimer idle;
        idle.setTimerType(Qt::PreciseTimer);
        int wakeUps = 0;
        QObject::connect(&idle, &QTimer::timeout, [&wakeUps] { ++wakeUps; });
        idle.start(step);
        const double cpu2 = cpuSeconds();
        QElapsedTimer floor;
        floor.start();
        runFor(seconds * 1000);
        const double used = cpuSeconds() - cpu2;
        const double spent = static_cast<double>(floor.elapsed()) / 1000.0;
        stopBusyLoops(floorLoops);
        std::printf("%s, floor: the event loop woken every %d ms doing nothing (%d wake-ups), %.1f s: %.2f %% of one "
                    "core\n",
                    qgetenv("QT_QPA_PLATFORM").constData(), step, wakeUps, spent, 100.0 * used / spent);
    }
    return 0;
}
