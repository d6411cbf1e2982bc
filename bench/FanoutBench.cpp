// The live view for a whole stadium, measured: nginx with its nchan module in front of N
// event-stream clients, the desk publishing to it, from a light barrier's edge to the event at
// every client.
//
// nginx runs as an ordinary process on loopback, in a prefix folder of its own, with the site
// configuration the package ships (its port and page folder rewritten; tests/live/NginxFanOut.h).
// A second process plays the light barriers (four virtual serial ports: the start contact and ten
// lane lines) and the clients: one epoll loop over N streams spread over 127.0.0.2 .. 127.0.0.101;
// it records when it changes a line and when each client has the heat event that shows it (both on
// CLOCK_MONOTONIC). The desk runs on a display (xcb: under Xvfb) with the real tick counter, ten
// lanes and a meeting of 100 entered heats; its own server is off, it only publishes.
//
// For each N (0 first, as the baseline): `heats` heats are timed, each edge only once every client
// has the one before, and "Eintragen" sends the meeting; then the desk's CPU is taken while ten
// lanes run for `seconds` with the N clients connected, and nginx's memory. Every lane time the
// desk stored is compared with the true interval between its edges.
//
//   bench_fanout [--load] [--workers=1] [heats=5] [seconds=10] [N ...]   (N: 64 1000 5000 by default)
//
// --load: one busy loop per core at normal priority beside it, as on a laptop. --workers: nginx's
// worker processes (one, as the README asks for the stands; with two, nchan gives some streams that
// connect while thousands do none of the stored messages of the other worker's channels). 5,000 clients need
// about 10,300 file descriptors in this process and as many in nginx (ulimit -n; the hard limit
// is raised to, never beyond). It measures the desk as an operator runs it and refuses root:
//
//   chmod -R o+rX build && runuser -u zkbench -- xvfb-run -a build/bench/bench_fanout --load

#include "BenchLoad.h"
#include "EventStreams.h"
#include "FakePlatform.h"
#include "FormMain.h"
#include "Label3D.h"
#include "LiveView.h"
#include "NginxFanOut.h"
#include "RealPlatform.h"
#include "SortGrid.h"
#include "VirtualLines.h"

#include "LbSpeedButton.h"
#include "SpinEdit.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kLanes = 10;
constexpr int kMeetingHeats = 100;
constexpr const char *kStreamRequest = "GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/event-stream\r\n\r\n";

std::int64_t nowNanos()
{
    return platform::monotonicNanos();
}

// N event streams read by one epoll loop. Each complete event is held against the awaited change;
// the first that shows it gives that client's delivery time.
class Clients {
public:

    // Connects n streams; false when not all of them could be opened.
    bool open(int port, int n)
    {
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        buffers_.resize(static_cast<size_t>(n));
        received_.assign(static_cast<size_t>(n), 0);
        events_.assign(static_cast<size_t>(n), 0);
        done_.assign(static_cast<size_t>(n), 0);
        at_.assign(static_cast<size_t>(n), 0);
        awaited_ = Awaited::Meeting;
        edge_ = nowNanos();
        reader_ = std::thread([this] { run(); });
        for (int i = 0; i < n; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0)
                return false;
            sockaddr_in own{};
            own.sin_family = AF_INET;
            own.sin_addr.s_addr = htonl(0x7f000002u + static_cast<std::uint32_t>(i % 100));
            ::bind(fd, reinterpret_cast<sockaddr *>(&own), sizeof own);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<std::uint16_t>(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
                ::close(fd);
                return false;
            }
            const std::string request = kStreamRequest;
            if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
                return false;
            {
                std::lock_guard<std::mutex> lock(fdsMutex_);
                fds_.push_back(fd);
            }
            epoll_event e{};
            e.events = EPOLLIN;
            e.data.u32 = static_cast<std::uint32_t>(i);
            ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e);
        }
        return true;
    }

    ~Clients()
    {
        stop_ = true;
        if (reader_.joinable())
            reader_.join();
        for (int fd : fds_)
            ::close(fd);
        if (epoll_ >= 0)
            ::close(epoll_);
    }

    int size() const { return static_cast<int>(buffers_.size()); }

    // What a client that does not have the awaited change has received: for the report of a failure.
    std::string missing()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t i = 0; i < done_.size(); ++i)
            if (!done_[i])
                return "client " + std::to_string(i) + ": " + std::to_string(received_[i]) + " bytes, "
                       + std::to_string(events_[i]) + " events, pending \"" + buffers_[i].substr(0, 200) + "\"";
        return {};
    }

    void await(Awaited what, int lane, std::int64_t edge)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        awaited_ = what;
        lane_ = lane;
        edge_ = edge;
        done_.assign(done_.size(), 0);
        matched_ = 0;
    }

    // Waits until every client has it or the time is up; the delivery times (ms) of those that have.
    std::vector<double> collect(int timeoutMs)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (matched_.load() < size() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<double> ms;
        for (size_t i = 0; i < done_.size(); ++i)
            if (done_[i])
                ms.push_back(static_cast<double>(at_[i] - edge_) / 1e6);
        awaited_ = Awaited::Any;
        return ms;
    }

