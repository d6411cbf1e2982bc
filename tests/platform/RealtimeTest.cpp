// Real-time priority: the direct way under the limits of the process, and the way through the
// desktop's RealtimeKit service against a stand-in service on a private message bus (its refusals;
// the real daemon is checked by tools/rtkit-check.sh).

#include "Realtime.h"
#include "Wait.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace {

// The service as the desk meets it: each limit read with Get (no GetAll), one call that grants.
class FakeRealtimeKit : public QDBusVirtualObject {
public:
    QVariant maxPriority = 15; // an invalid value: Get fails for it
    QVariant rtTimeMax = qlonglong(150000);
    bool refuse = false;
    QList<QPair<qulonglong, uint>> calls;
    rlimit rtTimeAtCall{};

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        QDBusConnection bus(connection);
        const QList<QVariant> args = message.arguments();
        if (message.member() == QLatin1String("Get") && args.size() == 2
            && args[0].toString() == QLatin1String("org.freedesktop.RealtimeKit1")) {
            const QString name = args[1].toString();
            const QVariant value = name == QLatin1String("MaxRealtimePriority") ? maxPriority
                                   : name == QLatin1String("RTTimeUSecMax")      ? rtTimeMax
                                                                                 : QVariant();
            bus.send(value.isValid() ? message.createReply(QVariant::fromValue(QDBusVariant(value)))
                                     : message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("no such property")));
        } else if (message.member() == QLatin1String("MakeThreadRealtime") && args.size() == 2) {
            calls.append({args[0].toULongLong(), args[1].toUInt()});
            getrlimit(RLIMIT_RTTIME, &rtTimeAtCall);
            bus.send(refuse ? message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("not for you"))
                            : message.createReply());
        } else {
            bus.send(message.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("no such method")));
        }
        return true;
    }
};

std::optional<platform::RealtimeGrant> ask(platform::RealtimeScheduler &scheduler, long thread)
{
    std::optional<platform::RealtimeGrant> answer;
    scheduler.makeRealtime(thread, [&](platform::RealtimeGrant g) { answer = g; });
    waitUntil([&] { return answer.has_value(); }, 15000);
    return answer;
}

