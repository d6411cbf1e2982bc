// Latency from a change of a virtual serial line to its handler on the UI thread, while the UI
// thread refreshes a running race clock every 10 ms, and from the change to the time the port's
// monitor thread stamped on its edge. Prints median, p99 and maximum over 1000 edges.

#include "Comms.h"
#include "FakePlatform.h"
#include "FormMain.h"
#include "RealPlatform.h"
#include "VirtualLines.h"

#include <QAction>
#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int edges = argc > 1 ? std::atoi(argv[1]) : 1000;

    fake::Platform fp;
    platform::MonotonicTicks ticks; // a real clock for the running race
    platform::Platform services{ticks,   fp.sound,      fp.settings,       fp.dialogs,
                                fp.help, fp.fileTypes, fp.serial.devices, fp.spreadsheet, fp.realtime};
    fp.settings.keys[QStringLiteral("bench")] = {{"Left", 0},  {"Top", 0},   {"Height", 0}, {"Sound", 0},
                                                 {"Port1", 1}, {"Port2", 0}, {"Port3", 0},  {"Port4", 0}};
    platform::VirtualLineServer server(fp.serial.socketFor(1));
    if (!server.start())
        return 1;

    TFormMain form(services, QStringLiteral("/tmp/bench"));
    if (!form.ComPort1->Connected() || !server.waitForDesk(2000)) {
        std::fprintf(stderr, "COM1 did not open\n");
        return 1;
    }
    form.show();
    form.mStart->trigger(); // the race clock runs from here on

    std::vector<Clock::time_point> sent(static_cast<std::size_t>(edges));
    std::vector<double> latencyUs;
    latencyUs.reserve(static_cast<std::size_t>(edges));
    std::atomic<int> next{0};
    std::vector<double> stampUs;
    stampUs.reserve(static_cast<std::size_t>(edges));
    QObject::connect(form.ComPort1, &TComPort::OnLineEdge, [&](TComPort *, platform::LineEdge edge) {
        // steady_clock is CLOCK_MONOTONIC here, the clock of the edge's nanos.
        const int i = next.load();
        if (edge.line == platform::EvCts && i < edges)
            stampUs.push_back(
                (edge.nanos - sent[static_cast<std::size_t>(i)].time_since_epoch().count()) / 1000.0);
    });
    QObject::connect(form.ComPort1, &TComPort::OnCTS, [&] {
        const auto now = Clock::now();
        const int i = next.fetch_add(1);
        if (i < edges)
            latencyUs.push_back(std::chrono::duration<double, std::micro>(now - sent[static_cast<std::size_t>(i)]).count());
        if (i + 1 == edges)
            QTimer::singleShot(20, &app, &QApplication::quit);
    });

    std::thread driver([&] {
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> gapMs(2, 8);
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the window is shown and painted first
        for (int i = 0; i < edges; ++i) {
            // Wait until the previous edge was handled, so every edge is one report.
            while (next.load() < i)
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMs(rng)));
            sent[static_cast<std::size_t>(i)] = Clock::now();
            server.set(platform::LineCts, (i % 2) == 0);
        }
    });
    QTimer::singleShot(120000, &app, &QApplication::quit);
    app.exec();
    driver.join();

    if (latencyUs.empty() || stampUs.empty())
        return 1;
    auto report = [](const char *what, std::vector<double> &us) {
        std::sort(us.begin(), us.end());
        auto at = [&](double q) { return us[static_cast<std::size_t>(q * static_cast<double>(us.size() - 1))]; };
        std::printf("%s: edges %zu  median %.1f us  p99 %.1f us  max %.1f us\n", what, us.size(), at(0.5),
                    at(0.99), us.back());
    };
    report("change -> handler", latencyUs);
    report("change -> edge time", stampUs);
    return 0;
}