private:
    void run()
    {
        std::vector<epoll_event> events(1024);
        std::vector<char> chunk(1 << 20);
        while (!stop_) {
            const int n = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 50);
            for (int k = 0; k < n; ++k) {
                const std::size_t i = events[static_cast<size_t>(k)].data.u32;
                int fd;
                {
                    std::lock_guard<std::mutex> lock(fdsMutex_);
                    fd = fds_[i];
                }
                std::string &b = buffers_[i];
                for (;;) {
                    const ssize_t got = ::recv(fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
                    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
                        break;
                    }
                    if (got < 0)
                        break;
                    b.append(chunk.data(), static_cast<size_t>(got));
                    received_[i] += static_cast<std::size_t>(got);
                }
                const std::int64_t now = nowNanos();
                // Complete events: "event: TYPE\nid: ...\ndata: {...}\n\n".
                std::size_t from = 0;
                for (;;) {
                    const std::size_t start = b.find("event: ", from);
                    if (start == std::string::npos)
                        break;
                    const std::size_t end = b.find("\n\n", start);
                    if (end == std::string::npos)
                        break;
                    from = end + 2;
                    ++events_[i];
                    const std::size_t data = b.find("\ndata: ", start);
                    if (data == std::string::npos || data > end)
                        continue;
                    const bool heat = b.compare(start, 12, "event: heat\n") == 0;
                    const bool meeting = b.compare(start, 15, "event: meeting\n") == 0;
                    if (!heat && !meeting)
                        continue; // the desk's clock
                    const std::string_view json(b.data() + data + 7, end - data - 7);
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (!done_[i] && eventShows(awaited_, lane_, heat, json)) {
                        done_[i] = 1;
                        at_[i] = now;
                        ++matched_;
                    }
                }
                b.erase(0, from);
            }
        }
    }

    int epoll_ = -1;
    std::mutex fdsMutex_;
    std::vector<int> fds_;
    std::vector<std::string> buffers_;
    std::vector<std::size_t> received_;
    std::vector<int> events_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    Awaited awaited_ = Awaited::Any;
    int lane_ = 0;
    std::int64_t edge_ = 0;
    std::vector<char> done_;
    std::vector<std::int64_t> at_;
    std::atomic<int> matched_{0};
};

// What the barriers' process reports for one N.
struct Figures {
    double stopMedian, stopP99, stopMax, stopCount, missing;
    double meetingMedian, meetingP99, meetingMax;
};

