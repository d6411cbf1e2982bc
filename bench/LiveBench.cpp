// The live view end to end: from a light barrier's edge to the event at 64 browsers, and the
// desk's CPU while a race runs with 64 pages following it.
//
// A second process plays the light barriers (four virtual serial ports: the start contact and ten
// lane lines) and 64 event-stream clients, read with one epoll loop; it records when it changes a
// line and when each client has the heat event that shows the change (both on CLOCK_MONOTONIC).
// The desk runs on a display (xcb: under Xvfb where there is none) with the real tick counter, ten
// lanes and a meeting of 100 entered heats with long names in its table, so that every stream also
// carries the meeting's events.
//
//   bench_live [--load] [--flood] [heats=20] [seconds=15]
//
// --load: two busy loops at normal priority (one per core) run beside it, as other programs do
// on a laptop. --flood: a client gone wrong sends without end on an event stream of its own,
// connecting again each time it is dropped. Part A times `heats` heats: the start contact, then the
// ten lane lines 60-160 ms apart, each edge only when every client has the one before; then
// "Eintragen" enters the heat (the desk stays on heat 100, entered again each time) and the meeting
// event reaches the pages. Part B: the desk's CPU while ten lanes run for `seconds`, with hundredths
// and with tenths, with the live view and 64 reading clients and without the live view.
//
// It measures the desk as an operator runs it, as an ordinary user, and refuses to run as root:
//
//   runuser -u USER -- xvfb-run -a build/bench/bench_live --load

#include "BenchLoad.h"
#include "EventStreams.h"
#include "FakePlatform.h"
#include "FormMain.h"
#include "GuardedApplication.h"
#include "LiveSnapshot.h"
#include "LiveView.h"
#include "RealPlatform.h"
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
#include <netinet/tcp.h>
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
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kClients = 64;
constexpr int kLanes = 10;
constexpr int kMeetingHeats = 100; // every heat the desk has
constexpr const char *kStreamRequest = "GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/event-stream\r\n\r\n";

std::int64_t nowNanos()
{
    return platform::monotonicNanos();
}

// The 64 pages: event streams read by one epoll loop. Each complete event is held against the
// awaited change; the first that shows it gives that client's delivery time.
class Pages {
public:

    bool open(int port)
    {
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        for (int i = 0; i < kClients; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            // Eight pages on each of eight hosts (127.0.0.2 ...): the desk serves one host eight at most.
            sockaddr_in own{};
            own.sin_family = AF_INET;
            own.sin_addr.s_addr = htonl(0x7f000002u + static_cast<std::uint32_t>(i / 8));
            ::bind(fd, reinterpret_cast<sockaddr *>(&own), sizeof own);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<std::uint16_t>(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
                return false;
            const std::string request = kStreamRequest;
            if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
                return false;
            epoll_event e{};
            e.events = EPOLLIN;
            e.data.u32 = static_cast<std::uint32_t>(i);
            ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e);
            fds_.push_back(fd);
        }
        buffers_.resize(kClients);
        done_.assign(kClients, 0);
        at_.assign(kClients, 0);
        awaited_ = Awaited::Meeting; // awaited first: the whole picture, the meeting following the heat
        edge_ = nowNanos();
        reader_ = std::thread([this] { run(); });
        return true;
    }

    ~Pages()
    {
        stop_ = true;
        if (reader_.joinable())
            reader_.join();
        for (int fd : fds_)
            ::close(fd);
        if (epoll_ >= 0)
            ::close(epoll_);
    }

    // From now on, await `what` (for LanePlaced: of `lane`), counted from `edge`.
    void await(Awaited what, int lane, std::int64_t edge)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        awaited_ = what;
        lane_ = lane;
        edge_ = edge;
        done_.assign(kClients, 0);
        matched_ = 0;
    }

    // Waits until every client has it or the time is up; the delivery times (ms) of those that have.
    std::vector<double> collect(int timeoutMs)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (matched_.load() < kClients && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<double> ms;
        for (int i = 0; i < kClients; ++i)
            if (done_[static_cast<size_t>(i)])
                ms.push_back(static_cast<double>(at_[static_cast<size_t>(i)] - edge_) / 1e6);
        awaited_ = Awaited::Any;
        return ms;
    }

    // The largest heat event and meeting event any page has received, in bytes.
    std::size_t largestHeat() const { return largestHeat_; }
    std::size_t largestMeeting() const { return largestMeeting_; }

