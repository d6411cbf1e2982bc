#include "Realtime.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <mutex>
#include <optional>

#ifndef SCHED_RESET_ON_FORK
#define SCHED_RESET_ON_FORK 0x40000000
#endif

namespace platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString kPath = QStringLiteral("/org/freedesktop/RealtimeKit1");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
// No call waits on the user-interface thread: the answers come through its event loop. The service
// asks polkit before it answers, which on a loaded machine may take a moment.
constexpr int kBusTimeoutMs = 5000;
// Below this real-time CPU limit the desk does not ask (see makeThreadRealtime).
constexpr qlonglong kLeastRtTimeUSec = 10000;

// The value of a property read with Get (an integer of any width), nothing on an error.
std::optional<qlonglong> propertyValue(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    QVariant value = reply.arguments().constFirst();
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = qvariant_cast<QDBusVariant>(value).variant();
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return value.toLongLong();
    case QMetaType::ULongLong:
        return static_cast<qlonglong>(std::min<qulonglong>(value.toULongLong(), LLONG_MAX));
    default:
        return std::nullopt;
    }
}

// Lowers the process's real-time CPU limit to at most cap microseconds, for good: the hard limit
// too, which is the one RealtimeKit checks.
bool limitRealtimeCpuTime(rlim_t cap)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_RTTIME, &limit) != 0)
        return false;
    limit.rlim_cur = std::min(limit.rlim_cur, cap);
    limit.rlim_max = std::min(limit.rlim_max, cap);
    return ::setrlimit(RLIMIT_RTTIME, &limit) == 0;
}

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
    // its own, and only up to its highest priority. The service answers Get for one property at a
    // time (GetAll is not part of it); both are asked at once. A limit it does not tell is taken
    // as its documented default.
    auto request = std::make_shared<KitRequest>();
    request->threadId = threadId;
    request->answer = std::move(answer);
    for (const auto &[name, value] : {std::pair{QStringLiteral("MaxRealtimePriority"), &request->maxPriority},
                                      std::pair{QStringLiteral("RTTimeUSecMax"), &request->rtTimeUSecMax}}) {
        QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, kProperties, QStringLiteral("Get"));
        get << kService << name;
        auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(get, kBusTimeoutMs), context_.get());
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context_.get(),
                         [this, watcher, request, value = value] {
                             watcher->deleteLater();
                             if (const auto told = propertyValue(watcher->reply()))
                                 *value = *told;
                             if (--request->pending == 0)
                                 makeThreadRealtime(*request);
                         });
    }
}

void SystemRealtimeScheduler::makeThreadRealtime(KitRequest &request)
{
    // A real-time thread that runs longer than the limit without blocking ends the desk (the
    // kernel sends SIGXCPU); the stamping threads block again within microseconds, but a limit
    // this small leaves no margin.
    if (request.maxPriority <= 0 || request.rtTimeUSecMax < kLeastRtTimeUSec) {
        request.answer(RealtimeGrant::Denied);
        return;
    }
    if (!limitRealtimeCpuTime(static_cast<rlim_t>(request.rtTimeUSecMax))) {
        request.answer(RealtimeGrant::Denied);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("MakeThreadRealtime"));
    call << static_cast<qulonglong>(request.threadId)
         << static_cast<uint>(std::min<qlonglong>(kPriority, request.maxPriority));
    auto *made = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call, kBusTimeoutMs),
                                             context_.get());
    QObject::connect(made, &QDBusPendingCallWatcher::finished, context_.get(),
                     [made, answer = std::move(request.answer)] {
                         made->deleteLater();
                         answer(made->isError() ? RealtimeGrant::Denied : RealtimeGrant::RealtimeKit);
                     });
}

} // namespace platform
