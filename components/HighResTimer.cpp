#include "HighResTimer.h"

#include "HighResClock.h"

#include <algorithm>
#include <chrono>

namespace hr = platform::hrclock;

// ---------------------------------------------------------------------------------------------
// Scheduling of the worker

namespace {

// Nice value of each thread priority in the normal class: the seven steps spread over the range
// Linux offers, idle at the bottom and time-critical at the top.
int niceOf(TThreadPriority priority)
{
    switch (priority) {
    case tpIdle: return 19;
    case tpLowest: return 10;
    case tpLower: return 5;
    case tpNormal: return 0;
    case tpHigher: return -5;
    case tpHighest: return -10;
    case tpTimeCritical: return -20;
    }
    return 0;
}

// The class chooses the kernel's policy (or, for the high class, shifts the nice value); the
// real-time class uses the base priorities of the real-time range as first-in-first-out priorities.
hr::Scheduling schedulingOf(TThreadClass threadClass, TThreadPriority priority)
{
    hr::Scheduling s;
    switch (threadClass) {
    case tcIdle:
        s.policy = hr::Policy::Idle;
        s.nice = niceOf(priority);
        break;
    case tcNormal: s.nice = niceOf(priority); break;
    case tcHigh: s.nice = std::clamp(niceOf(priority) - 10, -20, 19); break;
    case tcRealTime: {
        static constexpr int base[] = {16, 22, 23, 24, 25, 26, 31};
        s.policy = hr::Policy::FirstInFirstOut;
        s.rtPriority = base[priority];
        break;
    }
    }
    return s;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Worker

TMMTimerThread::TMMTimerThread() : wake_(std::make_unique<hr::WakeEvent>()) {}

TMMTimerThread::~TMMTimerThread()
{
    Terminate();
    WaitFor();
}

void TMMTimerThread::setAccuracy(unsigned ms)
{
    accuracy_ = ms;
    changed_ = true;
    wake_->set();
}

void TMMTimerThread::setPeriod(unsigned ms)
{
    period_ = ms;
    changed_ = true;
    wake_->set();
}

void TMMTimerThread::setCounterReader(TCounterReader reader, void *context)
{
    reader_ = reader;
    context_ = context;
}

void TMMTimerThread::Start()
{
    if (thread_.joinable())
        return;
    thread_ = std::thread(&TMMTimerThread::Execute, this);
    // The scheduling setters need the kernel's id of the thread.
    std::unique_lock<std::mutex> lock(startMutex_);
    startCond_.wait(lock, [this] { return threadId_.load() != 0; });
}

void TMMTimerThread::Terminate()
{
    terminated_ = true;
    wake_->set();
}

void TMMTimerThread::WaitFor()
{
    if (thread_.joinable())
        thread_.join();
}

void TMMTimerThread::Execute()
{
    {
        std::lock_guard<std::mutex> lock(startMutex_);
        threadId_ = hr::currentThreadId();
    }
    startCond_.notify_all();

    hr::PeriodicTimer timer; // the tick event belongs to the thread
    changed_ = false;
    timer.start(period_, accuracy_);
    while (!terminated_) {
        if (changed_.exchange(false)) {
            timer.stop();
            timer.start(period_, accuracy_);
        }
        if (timer.wait(*wake_) != hr::PeriodicTimer::Wake::Tick)
            continue; // a stop request or a new period: looked at on top of the loop
        const std::int64_t sample = reader_ ? reader_(context_) : 0;
        {
            std::unique_lock<std::shared_mutex> write(lock_);
            latest_ = sample;
        }
        {
            std::lock_guard<std::mutex> lock(readyMutex_);
            ready_ = true;
        }
        readyCond_.notify_all();
    }
    timer.stop();
}

std::int64_t TMMTimerThread::LatestSample() const
{
    std::shared_lock<std::shared_mutex> read(lock_);
    return latest_;
}

bool TMMTimerThread::WaitForSample(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(readyMutex_);
    if (!readyCond_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return ready_; }))
        return false;
    ready_ = false;
    return true;
}

bool TMMTimerThread::applyScheduling()
{
    const int tid = threadId_.load();
    if (tid == 0)
        return false;
    if (hr::setThreadScheduling(tid, schedulingOf(class_, priority_)))
        return true;
    // A refused real-time class still gets the high class where that is allowed.
    if (class_ == tcRealTime)
        hr::setThreadScheduling(tid, schedulingOf(tcHigh, priority_));
    return false;
}

bool TMMTimerThread::SetPriority(TThreadPriority priority)
{
    const TThreadPriority before = priority_;
    priority_ = priority;
    if (applyScheduling())
        return true;
    priority_ = before;
    return false;
}

bool TMMTimerThread::SetClass(TThreadClass threadClass)
{
    class_ = threadClass;
    return applyScheduling();
}

// ---------------------------------------------------------------------------------------------
// Component

THighResTimer::THighResTimer(QObject *owner, unsigned calibrationMs, Counters counters)
    : QObject(owner), minAccuracy_(1), minResolution_(hr::minTimerPeriodMs()), calibrationMs_(calibrationMs)
{
    resolution_ = minAccuracy_;
    tsc_ = counters == Counters::Detect && hr::timeStampCounterUsable();
    useTsc_ = tsc_;
    chooseReader();
    startCalibration(calibrationMs_);
}

