#pragma once
// THighResTimer: a non-visual component that chooses a fine counter (the processor's time-stamp
// counter where it is usable, else the monotonic performance counter), calibrates how many of its
// ticks pass per microsecond, and while Enabled runs a worker thread (TMMTimerThread) that samples
// the counter once per period of a periodic timer.
//
// Calibration of the time-stamp counter takes a while (3 s by default). It starts when the
// component is created, but on a thread of its own, so the creator goes on at once; reading
// CountSpeed before it has finished waits for it. Destroying the component, or starting another
// calibration, cancels a running one at once.

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>

namespace platform::hrclock {
class WakeEvent;
}

enum TThreadClass { tcIdle, tcNormal, tcHigh, tcRealTime };
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Reads a counter; the context is the object the reader belongs to.
using TCounterReader = std::int64_t (*)(void *context);

// The worker: created suspended, started with Start, ended with Terminate and WaitFor. Its owner
// frees it. It samples the counter on every expiry of its periodic timer, stores the sample under
// the write side of its lock and then sets its sample-ready signal.
class TMMTimerThread {
public:
    TMMTimerThread();
    // Terminates and waits for a thread that still runs.
    ~TMMTimerThread();
    TMMTimerThread(const TMMTimerThread &) = delete;
    TMMTimerThread &operator=(const TMMTimerThread &) = delete;

    // Tolerance and period of the timer in ms. Each setter marks the timer for re-arming, which
    // the thread does at once (it is woken for it).
    void setAccuracy(unsigned ms);
    void setPeriod(unsigned ms);
    unsigned Accuracy() const { return accuracy_; }
    unsigned Period() const { return period_; }
    // Set before Start.
    void setCounterReader(TCounterReader reader, void *context);

    void Start();
    // Asks the thread to end; it ends without waiting for the next expiry.
    void Terminate();
    void WaitFor();
    bool Running() const { return thread_.joinable(); }
    // The kernel's id of the thread once it has started, else 0.
    int ThreadId() const { return threadId_.load(); }

    // The last sample, read under the read side of the lock.
    std::int64_t LatestSample() const;
    // Waits until a sample has been stored since the last successful wait (an auto-reset
    // signal); false when none came within timeoutMs.
    bool WaitForSample(int timeoutMs);

    // Scheduling of the running thread. Linux lets a process without privileges lower its
    // threads' priorities but not raise them again: a refused change leaves the thread as it was
    // and answers false; it is not an error.
    bool SetPriority(TThreadPriority priority);
    bool SetClass(TThreadClass threadClass);

private:
    void Execute();
    bool applyScheduling();

    TCounterReader reader_ = nullptr;
    void *context_ = nullptr;
    std::atomic<unsigned> accuracy_{0};
    std::atomic<unsigned> period_{1};
    std::atomic<bool> changed_{true};
    std::atomic<bool> terminated_{false};
    std::atomic<int> threadId_{0};
    TThreadPriority priority_ = tpNormal;
    TThreadClass class_ = tcNormal;

    mutable std::shared_mutex lock_; // guards latest_
    std::int64_t latest_ = 0;

    std::mutex readyMutex_;
    std::condition_variable readyCond_;
    bool ready_ = false;

    std::mutex startMutex_;
    std::condition_variable startCond_;
    std::unique_ptr<platform::hrclock::WakeEvent> wake_;
    std::thread thread_;
};

class THighResTimer : public QObject {
    Q_OBJECT
public:
    enum class Counters {
        Detect,          // use the time-stamp counter where the processor offers a usable one
        PerformanceOnly, // behave as on a processor without one
    };
    // calibrationMs is the calibration window of every calibration the component starts itself.
    explicit THighResTimer(QObject *owner = nullptr, unsigned calibrationMs = 3000,
                           Counters counters = Counters::Detect);
    ~THighResTimer() override;

    unsigned MinAccuracy() const { return minAccuracy_; }
    void setMinAccuracy(unsigned) {} // read-only: ignored
    unsigned MinResolution() const { return minResolution_; }
    void setMinResolution(unsigned) {} // read-only: ignored
    unsigned Accuracy() const { return accuracy_; }
    void setAccuracy(unsigned ms);
    unsigned Resolution() const { return resolution_; }
    void setResolution(unsigned ms);
    TThreadClass ThreadClass() const { return threadClass_; }
    void setThreadClass(TThreadClass value);
    TThreadPriority ThreadPriority() const { return threadPriority_; }
    void setThreadPriority(TThreadPriority value);
    bool TSC() const { return tsc_; }
    bool UseTSC() const { return useTsc_; }
    void setUseTSC(bool value);
    bool Enabled() const { return enabled_; }
    void setEnabled(bool value);
    // Ticks of the chosen counter per microsecond; waits for a calibration that still runs.
    double CountSpeed() const;
    void setCountSpeed(double) {} // read-only: ignored
    bool Calibrating() const;

    // Recomputes CountSpeed on the calling thread (cancelling a calibration that runs).
    void Calibrate(unsigned durationMs);
    // The current value of the chosen counter.
    std::int64_t ReadCounter() const { return readCounter_(readCounterContext_); }

    TMMTimerThread *Worker() const { return worker_; }
    // The component is being edited in a designer: Enabled then starts no worker.
    void setDesigning(bool designing) { designing_ = designing; }

private:
    static std::int64_t readTimeStamp(void *context);
    static std::int64_t readPerformance(void *context);
    void chooseReader();
    void startCalibration(unsigned durationMs);
    void cancelCalibration();
    void runCalibration(unsigned durationMs, bool useTsc);

    unsigned minAccuracy_;
    unsigned minResolution_;
    unsigned accuracy_ = 0;
    unsigned resolution_;
    TThreadClass threadClass_ = tcNormal;
    TThreadPriority threadPriority_ = tpNormal;
    TMMTimerThread *worker_ = nullptr;
    bool tsc_ = false;
    bool useTsc_ = false;
    bool enabled_ = false;
    bool designing_ = false;
    TCounterReader readCounter_ = readPerformance;
    void *readCounterContext_ = this;
    unsigned calibrationMs_;

    // Calibration: CountSpeed and the state of a running calibration.
    mutable std::mutex calMutex_;
    mutable std::condition_variable calCond_;
    double countSpeed_ = 0.0;
    bool calibrating_ = false;
    bool cancel_ = false;
    std::thread calibration_;
};