private:
    void run()
    {
        epoll_event events[kClients];
        std::vector<char> chunk(1 << 20);
        while (!stop_) {
            const int n = ::epoll_wait(epoll_, events, kClients, 50);
            for (int k = 0; k < n; ++k) {
                const std::size_t i = events[k].data.u32;
                std::string &b = buffers_[i];
                for (;;) {
                    const ssize_t got = ::recv(fds_[i], chunk.data(), chunk.size(), MSG_DONTWAIT);
                    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fds_[i], nullptr); // the stream has ended
                        break;
                    }
                    if (got < 0)
                        break;
                    b.append(chunk.data(), static_cast<size_t>(got));
                }
                const std::int64_t now = nowNanos();
                // Complete events: "event: TYPE\ndata: {...}\n\n" (the answer's head before the first).
                std::size_t from = 0;
                for (;;) {
                    const std::size_t start = b.find("event: ", from);
                    if (start == std::string::npos)
                        break;
                    const std::size_t end = b.find("\n\n", start);
                    if (end == std::string::npos)
                        break;
                    from = end + 2;
                    const std::size_t data = b.find("data: ", start);
                    if (data == std::string::npos || data > end)
                        continue;
                    const bool heat = b.compare(start, 12, "event: heat\n") == 0;
                    const bool meeting = b.compare(start, 15, "event: meeting\n") == 0;
                    if (!heat && !meeting)
                        continue; // the desk's clock
                    const std::string_view json(b.data() + data + 6, end - data - 6);
                    std::atomic<std::size_t> &largest = heat ? largestHeat_ : largestMeeting_;
                    if (json.size() > largest)
                        largest = json.size();
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
    std::vector<int> fds_;
    std::vector<std::string> buffers_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    Awaited awaited_ = Awaited::Any;
    int lane_ = 0;
    std::int64_t edge_ = 0;
    std::vector<char> done_;
    std::vector<std::int64_t> at_;
    std::atomic<int> matched_{0};
    std::atomic<std::size_t> largestHeat_{0};
    std::atomic<std::size_t> largestMeeting_{0};
};

// A client gone wrong: it opens an event stream from an address of its own and then sends without
// end; each time the desk drops it, it connects again. Counts how often it was dropped.
class Flooder {
public:
    explicit Flooder(int port) : thread_([this, port] { run(port); }) {}
    ~Flooder()
    {
        stop_ = true;
        thread_.join();
    }
    int dropped() const { return dropped_; }

private:
    void run(int port)
    {
        const std::string junk(65536, 'x');
        while (!stop_) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in own{};
            own.sin_family = AF_INET;
            own.sin_addr.s_addr = htonl(0x7f000063u); // 127.0.0.99
            ::bind(fd, reinterpret_cast<sockaddr *>(&own), sizeof own);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<std::uint16_t>(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            timeval patience{0, 200000}; // a send that blocks this long is retried after a check of stop_
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
            if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
                const std::string request = kStreamRequest;
                ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
                for (;;) {
                    const ssize_t n = ::send(fd, junk.data(), junk.size(), MSG_NOSIGNAL);
                    if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR))) {
                        if (stop_)
                            break;
                        continue;
                    }
                    ++dropped_;
                    break;
                }
            }
            ::close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<int> dropped_{0};
    std::thread thread_;
};