THighResTimer::~THighResTimer()
{
    setEnabled(false);
    cancelCalibration();
}

std::int64_t THighResTimer::readTimeStamp(void *)
{
    return hr::readTimeStampCounter();
}

std::int64_t THighResTimer::readPerformance(void *)
{
    return hr::readPerformanceCounter();
}

void THighResTimer::chooseReader()
{
    readCounter_ = useTsc_ ? readTimeStamp : readPerformance;
    readCounterContext_ = this;
}

void THighResTimer::setAccuracy(unsigned ms)
{
    accuracy_ = ms;
    if (worker_)
        worker_->setAccuracy(ms);
}

void THighResTimer::setResolution(unsigned ms)
{
    resolution_ = ms;
    if (worker_)
        worker_->setPeriod(ms);
}

void THighResTimer::setThreadClass(TThreadClass value)
{
    threadClass_ = value;
    if (worker_)
        worker_->SetClass(value);
}

void THighResTimer::setThreadPriority(TThreadPriority value)
{
    threadPriority_ = value;
    if (worker_)
        worker_->SetPriority(value);
}

void THighResTimer::setUseTSC(bool value)
{
    if (value == useTsc_)
        return;
    if (!tsc_) {
        useTsc_ = false;
    } else if (!enabled_) {
        useTsc_ = value;
        chooseReader();
    }
    // A running worker keeps the reader it was given, so the choice stays; the calibration runs
    // in every case.
    startCalibration(calibrationMs_);
}

void THighResTimer::setEnabled(bool value)
{
    if (value == enabled_)
        return;
    enabled_ = value;
    if (value) {
        if (designing_)
            return;
        worker_ = new TMMTimerThread;
        worker_->setAccuracy(accuracy_);
        worker_->setPeriod(resolution_);
        worker_->setCounterReader(readCounter_, readCounterContext_);
        worker_->Start();
    } else if (worker_) {
        worker_->Terminate();
        worker_->WaitFor();
        delete worker_;
        worker_ = nullptr;
    }
}

// ---------------------------------------------------------------------------------------------
// Calibration

double THighResTimer::CountSpeed() const
{
    std::unique_lock<std::mutex> lock(calMutex_);
    calCond_.wait(lock, [this] { return !calibrating_; });
    return countSpeed_;
}

bool THighResTimer::Calibrating() const
{
    std::lock_guard<std::mutex> lock(calMutex_);
    return calibrating_;
}

void THighResTimer::Calibrate(unsigned durationMs)
{
    cancelCalibration();
    {
        std::lock_guard<std::mutex> lock(calMutex_);
        calibrating_ = true;
    }
    runCalibration(durationMs, useTsc_);
}

void THighResTimer::startCalibration(unsigned durationMs)
{
    cancelCalibration();
    const bool useTsc = useTsc_;
    {
        std::lock_guard<std::mutex> lock(calMutex_);
        calibrating_ = true;
    }
    if (!useTsc) {
        runCalibration(durationMs, false); // no waiting: only the frequency is asked
        return;
    }
    calibration_ = std::thread(&THighResTimer::runCalibration, this, durationMs, true);
}

void THighResTimer::cancelCalibration()
{
    {
        std::lock_guard<std::mutex> lock(calMutex_);
        cancel_ = true;
    }
    calCond_.notify_all();
    if (calibration_.joinable())
        calibration_.join();
    std::lock_guard<std::mutex> lock(calMutex_);
    cancel_ = false;
}

void THighResTimer::runCalibration(unsigned durationMs, bool useTsc)
{
    const double performancePerUs = static_cast<double>(hr::performanceFrequency()) / 1000000.0;
    double result = performancePerUs;
    std::unique_lock<std::mutex> lock(calMutex_);
    countSpeed_ = performancePerUs;
    // Sleeps that a cancellation ends at once; true when the whole time has passed.
    const auto sleep = [&](unsigned ms) {
        return !calCond_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return cancel_; });
    };
    if (useTsc) {
        std::int64_t t0 = 0, q0 = 0, t1 = 0, q1 = 0;
        bool complete = false;
        {
            // The pair of reads on each side must not be split by a preemption: run them at the
            // highest priority the kernel grants (none without the privilege; that is no error).
            hr::RaisedPriority raised;
            if (sleep(10)) {
                t0 = hr::readTimeStampCounter();
                q0 = hr::readPerformanceCounter();
                if (sleep(durationMs)) {
                    t1 = hr::readTimeStampCounter();
                    q1 = hr::readPerformanceCounter();
                    complete = true;
                }
            }
        }
        if (complete) {
            const double elapsedUs = static_cast<double>(q1 - q0) / performancePerUs;
            if (elapsedUs > 0.0)
                result = static_cast<double>(t1 - t0) / elapsedUs;
        }
    }
    if (!cancel_)
        countSpeed_ = result;
    calibrating_ = false;
    lock.unlock();
    calCond_.notify_all();
}
