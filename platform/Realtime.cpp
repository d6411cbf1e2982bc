#include "Realtime.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QVariantMap>

#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <mutex>

#ifndef SCHED_RESET_ON_FORK
#define SCHED_RESET_ON_FORK 0x40000000
#endif

namespace platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString kPath = QStringLiteral("/org/freedesktop/RealtimeKit1");
constexpr int kBusTimeoutMs = 2000;

bool setFifo(long threadId, int priority)
{
    sched_param param{};
    param.sched_priority = priority;
    // A child process started by such a thread begins as an ordinary one.
    return sched_setscheduler(static_cast<pid_t>(threadId), SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0;
}

// The readable and executable mapping of the program file that holds address.
bool codeMapping(const void *address, std::uintptr_t &begin, std::uintptr_t &end)
{
    FILE *maps = std::fopen("/proc/self/maps", "re");
    if (!maps)
        return false;
    const auto a = reinterpret_cast<std::uintptr_t>(address);
    bool found = false;
    char line[512];
    while (!found && std::fgets(line, sizeof line, maps)) {
        std::uintptr_t b = 0, e = 0;
        char perms[5] = {};
        if (std::sscanf(line, "%" SCNxPTR "-%" SCNxPTR " %4s", &b, &e, perms) == 3 && a >= b && a < e
            && perms[0] == 'r' && perms[2] == 'x') {
            begin = b;
            end = e;
            found = true;
        }
    }
    std::fclose(maps);
    return found;
}

} // namespace

long currentThreadId()
{
    return static_cast<long>(::syscall(SYS_gettid));
}

void keepStampPathResident(const void *codeAddress, std::size_t stackBytes)
{
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    // The stack grows down from here: the frames of the wait and of the stamp lie below.
    char here = 0;
    const auto top = (reinterpret_cast<std::uintptr_t>(&here) + page) & ~(page - 1);
    const std::uintptr_t bottom = (top - stackBytes - page) & ~(page - 1);
    ::mlock(reinterpret_cast<void *>(bottom), top - bottom);

    // The program code, once: small enough to keep whole (a few hundred KB to a few MB).
    static std::once_flag once;
    std::call_once(once, [codeAddress] {
        std::uintptr_t begin = 0, end = 0;
        constexpr std::uintptr_t kMaxCode = 16u << 20;
        if (codeMapping(codeAddress, begin, end) && end - begin <= kMaxCode)
            ::mlock(reinterpret_cast<void *>(begin), end - begin);
    });
}

SystemRealtimeScheduler::SystemRealtimeScheduler(bool tryDirectly)
    : tryDirectly_(tryDirectly), context_(std::make_unique<QObject>())
{
}

SystemRealtimeScheduler::~SystemRealtimeScheduler() = default;

bool SystemRealtimeScheduler::makeRealtimeDirectly(long threadId)
{
    if (setFifo(threadId, kPriority))
        return true;
    // A real-time limit below the priority asked for (limits.d: "rtprio 10") still gives the right
    // up to that limit.
    rlimit limit{};
    if (::getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur > 0 && limit.rlim_cur < static_cast<rlim_t>(kPriority))
        return setFifo(threadId, static_cast<int>(limit.rlim_cur));
    return false;
}

void SystemRealtimeScheduler::makeRealtime(long threadId, std::function<void(RealtimeGrant)> answer)
{
    if (tryDirectly_ && makeRealtimeDirectly(threadId)) {
        answer(RealtimeGrant::Direct);
        return;
    }
    askRealtimeKit(threadId, std::move(answer));
}

void SystemRealtimeScheduler::askRealtimeKit(long threadId, std::function<void(RealtimeGrant)> answer)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        answer(RealtimeGrant::Denied);
        return;
    }
    // First the service's limits: it grants only to a process whose real-time CPU limit lies within
    // its own, and only up to its highest priority.
    QDBusMessage limits = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                         QStringLiteral("GetAll"));
    limits << kService;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(limits, kBusTimeoutMs), context_.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context_.get(),
                     [this, watcher, threadId, answer = std::move(answer)]() mutable {
                         watcher->deleteLater();
                         const QDBusPendingReply<QVariantMap> reply = *watcher;
                         if (reply.isError()) {
                             answer(RealtimeGrant::Denied);
                             return;
                         }
                         const QVariantMap values = reply.value();
                         const qlonglong rtTimeMax = values.value(QStringLiteral("RTTimeUSecMax"), 200000).toLongLong();
                         const int maxPriority = values.value(QStringLiteral("MaxRealtimePriority"), kPriority).toInt();
                         if (rtTimeMax <= 0 || maxPriority <= 0) {
                             answer(RealtimeGrant::Denied);
                             return;
                         }
                         // A real-time thread that runs that long without blocking is stopped by the
                         // kernel; the stamping threads block again within microseconds.
                         rlimit limit{};
                         if (::getrlimit(RLIMIT_RTTIME, &limit) == 0) {
                             const auto cap = static_cast<rlim_t>(rtTimeMax);
                             limit.rlim_cur = std::min(limit.rlim_cur, cap);
                             limit.rlim_max = std::min(limit.rlim_max, cap);
                             ::setrlimit(RLIMIT_RTTIME, &limit);
                         }
                         QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService,
                                                                            QStringLiteral("MakeThreadRealtime"));
                         call << static_cast<qulonglong>(threadId)
                              << static_cast<uint>(std::min(kPriority, maxPriority));
                         auto *made = new QDBusPendingCallWatcher(
                             QDBusConnection::systemBus().asyncCall(call, kBusTimeoutMs), context_.get());
                         QObject::connect(made, &QDBusPendingCallWatcher::finished, context_.get(),
                                          [made, answer = std::move(answer)] {
                                              made->deleteLater();
                                              answer(made->isError() ? RealtimeGrant::Denied
                                                                     : RealtimeGrant::RealtimeKit);
                                          });
                     });
}

} // namespace platform