// The light barriers and the pages. Reports its delivery times on `toDesk` once the heats are
// run; asks the desk to enter each heat and waits for its answer.
int barriersAndPages(const QString &folder, int toDesk, int fromDesk, int heats, bool flood)
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
    int port = 0;
    if (!readAll(fromDesk, &port, sizeof port))
        return 1;
    Pages pages;
    if (!pages.open(port)) {
        std::fprintf(stderr, "the pages could not connect\n");
        return 1;
    }
    if (const std::size_t n = pages.collect(20000).size(); n != kClients) {
        std::fprintf(stderr, "only %zu of %d pages have the heat and the meeting\n", n, kClients);
        return 1;
    }
    std::unique_ptr<Flooder> flooder = flood ? std::make_unique<Flooder>(port) : nullptr;

    // Lane n's line: port 1 DCD is lane 1; ports 2..4 carry DCD, DSR, CTS for three lanes each.
    auto lane = [&](int n) -> std::pair<platform::VirtualLineServer *, unsigned> {
        if (n == 1)
            return {ports[0].get(), platform::LineDcd};
        const int port = (n - 2) / 3 + 1, which = (n - 2) % 3;
        const unsigned lines[] = {platform::LineDcd, platform::LineDsr, platform::LineCts};
        return {ports[static_cast<size_t>(port)].get(), lines[which]};
    };
    std::mt19937 random(11);
    std::vector<double> stops, starts, entries;
    int lost = 0;
    for (int h = 0; h < heats; ++h) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pages.await(Awaited::Running, 0, nowNanos());
        ports[0]->set(platform::LineDsr, true); // the start contact closes
        std::vector<double> got = pages.collect(5000);
        lost += kClients - static_cast<int>(got.size());
        starts.insert(starts.end(), got.begin(), got.end());
        std::vector<int> order(kLanes);
        for (int i = 0; i < kLanes; ++i)
            order[static_cast<size_t>(i)] = i + 1;
        std::shuffle(order.begin(), order.end(), random);
        for (int n : order) {
            std::this_thread::sleep_for(std::chrono::milliseconds(60 + static_cast<int>(random() % 100)));
            auto [line, bit] = lane(n);
            pages.await(Awaited::LanePlaced, n, nowNanos());
            line->set(bit, true); // the runner breaks the beam
            got = pages.collect(5000);
            lost += kClients - static_cast<int>(got.size());
            stops.insert(stops.end(), got.begin(), got.end());
        }
        ports[0]->set(platform::LineDsr, false);
        // The runners have passed: every beam is clear again before the next start (a beam still
        // interrupted at the start would have its clearing stop nothing).
        for (int n = 1; n <= kLanes; ++n) {
            auto [line, bit] = lane(n);
            line->set(bit, false);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pages.await(Awaited::Meeting, 0, nowNanos());
        const char enter = 'E';
        writeAll(toDesk, &enter, 1);
        char answer;
        if (!readAll(fromDesk, &answer, 1))
            return 1;
        got = pages.collect(5000);
        lost += kClients - static_cast<int>(got.size());
        entries.insert(entries.end(), got.begin(), got.end());
    }
    const Stats s = stats(stops), t = stats(starts), e = stats(entries);
    const double figures[] = {s.median, s.p99, s.max, static_cast<double>(s.count), t.median, t.p99, t.max,
                              static_cast<double>(lost), e.median, e.p99, e.max,
                              static_cast<double>(pages.largestHeat()), static_cast<double>(pages.largestMeeting()),
                              flooder ? static_cast<double>(flooder->dropped()) : -1.0};
    flooder.reset();
    const char done = 'D';
    writeAll(toDesk, &done, 1);
    writeAll(toDesk, figures, sizeof figures);
    // The pages keep reading while the desk measures its CPU, until the desk closes the pipe.
    char end;
    readAll(fromDesk, &end, 1);
    return 0;
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
double raceCpu(TFormMain &f, int accuracy, int seconds)
{
    if (f.bProtokoll->isEnabled())
        f.bProtokoll->click(); // the race before goes into the table, the desk is ready
    f.Model.setAccuracy(accuracy);
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
    bool load = false, flood = false;
    std::vector<int> numbers;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--load") == 0)
            load = true;
        else if (std::strcmp(argv[i], "--flood") == 0)
            flood = true;
        else
            numbers.push_back(std::atoi(argv[i]));
    }
    // An operator runs the desk as an ordinary user, on a display: so is it measured.
    if (::geteuid() == 0) {
        std::fprintf(stderr,
                     "bench_live measures the desk as an operator runs it and does not run as root.\n"
                     "Run it as an ordinary user (the build folder readable by that user), e.g.:\n"
                     "  useradd -m zkbench   # once, where there is no such user\n"
                     "  runuser -u zkbench -- xvfb-run -a %s%s\n",
                     argv[0], load ? " --load" : "");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    if (qgetenv("QT_QPA_PLATFORM") == "xcb" && qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "bench_live needs a display; where there is none, run it under Xvfb:\n"
                             "  xvfb-run -a %s%s\n",
                     argv[0], load ? " --load" : "");
        return 2;
    }
    const int heats = numbers.size() > 0 ? numbers[0] : 20;
    const int seconds = numbers.size() > 1 ? numbers[1] : 15;

    std::vector<pid_t> busy;
    struct EndLoad {
        std::vector<pid_t> &pids;
        ~EndLoad()
        {
            for (pid_t p : pids) {
                ::kill(p, SIGKILL);
                ::waitpid(p, nullptr, 0);
            }
        }
    } endLoad{busy};
    if (load) {
        for (int i = 0; i < 2; ++i) {
            const pid_t p = ::fork();
            if (p == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives the benchmark
                volatile std::uint64_t spin = 0;
                for (;;)
                    spin = spin + 1;
            }
            busy.push_back(p);
        }
    }

    QTemporaryDir folder;
    int toDesk[2], fromDesk[2];
    if (::pipe(toDesk) != 0 || ::pipe(fromDesk) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(toDesk[0]);
        ::close(fromDesk[1]);
        _exit(barriersAndPages(folder.path(), toDesk[1], fromDesk[0], heats, flood));
    }
    ::close(toDesk[1]);
    ::close(fromDesk[0]);

    platform::GuardedApplication::prepareDisplay(); // as the desk prepares its display
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

    // A meeting of 100 entered heats with long names, all in one ranking across the heats: every
    // heat the desk has. The desk stays on heat 100, entered anew after each timed race.
    meeting::Record &table = f.Model.recordToWrite();
    table.setRowCount(TFormMain::HeatHeaderRow(kMeetingHeats + 1, kLanes));
    table.setCell(0, 0, QStringLiteral("Hallensportfest Musterstadt"));
    for (int h = 1; h <= kMeetingHeats; ++h) {
        const int header = TFormMain::HeatHeaderRow(h, kLanes);
        table.setCell(0, header, QString::number(h));
        table.setCell(1, header, QStringLiteral("Vorlauf"));
        table.setCell(2, header, QStringLiteral("60 m"));
        table.setCell(3, header, QStringLiteral("Frauen"));
        for (int lane = 1; lane <= kLanes; ++lane) {
            table.setCell(0, header + lane, QStringLiteral("%1.").arg(lane));
            table.setCell(1, header + lane, QString::number(1000 + 10 * h + lane));
            table.setCell(2, header + lane,
                           QStringLiteral("Maximiliane-Friederike von Hohenberg-Langenstein %1-%2").arg(h).arg(lane));
            table.setCell(4, header + lane, QStringLiteral("LG Musterstadt-Beispielhausen"));
            table.setCell(5, header + lane, QStringLiteral("7,%1").arg(10 + lane));
            table.setCell(6, header + lane, QString::number(lane));
        }
        table.entered.append(h);
    }
    table.lastEntered = kMeetingHeats;
    f.ShowTable();
    f.seLauf->setValue(kMeetingHeats);

    live::LiveView view(f);
    f.LiveSettings = {true, 0, QStringLiteral("127.0.0.1")};
    view.apply();
    if (!view.isServing()) {
        std::fprintf(stderr, "the live view did not start\n");
        return 1;
    }
    const live::Snapshot snapshot = live::SnapshotOf(f.Model);
    std::printf("%s%s; platform %s; %d clients; meeting of %d entered heats of %d lanes: state %d bytes "
                "(heat %d, meeting %d)\n",
                load ? "two busy loops beside the desk" : "no busy loops", flood ? ", a flooding client" : "",
                qPrintable(QGuiApplication::platformName()), kClients, kMeetingHeats, kLanes,
                static_cast<int>(snapshot.toJson().size()), static_cast<int>(snapshot.heatMembers().size()),
                static_cast<int>(snapshot.meetingMembers().size()));
    std::fflush(stdout);
    const int port = view.port();
    writeAll(fromDesk[1], &port, sizeof port);

    // Part A: the heats, entered one after the other as the pages ask.
    double figures[14] = {};
    {
        QEventLoop loop;
        QSocketNotifier asks(toDesk[0], QSocketNotifier::Read);
        QObject::connect(&asks, &QSocketNotifier::activated, [&] {
            char what = 0;
            if (!readAll(toDesk[0], &what, 1) || what == 'D') {
                if (what == 'D')
                    readAll(toDesk[0], figures, sizeof figures);
                loop.quit();
                return;
            }
            f.bProtokoll->click(); // "Eintragen": the heat goes into the table, the desk is ready
            const char answer = 'e';
            writeAll(fromDesk[1], &answer, 1);
        });
        loop.exec();
    }
    std::printf("A  stop edge -> event at each of %d clients: median %.1f ms  p99 %.1f ms  max %.1f ms  "
                "(%.0f deliveries, %.0f missing)\n",
                kClients, figures[0], figures[1], figures[2], figures[3], figures[7]);
    std::printf("   start edge -> event (the start waits 200 ms by design): median %.1f ms  p99 %.1f ms  max %.1f ms\n",
                figures[4], figures[5], figures[6]);
    std::printf("   Eintragen -> meeting event: median %.1f ms  p99 %.1f ms  max %.1f ms\n", figures[8], figures[9],
                figures[10]);
    std::printf("   largest event received: heat %.0f bytes, meeting %.0f bytes\n", figures[11], figures[12]);
    if (flood)
        std::printf("   the flooding client was dropped %.0f times\n", figures[13]);
    std::printf("   event streams open: %d\n", view.server()->streamCount());
    std::fflush(stdout);

    // Part B: CPU while ten lanes run, with the 64 pages following and with the view off.
    const double onHundredths = raceCpu(f, 2, seconds);
    const double onTenths = raceCpu(f, 1, seconds);
    const int streams = view.server()->streamCount();
    f.LiveSettings.On = false;
    view.apply();
    const double offHundredths = raceCpu(f, 2, seconds);
    const double offTenths = raceCpu(f, 1, seconds);
    std::printf("B  CPU, %d lanes running %d s, share of one core:  live view on with %d streams / off\n", kLanes,
                seconds, streams);
    std::printf("   hundredths  %5.2f %%  /  %5.2f %%\n", onHundredths, offHundredths);
    std::printf("   tenths      %5.2f %%  /  %5.2f %%\n", onTenths, offTenths);

    ::close(fromDesk[1]);
    ::waitpid(child, nullptr, 0);
    return 0;
}