// The direct way in a child process limited to a real-time priority of rtprio and without any
// capability: 64 when it reported success, plus the priority when the process runs SCHED_FIFO;
// 255 when the limit could not be set.
int directlyLimitedTo(rlim_t rtprio)
{
    const pid_t child = fork();
    if (child == 0) {
        const rlimit limit{rtprio, rtprio};
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct none[2]{};
        if (setrlimit(RLIMIT_RTPRIO, &limit) != 0 || syscall(SYS_capset, &header, none) != 0)
            _exit(255);
        const bool granted = platform::SystemRealtimeScheduler::makeRealtimeDirectly(platform::currentThreadId());
        sched_param param{};
        const int policy = sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
        sched_getparam(0, &param);
        _exit((granted ? 64 : 0) + (policy == SCHED_FIFO ? param.sched_priority : 0));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(Realtime, DirectlyOnlyWhereTheSystemAllowsIt)
{
    // Without the right the request must report its failure, so that RealtimeKit is asked; with
    // a limit below the desk's priority the thread gets that limit.
    EXPECT_EQ(directlyLimitedTo(0), 0);
    // (Where the test may not raise its limit that far, those cases are left out.)
    if (const int limited = directlyLimitedTo(10); limited != 255) {
        EXPECT_EQ(limited, 64 + 10);
    }
    if (const int unlimited = directlyLimitedTo(99); unlimited != 255) {
        EXPECT_EQ(unlimited, 64 + platform::SystemRealtimeScheduler::kPriority);
    }

    // Here, with what the test runs with: Direct only when the thread really runs SCHED_FIFO.
    std::optional<platform::RealtimeGrant> answer;
    int policy = -1;
    std::thread([&] {
        if (platform::SystemRealtimeScheduler::makeRealtimeDirectly(platform::currentThreadId()))
            answer = platform::RealtimeGrant::Direct;
        policy = sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
    }).join();
    EXPECT_EQ(answer == platform::RealtimeGrant::Direct, policy == SCHED_FIFO);
}

TEST(Realtime, AskedOfTheDesktopServiceWithinItsLimits)
{
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                              QStringLiteral("--print-address")});
    if (!bus.waitForStarted(5000))
        GTEST_SKIP() << "no dbus-daemon";
    ASSERT_TRUE(bus.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();
    // The desk reaches the service on the system bus; here that is the private one.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
    {
        QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("fake-rtkit"));
        ASSERT_TRUE(service.isConnected());
        FakeRealtimeKit kit;
        ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.RealtimeKit1")));
        ASSERT_TRUE(service.registerVirtualObject(QStringLiteral("/org/freedesktop/RealtimeKit1"), &kit));
        platform::SystemRealtimeScheduler scheduler(false);

        EXPECT_EQ(ask(scheduler, 4711), platform::RealtimeGrant::RealtimeKit);
        ASSERT_EQ(kit.calls.size(), 1);
        EXPECT_EQ(kit.calls[0].first, 4711u);
        EXPECT_EQ(kit.calls[0].second, 15u); // the service's highest priority, below the desk's own
        // The service grants only to a process whose real-time CPU limit lies within its own.
        EXPECT_LE(kit.rtTimeAtCall.rlim_max, 150000u);
        EXPECT_LE(kit.rtTimeAtCall.rlim_cur, 150000u);

        // Limits the service does not tell are its documented defaults; limits that leave nothing
        // to grant (or a CPU limit that could end the desk) are not asked for at all.
        struct Case {
            QVariant maxPriority, rtTimeMax;
            std::optional<uint> priorityAsked;
        };
        const Case cases[] = {
            {QVariant(), QVariant(), platform::SystemRealtimeScheduler::kPriority},
            {QVariant(), qlonglong(120000), platform::SystemRealtimeScheduler::kPriority},
            {QStringLiteral("15"), qlonglong(120000), platform::SystemRealtimeScheduler::kPriority},
            {25, qlonglong(120000), platform::SystemRealtimeScheduler::kPriority},
            {0, qlonglong(120000), std::nullopt},
            {15, qlonglong(5000), std::nullopt},
        };
        for (const Case &c : cases) {
            SCOPED_TRACE((c.maxPriority.toString() + QLatin1Char('/') + c.rtTimeMax.toString()).toStdString());
            kit.maxPriority = c.maxPriority;
            kit.rtTimeMax = c.rtTimeMax;
            kit.calls.clear();
            const auto answer = ask(scheduler, 4712);
            if (c.priorityAsked) {
                EXPECT_EQ(answer, platform::RealtimeGrant::RealtimeKit);
                ASSERT_EQ(kit.calls.size(), 1);
                EXPECT_EQ(kit.calls[0].second, *c.priorityAsked);
            } else {
                EXPECT_EQ(answer, platform::RealtimeGrant::Denied);
                EXPECT_TRUE(kit.calls.isEmpty());
            }
        }
        EXPECT_LE(kit.rtTimeAtCall.rlim_max, 120000u);

        kit.maxPriority = 15;
        kit.rtTimeMax = qlonglong(150000);
        kit.refuse = true;
        EXPECT_EQ(ask(scheduler, 4713), platform::RealtimeGrant::Denied);

        // No such service on the bus: refused, not waited for.
        service.unregisterService(QStringLiteral("org.freedesktop.RealtimeKit1"));
        EXPECT_EQ(ask(scheduler, 4714), platform::RealtimeGrant::Denied);
        service.unregisterObject(QStringLiteral("/org/freedesktop/RealtimeKit1"));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-rtkit"));
    bus.kill();
    bus.waitForFinished(5000);
}
