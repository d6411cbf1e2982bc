#include "HighResClock.h"

#include <cerrno>
#include <ctime>

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/timerfd.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#define ZK_HAVE_TSC 1
#else
#define ZK_HAVE_TSC 0
#endif

namespace platform::hrclock {

bool timeStampCounterUsable()
{
#if ZK_HAVE_TSC
    // __get_cpuid_max answers 0 where the identification instruction is missing (on 32-bit
    // processors it tests whether the ID flag of the flags register can be toggled).
    if (__get_cpuid_max(0, nullptr) < 1)
        return false;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || (d & (1u << 4)) == 0)
        return false;
    // Without the invariant bit the counter may change its rate with the clock frequency or stop
    // in deep sleep states: then it cannot be calibrated once and trusted afterwards.
    // (gcc's header answers unsigned, clang's int: the highest extended leaf is compared unsigned)
    if (static_cast<unsigned>(__get_cpuid_max(0x80000000u, nullptr)) < 0x80000007u)
        return false;
    if (!__get_cpuid(0x80000007u, &a, &b, &c, &d))
        return false;
    return (d & (1u << 8)) != 0;
#else
    return false;
#endif
}

std::int64_t readTimeStampCounter()
{
#if ZK_HAVE_TSC
    return static_cast<std::int64_t>(__rdtsc());
#else
    return 0;
#endif
}

std::int64_t readPerformanceCounter()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::int64_t performanceFrequency()
{
    return 1000000000;
}

unsigned minTimerPeriodMs()
{
    // The timer takes whole milliseconds; the clock itself resolves far finer.
    timespec res{};
    if (clock_getres(CLOCK_MONOTONIC, &res) != 0)
        return 1;
    const long long ns = static_cast<long long>(res.tv_sec) * 1000000000 + res.tv_nsec;
    return ns <= 1000000 ? 1u : static_cast<unsigned>((ns + 999999) / 1000000);
}

int currentThreadId()
{
    return static_cast<int>(gettid());
}

// ---------------------------------------------------------------------------------------------
// Thread scheduling

Scheduling threadScheduling(int threadId)
{
    Scheduling s;
    const int policy = sched_getscheduler(threadId);
    if (policy == SCHED_IDLE)
        s.policy = Policy::Idle;
    else if (policy == SCHED_FIFO || policy == SCHED_RR)
        s.policy = Policy::FirstInFirstOut;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(threadId));
    if (errno == 0)
        s.nice = nice;
    sched_param param{};
    if (sched_getparam(threadId, &param) == 0)
        s.rtPriority = param.sched_priority;
    return s;
}

namespace {

bool applyScheduling(int threadId, const Scheduling &s)
{
    sched_param param{};
    switch (s.policy) {
    case Policy::FirstInFirstOut:
        param.sched_priority = s.rtPriority;
        return sched_setscheduler(threadId, SCHED_FIFO, &param) == 0;
    case Policy::Idle:
        if (sched_setscheduler(threadId, SCHED_IDLE, &param) != 0)
            return false;
        break;
    case Policy::Normal:
        if (sched_getscheduler(threadId) != SCHED_OTHER && sched_setscheduler(threadId, SCHED_OTHER, &param) != 0)
            return false;
        break;
    }
    return setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), s.nice) == 0;
}

} // namespace

bool setThreadScheduling(int threadId, const Scheduling &scheduling)
{
    const Scheduling before = threadScheduling(threadId);
    if (applyScheduling(threadId, scheduling))
        return true;
    applyScheduling(threadId, before); // a half-done change is taken back where possible
    return false;
}

RaisedPriority::RaisedPriority()
{
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &policy_, &param) != 0)
        return;
    priority_ = param.sched_priority;
    sched_param top{};
    top.sched_priority = sched_get_priority_max(SCHED_FIFO);
    raised_ = pthread_setschedparam(pthread_self(), SCHED_FIFO, &top) == 0;
}

RaisedPriority::~RaisedPriority()
{
    if (!raised_)
        return;
    sched_param param{};
    param.sched_priority = priority_;
    pthread_setschedparam(pthread_self(), policy_, &param);
}

// ---------------------------------------------------------------------------------------------
// Wake event and periodic timer

WakeEvent::WakeEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent()
{
    if (fd_ >= 0)
        close(fd_);
}

void WakeEvent::set()
{
    if (fd_ < 0)
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(fd_, &one, sizeof one);
}

PeriodicTimer::PeriodicTimer() : fd_(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)) {}

PeriodicTimer::~PeriodicTimer()
{
    if (fd_ >= 0)
        close(fd_);
}

bool PeriodicTimer::start(unsigned periodMs, unsigned accuracyMs)
{
    if (fd_ < 0)
        return false;
    // Timer slack 0 would mean "the default" (50 us); 1 ns is as exact as the kernel can be.
    prctl(PR_SET_TIMERSLACK, accuracyMs == 0 ? 1UL : static_cast<unsigned long>(accuracyMs) * 1000000UL, 0, 0, 0);
    const unsigned period = periodMs < minTimerPeriodMs() ? minTimerPeriodMs() : periodMs;
    itimerspec spec{};
    spec.it_interval.tv_sec = static_cast<time_t>(period / 1000);
    spec.it_interval.tv_nsec = static_cast<long>(period % 1000) * 1000000L;
    spec.it_value = spec.it_interval;
    armed_ = timerfd_settime(fd_, 0, &spec, nullptr) == 0;
    return armed_;
}

void PeriodicTimer::stop()
{
    if (fd_ < 0)
        return;
    const itimerspec off{};
    timerfd_settime(fd_, 0, &off, nullptr);
    armed_ = false;
}

PeriodicTimer::Wake PeriodicTimer::wait(WakeEvent &event)
{
    for (;;) {
        pollfd fds[2] = {{event.fd(), POLLIN, 0}, {armed_ ? fd_ : -1, POLLIN, 0}};
        // Without a usable wake event the wait is cut into short slices, so that a request to
        // stop is still seen.
        const int n = poll(fds, 2, event.fd() < 0 ? 50 : -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Wake::Woken;
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t r = read(event.fd(), &count, sizeof count);
            return Wake::Woken;
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t expirations = 0;
            if (read(fd_, &expirations, sizeof expirations) == static_cast<ssize_t>(sizeof expirations))
                return Wake::Tick;
            continue; // another reader took it or a spurious wake-up
        }
        if (fds[1].revents)
            armed_ = false; // a broken timer: from now on only the event ends a wait
        else if (fds[0].revents)
            return Wake::Woken;
    }
}

} // namespace platform::hrclock