// The light barriers and the clients, for each N the desk asks for (a negative N ends it). Per
// heat it sends the desk the edges' instants ('H', then start and ten stops in lane order) and
// waits for its answer, which comes once the heat is entered.
int barriersAndClients(const QString &folder, int nginxPort, int toDesk, int fromDesk, int heats)
{
    std::vector<std::unique_ptr<platform::VirtualLineServer>> ports;
    for (int n = 1; n <= 4; ++n) {
        ports.push_back(std::make_unique<platform::VirtualLineServer>(
            QStringLiteral("%1/com%2").arg(folder).arg(n).toStdString()));
        if (!ports.back()->start())
            return 1;
    }
    for (auto &p : ports)
        if (!p->waitForDesk(30000)) {
            std::fprintf(stderr, "the desk did not open its ports\n");
            return 1;
        }
    auto lane = [&](int n) -> std::pair<platform::VirtualLineServer *, unsigned> {
        if (n == 1)
            return {ports[0].get(), platform::LineDcd};
        const int port = (n - 2) / 3 + 1, which = (n - 2) % 3;
        const unsigned lines[] = {platform::LineDcd, platform::LineDsr, platform::LineCts};
        return {ports[static_cast<size_t>(port)].get(), lines[which]};
    };
    std::mt19937 random(11);
    for (;;) {
        int n = 0;
        if (!readAll(fromDesk, &n, sizeof n) || n < 0)
            return 0;
        Clients clients;
        int ready = 0;
        if (n > 0 && clients.open(nginxPort, n))
            ready = static_cast<int>(clients.collect(60000).size());
        writeAll(toDesk, &ready, sizeof ready);
        if (ready != n) {
            std::fprintf(stderr, "%s\n", clients.missing().c_str());
            return 1;
        }
        // Waits for every client, or a while when there are none.
        auto collect = [&](int timeoutMs) {
            if (n == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                return std::vector<double>{};
            }
            return clients.collect(timeoutMs);
        };
        std::vector<double> stops, entries;
        int missing = 0;
        for (int h = 0; h < heats; ++h) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            std::int64_t edges[1 + kLanes] = {};
            clients.await(Awaited::Running, 0, edges[0] = nowNanos());
            ports[0]->set(platform::LineDsr, true); // the start contact closes
            missing += n - static_cast<int>(collect(5000).size());
            std::vector<int> order(kLanes);
            for (int i = 0; i < kLanes; ++i)
                order[static_cast<size_t>(i)] = i + 1;
            std::shuffle(order.begin(), order.end(), random);
            for (int l : order) {
                std::this_thread::sleep_for(std::chrono::milliseconds(60 + static_cast<int>(random() % 100)));
                auto [line, bit] = lane(l);
                clients.await(Awaited::LanePlaced, l, edges[l] = nowNanos());
                line->set(bit, !(line->levels() & bit)); // any edge of a lane line stops the lane
                std::vector<double> got = collect(5000);
                missing += n - static_cast<int>(got.size());
                stops.insert(stops.end(), got.begin(), got.end());
            }
            ports[0]->set(platform::LineDsr, false);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            clients.await(Awaited::Meeting, 0, nowNanos());
            const char heat = 'H';
            writeAll(toDesk, &heat, 1);
            writeAll(toDesk, edges, sizeof edges);
            char answer;
            if (!readAll(fromDesk, &answer, 1))
                return 1;
            std::vector<double> got = collect(20000);
            missing += n - static_cast<int>(got.size());
            entries.insert(entries.end(), got.begin(), got.end());
        }
        const Stats s = stats(stops), e = stats(entries);
        const Figures f{s.median, s.p99, s.max, static_cast<double>(s.count), static_cast<double>(missing),
                        e.median, e.p99, e.max};
        const char done = 'D';
        writeAll(toDesk, &done, 1);
        writeAll(toDesk, &f, sizeof f);
        // The clients stay while the desk measures its CPU, until it says 'C'.
        char close;
        if (!readAll(fromDesk, &close, 1))
            return 0;
    }
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
           + static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Share of one core the desk takes while ten lanes run for `seconds`.
double raceCpu(TFormMain &f, int seconds)
{
    if (f.bProtokoll->isEnabled())
        f.bProtokoll->click();
    runFor(300);
    f.mStart->trigger();
    runFor(500);
    const double cpu0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    runFor(seconds * 1000);
    const double cpu = cpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    f.mStop->trigger();
    runFor(200);
    return 100.0 * cpu / wall;
}

} // namespace

