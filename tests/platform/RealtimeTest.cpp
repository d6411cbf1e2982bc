// Real-time priority through the desktop's RealtimeKit service, against a stand-in service on a
// private message bus.

#include "Realtime.h"
#include "Wait.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace {

// The service's interface as the desk uses it: two limits and one call.
class FakeRealtimeKit : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.RealtimeKit1")
    Q_PROPERTY(int MaxRealtimePriority READ maxPriority)
    Q_PROPERTY(qlonglong RTTimeUSecMax READ rtTimeMax)
public:
    int maxPriority() const { return 15; }
    qlonglong rtTimeMax() const { return 150000; }
    bool refuse = false;
    QList<QPair<qulonglong, uint>> calls;
    rlimit rtTimeAtCall{};

public slots:
    void MakeThreadRealtime(qulonglong thread, uint priority)
    {
        calls.append({thread, priority});
        getrlimit(RLIMIT_RTTIME, &rtTimeAtCall);
        if (refuse)
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("not for you"));
    }
};

} // namespace

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
        ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/RealtimeKit1"), &kit,
                                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));

        platform::SystemRealtimeScheduler scheduler(false);
        std::optional<platform::RealtimeGrant> answer;
        scheduler.makeRealtime(4711, [&](platform::RealtimeGrant g) { answer = g; });
        ASSERT_TRUE(waitUntil([&] { return answer.has_value(); }, 10000));
        EXPECT_EQ(*answer, platform::RealtimeGrant::RealtimeKit);
        ASSERT_EQ(kit.calls.size(), 1);
        EXPECT_EQ(kit.calls[0].first, 4711u);
        EXPECT_EQ(kit.calls[0].second, 15u); // the service's highest priority, below the desk's own
        // The service grants only to a process whose real-time CPU limit lies within its own.
        EXPECT_LE(kit.rtTimeAtCall.rlim_max, 150000u);
        EXPECT_LE(kit.rtTimeAtCall.rlim_cur, 150000u);

        kit.refuse = true;
        answer.reset();
        scheduler.makeRealtime(4712, [&](platform::RealtimeGrant g) { answer = g; });
        ASSERT_TRUE(waitUntil([&] { return answer.has_value(); }, 10000));
        EXPECT_EQ(*answer, platform::RealtimeGrant::Denied);

        // No such service on the bus: refused, not waited for.
        service.unregisterService(QStringLiteral("org.freedesktop.RealtimeKit1"));
        answer.reset();
        scheduler.makeRealtime(4713, [&](platform::RealtimeGrant g) { answer = g; });
        ASSERT_TRUE(waitUntil([&] { return answer.has_value(); }, 10000));
        EXPECT_EQ(*answer, platform::RealtimeGrant::Denied);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-rtkit"));
    bus.kill();
    bus.waitForFinished(5000);
}

#include "RealtimeTest.moc"
