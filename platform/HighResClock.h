#pragma once
// The operating-system services behind the high-resolution timer component: the processor's
// time-stamp counter, the monotonic clock as the performance counter, a periodic timer that a
// second thread can wake, and the scheduling of single threads.

#include <cstdint>

namespace platform::hrclock {

// True when the processor reports a time-stamp counter that runs at one constant rate in every
// power state (CPUID leaf 1 EDX bit 4 and the invariant bit, leaf 0x80000007 EDX bit 8).
bool timeStampCounterUsable();
// The processor's 64-bit time-stamp counter; 0 where the processor has none.
std::int64_t readTimeStampCounter();
// The monotonic clock in nanoseconds.
std::int64_t readPerformanceCounter();
// Ticks of readPerformanceCounter per second.
std::int64_t performanceFrequency();
// The smallest period in milliseconds that PeriodicTimer supports.
unsigned minTimerPeriodMs();

// The kernel's id of the calling thread.
int currentThreadId();

// Scheduling of one thread as the kernel knows it.
enum class Policy { Idle, Normal, FirstInFirstOut };
struct Scheduling {
    Policy policy = Policy::Normal;
    int nice = 0;         // Idle and Normal: -20 (highest) .. 19 (lowest)
    int rtPriority = 0;   // FirstInFirstOut: 1 .. 99
};
// Applies the scheduling to the thread; false when the kernel refuses it (for example without
// the privilege to raise a priority). A refusal leaves the thread as it was.
bool setThreadScheduling(int threadId, const Scheduling &scheduling);
Scheduling threadScheduling(int threadId);

// Raises the calling thread to the highest real-time priority for its lifetime, where the kernel
// allows it; otherwise nothing happens.
class RaisedPriority {
public:
    RaisedPriority();
    ~RaisedPriority();
    RaisedPriority(const RaisedPriority &) = delete;
    RaisedPriority &operator=(const RaisedPriority &) = delete;
    bool raised() const { return raised_; }

private:
    bool raised_ = false;
    int policy_ = 0;
    int priority_ = 0;
};

// An event another thread can set to end a wait at once. Setting it twice before a wait ends
// one wait.
class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent &) = delete;
    WakeEvent &operator=(const WakeEvent &) = delete;
    void set();
    int fd() const { return fd_; }

private:
    int fd_;
};

// A periodic timer on the monotonic clock. The thread that owns it waits for its expiries.
class PeriodicTimer {
public:
    PeriodicTimer();
    ~PeriodicTimer();
    PeriodicTimer(const PeriodicTimer &) = delete;
    PeriodicTimer &operator=(const PeriodicTimer &) = delete;
    // (Re)arms the timer: the first expiry one period from now, then every period. The accuracy
    // is the tolerance the kernel may add to each expiry (the calling thread's timer slack);
    // 0 asks for the finest there is. False when the timer could not be armed.
    bool start(unsigned periodMs, unsigned accuracyMs);
    void stop();

    enum class Wake { Tick, Woken };
    // Blocks until the next expiry or until the event is set (which it then clears). Without an
    // armed timer only the event ends the wait.
    Wake wait(WakeEvent &event);

private:
    int fd_;
    bool armed_ = false;
};

} // namespace platform::hrclock