int main(int argc, char **argv)
{
    bool load = false;
    int workers = 1;
    std::vector<int> numbers, counts;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--load") == 0)
            load = true;
        else if (std::strncmp(argv[i], "--workers=", 10) == 0)
            workers = std::max(1, std::atoi(argv[i] + 10));
        else
            numbers.push_back(std::atoi(argv[i]));
    }
    if (::geteuid() == 0) {
        std::fprintf(stderr,
                     "bench_fanout measures the desk as an operator runs it and does not run as root.\n"
                     "Run it as an ordinary user (the build folder readable by that user), e.g.:\n"
                     "  chmod -R o+rX build && runuser -u zkbench -- xvfb-run -a %s --load\n",
                     argv[0]);
        return 2;
    }
    if (!NginxFanOut::available()) {
        std::fprintf(stderr, "bench_fanout needs Debian's nginx and libnginx-mod-nchan:\n"
                             "  apt-get install nginx libnginx-mod-nchan\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    if (qgetenv("QT_QPA_PLATFORM") == "xcb" && qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "bench_fanout needs a display; where there is none, run it under Xvfb:\n"
                             "  xvfb-run -a %s\n",
                     argv[0]);
        return 2;
    }
    const int heats = numbers.size() > 0 ? numbers[0] : 5;
    const int seconds = numbers.size() > 1 ? numbers[1] : 10;
    for (size_t i = 2; i < numbers.size(); ++i)
        counts.push_back(numbers[i]);
    if (counts.empty())
        counts = {64, 1000, 5000};
    counts.insert(counts.begin(), 0); // the baseline: the desk publishing, nobody reading
    const int most = *std::max_element(counts.begin(), counts.end());

    // Every client is a descriptor here and one in nginx (beside its listening and its own).
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    const rlim_t needed = static_cast<rlim_t>(most) * 2 + 300;
    files.rlim_cur = std::min(std::max(files.rlim_cur, needed), files.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < needed) {
        std::fprintf(stderr, "%d clients need %lu file descriptors, the limit is %lu: raise it (ulimit -n) or ask for fewer\n",
                     most, static_cast<unsigned long>(needed), static_cast<unsigned long>(files.rlim_cur));
        return 2;
    }

    std::vector<pid_t> busy;
    struct EndLoad {
        std::vector<pid_t> &pids;
        ~EndLoad() { stopBusyLoops(pids); }
    } endLoad{busy};
    if (load)
        busy = startBusyLoops();

    QTemporaryDir folder;
    QTemporaryDir prefix;
    NginxFanOut nginx(prefix.path(), QStringLiteral(ZK_SITE_CONF), QStringLiteral(ZK_LIVE_PAGES), most + 512, workers);
    if (!nginx.start()) {
        std::fprintf(stderr, "nginx did not start: %s\n", qPrintable(nginx.error()));
        return 1;
    }
    int toDesk[2], fromDesk[2];
    if (::pipe(toDesk) != 0 || ::pipe(fromDesk) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::close(toDesk[0]);
        ::close(fromDesk[1]);
        _exit(barriersAndClients(folder.path(), nginx.port(), toDesk[1], fromDesk[0], heats));
    }
    ::close(toDesk[1]);
    ::close(fromDesk[0]);

    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    fake::Platform fp;
    platform::MonotonicTicks ticks;
    platform::LinuxSerialDevices devices(folder.path(), platform::DeviceTable{});
    platform::Platform services{ticks, fp.sound, fp.settings, fp.dialogs, fp.help, fp.fileTypes, devices, fp.spreadsheet, fp.realtime};
    fp.settings.keys[QStringLiteral("bench")] = {
        {"Left", 0}, {"Top", 0}, {"Height", 0}, {"Sound", 0}, {"Port1", 1}, {"Port2", 2}, {"Port3", 3},
        {"Port4", 4}, {"Alg", 0}, {"FilterInd", 1}, {"Monitor", 0}, {"Title", "Bench"}, {"LineCount", kLanes},
        {"Accuracy", 2}, {"OneLS", 0}};
    for (int i = 0; i < 500 && !QFileInfo::exists(folder.filePath(QStringLiteral("com4"))); ++i)
        QThread::msleep(10);
    TFormMain f(services, QStringLiteral("/tmp/bench"));
    f.show();

    // A meeting of 100 entered heats with long names; the desk stays on heat 100, entered anew
    // after each timed race.
    meeting::Record *grid = &f.Model.recordToWrite();
    grid->setRowCount(TFormMain::HeatHeaderRow(kMeetingHeats + 1, kLanes));
    grid->setCell(0, 0, QStringLiteral("Hallensportfest Musterstadt"));
    for (int h = 1; h <= kMeetingHeats; ++h) {
        const int header = TFormMain::HeatHeaderRow(h, kLanes);
        grid->setCell(0, header, QString::number(h));
        grid->setCell(1, header, QStringLiteral("Vorlauf"));
        grid->setCell(2, header, QStringLiteral("60 m"));
        grid->setCell(3, header, QStringLiteral("Frauen"));
        for (int l = 1; l <= kLanes; ++l) {
            grid->setCell(0, header + l, QStringLiteral("%1.").arg(l));
            grid->setCell(1, header + l, QString::number(1000 + 10 * h + l));
            grid->setCell(2, header + l, QStringLiteral("Maximiliane-Friederike von Hohenberg-Langenstein %1-%2").arg(h).arg(l));
            grid->setCell(4, header + l, QStringLiteral("LG Musterstadt-Beispielhausen"));
            grid->setCell(5, header + l, QStringLiteral("7,%1").arg(10 + l));
            grid->setCell(6, header + l, QString::number(l));
        }
        f.Model.recordToWrite().entered.append(h);
    }
    f.Model.recordToWrite().lastEntered = kMeetingHeats;
    f.seLauf->setValue(kMeetingHeats);

    live::LiveView view(f);
    f.LiveSettings.PublishUrl = QStringLiteral("http://127.0.0.1:%1/verteiler").arg(nginx.port());
    view.apply();
    std::printf("%s; platform %s; nginx (%d worker%s) with nchan on 127.0.0.1:%d; %d heats per N, CPU over %d s\n",
                load ? "busy loops on every core beside the desk" : "no busy loops",
                qPrintable(QGuiApplication::platformName()), workers, workers == 1 ? "" : "s", nginx.port(), heats, seconds);
    std::printf("%6s  %-36s  %-30s  %9s  %10s  %-28s\n", "N", "stop edge -> event: median/p99/max ms",
                "Eintragen -> meeting p99/max", "desk CPU", "nginx RSS", "lane times - edges: |err| ms");
    std::fflush(stdout);

    double baseline = -1;
    for (const int n : counts) {
        if (f.bProtokoll->isEnabled())
            f.bProtokoll->click(); // the race before into the table: the desk is ready for a start
        runFor(300);
        writeAll(fromDesk[1], &n, sizeof n);
        int ready = -1;
        // The desk's loop runs while the clients connect: the publisher's state is shown as usual.
        {
            QEventLoop loop;
            QSocketNotifier answered(toDesk[0], QSocketNotifier::Read);
            QObject::connect(&answered, &QSocketNotifier::activated, [&] {
                readAll(toDesk[0], &ready, sizeof ready);
                loop.quit();
            });
            loop.exec();
        }
        if (ready != n) {
            std::fprintf(stderr, "only %d of %d clients have the heat and the meeting\n%s\n", ready, n,
                         qPrintable(nginx.errorLog().right(2000)));
            return 1;
        }
        const long memory = nginx.memoryKiB();
        Figures figures{};
        std::vector<double> errors;
        {
            QEventLoop loop;
            QSocketNotifier asks(toDesk[0], QSocketNotifier::Read);
            QObject::connect(&asks, &QSocketNotifier::activated, [&] {
                char what = 0;
                if (!readAll(toDesk[0], &what, 1) || what == 'D') {
                    if (what == 'D')
                        readAll(toDesk[0], &figures, sizeof figures);
                    loop.quit();
                    return;
                }
                std::int64_t edges[1 + kLanes];
                readAll(toDesk[0], edges, sizeof edges);
                runFor(50); // the last stop's event reaches the desk's thread
                for (int l = 1; l <= kLanes; ++l) {
                    const std::int32_t desk = f.Line(l)->LabelTime->Tag();
                    const double truth = static_cast<double>(edges[l] - edges[0]) / 1e6;
                    errors.push_back(desk > 0 ? std::abs(desk - truth) : 1e9);
                }
                f.bProtokoll->click(); // "Eintragen": the heat goes into the table, the meeting out
                const char answer = 'e';
                writeAll(fromDesk[1], &answer, 1);
            });
            loop.exec();
        }
        const double cpu = raceCpu(f, seconds);
        if (n == 0)
            baseline = cpu;
        const char close = 'C';
        writeAll(fromDesk[1], &close, 1);
        const Stats e = stats(errors);
        char delivery[64] = "-", meeting[64] = "-";
        if (n > 0) {
            std::snprintf(delivery, sizeof delivery, "%6.1f / %6.1f / %6.1f  (%.0f missing)", figures.stopMedian,
                          figures.stopP99, figures.stopMax, figures.missing);
            std::snprintf(meeting, sizeof meeting, "%7.1f / %7.1f", figures.meetingP99, figures.meetingMax);
        }
        std::printf("%6d  %-36s  %-30s  %5.2f %%%s  %7ld KiB  p50 %.1f  p99 %.1f  max %.1f\n", n, delivery, meeting, cpu,
                    n == 0 ? "  " : (std::abs(cpu - baseline) <= 0.3 ? " =" : " !"), memory, e.median, e.p99, e.max);
        std::fflush(stdout);
    }
    const int end = -1;
    writeAll(fromDesk[1], &end, sizeof end);
    ::waitpid(child, nullptr, 0);
    std::printf("(\"=\": the desk's CPU within 0.3 points of the baseline without clients; a lane time is the\n"
                " desk's stored milliseconds against the true interval of its edges)\n");
    return 0;
}
