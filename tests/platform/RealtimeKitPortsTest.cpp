// The ports' watcher threads made real-time by the RealtimeKit daemon itself, as an ordinary user
// without the right to do so directly. Run by tools/rtkit-check.sh, which starts the daemon on a
// private system bus and tells this program what the daemon was set up to grant:
//   ZK_RTKIT_POLICY     RR or FIFO
//   ZK_RTKIT_PRIORITY   the priority the threads must get
//   ZK_RTKIT_RTTIME     the daemon's highest real-time CPU limit, microseconds

#include "Comms.h"
#include "RealPlatform.h"
#include "Realtime.h"
#include "VirtualLines.h"
#include "Wait.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>

#include <array>
#include <memory>
#include <optional>
#include <thread>

using namespace platform;

namespace platform {
void PrintTo(RealtimeGrant grant, std::ostream *out)
{
    *out << (grant == RealtimeGrant::Direct ? "Direct" : grant == RealtimeGrant::RealtimeKit ? "RealtimeKit" : "Denied");
}
} // namespace platform

TEST(RealtimeKitPorts, WatcherThreadsGetRealtimeFromTheDaemon)
{
    const QByteArray policyName = qgetenv("ZK_RTKIT_POLICY");
    if (policyName.isEmpty())
        GTEST_SKIP() << "run by tools/rtkit-check.sh, which starts the daemon";
    const int policy = policyName == "FIFO" ? SCHED_FIFO : SCHED_RR;
    const int priority = qEnvironmentVariableIntValue("ZK_RTKIT_PRIORITY");
    const auto rtTimeMax = static_cast<rlim_t>(qEnvironmentVariableIntValue("ZK_RTKIT_RTTIME"));

    // The direct way is closed to this user: the daemon is really asked.
    bool direct = true;
    std::thread([&] { direct = SystemRealtimeScheduler::makeRealtimeDirectly(currentThreadId()); }).join();
    ASSERT_FALSE(direct) << "this user may set SCHED_FIFO directly; the check must run without the right";

    QTemporaryDir folder;
    VirtualOnlySerialDevices devices(folder.path());
    SystemRealtimeScheduler scheduler;
    constexpr int kPorts = 4;
    std::array<std::unique_ptr<VirtualLineServer>, kPorts> lines;
    std::array<std::unique_ptr<TComPort>, kPorts> ports;
    std::array<std::optional<RealtimeGrant>, kPorts> grants;
    std::array<long, kPorts> threads{};
    for (int i = 0; i < kPorts; ++i) {
        lines[i] = std::make_unique<VirtualLineServer>(folder.filePath(QStringLiteral("com%1").arg(i + 1)).toStdString());
        ASSERT_TRUE(lines[i]->start());
        ports[i] = std::make_unique<TComPort>(nullptr, &devices);
        ports[i]->setPort(static_cast<quint8>(i + 1));
        ports[i]->Open();
        threads[i] = ports[i]->WatcherThreadId();
        ASSERT_NE(threads[i], 0);
        scheduler.makeRealtime(threads[i], [&grants, i](RealtimeGrant grant) { grants[i] = grant; });
    }
    ASSERT_TRUE(waitUntil([&] { return std::all_of(grants.begin(), grants.end(), [](auto &g) { return g.has_value(); }); },
                          30000));

    for (int i = 0; i < kPorts; ++i) {
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(grants[i], RealtimeGrant::RealtimeKit);
        sched_param param{};
        EXPECT_EQ(sched_getscheduler(static_cast<pid_t>(threads[i])), policy | SCHED_RESET_ON_FORK);
        ASSERT_EQ(sched_getparam(static_cast<pid_t>(threads[i]), &param), 0);
        EXPECT_EQ(param.sched_priority, priority);
        // The thread still stamps the line's edges.
        const unsigned seen = ports[i]->ReportsSeen();
        lines[i]->pulse(LineCts, 0);
        EXPECT_TRUE(waitUntil([&] { return ports[i]->ReportsSeen() > seen; }, 10000));
    }
    // The daemon grants only to a process whose real-time CPU limit lies within its own.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_RTTIME, &limit), 0);
    EXPECT_LE(limit.rlim_max, rtTimeMax);
    for (auto &port : ports)
        port->Close();
}
