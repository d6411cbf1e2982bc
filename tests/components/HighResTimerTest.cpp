// The high-resolution timer: counter choice and calibration, property writes, the worker's life
// and scheduling, and its place on the main window.
//
// Where a test would hang on a fault (a creation that waits for its calibration, a stop that waits
// for the next expiry), periods and calibration windows of an hour make the hang certain.

#include "DeskFixture.h"
#include "HighResClock.h"
#include "HighResTimer.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <thread>

#include <ctime>
#include <sys/resource.h>
#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace {

constexpr unsigned kHour = 3600u * 1000u;
namespace hr = platform::hrclock;

std::int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::int64_t timeStamp()
{
#if defined(__x86_64__) || defined(__i386__)
    return static_cast<std::int64_t>(__rdtsc());
#else
    return 0;
#endif
}

qsizetype entries(const char *folder)
{
    return QDir(QString::fromLatin1(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size();
}

// The threads of this process.
std::set<int> tasks()
{
    std::set<int> out;
    for (const QString &name : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        out.insert(name.toInt());
    return out;
}

std::set<int> tasksBesides(const std::set<int> &before)
{
    std::set<int> out;
    for (const int tid : tasks())
        if (!before.count(tid))
            out.insert(tid);
    return out;
}

// Whether a thread has left the process. Its entry in /proc/self/task goes a moment after the
// join that waited for it returns, later still on a busy machine: this waits up to 10 s for it.
bool threadGone(int tid)
{
    const QString entry = QStringLiteral("/proc/self/task/%1").arg(tid);
    for (int i = 0; i < 10000 && QFileInfo::exists(entry); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return !QFileInfo::exists(entry);
}

int niceOf(int threadId)
{
    return getpriority(PRIO_PROCESS, static_cast<id_t>(threadId));
}

} // namespace

TEST(HighResTimer, ProcessorWithoutTimeStampCounter)
{
    // An hour-long calibration window: creation and the UseTSC write must not wait for it.
    THighResTimer t(nullptr, kHour, THighResTimer::Counters::PerformanceOnly);
    EXPECT_FALSE(t.TSC());
    EXPECT_FALSE(t.UseTSC());
    EXPECT_FALSE(t.Calibrating());
    EXPECT_DOUBLE_EQ(t.CountSpeed(), 1000.0); // nanosecond clock: 1000 ticks per microsecond
    const std::int64_t before = monotonicNs();
    const std::int64_t count = t.ReadCounter();
    EXPECT_GE(count, before);
    EXPECT_LE(count, monotonicNs());

    t.setUseTSC(true);
    EXPECT_FALSE(t.UseTSC());
    EXPECT_FALSE(t.Calibrating());
    EXPECT_DOUBLE_EQ(t.CountSpeed(), 1000.0);

    // Defaults, and writes of the read-only values are ignored.
    EXPECT_EQ(t.MinAccuracy(), 1u);
    EXPECT_EQ(t.MinResolution(), 1u);
    EXPECT_EQ(t.Accuracy(), 0u);
    EXPECT_EQ(t.Resolution(), 1u);
    EXPECT_EQ(t.ThreadClass(), tcNormal);
    EXPECT_EQ(t.ThreadPriority(), tpNormal);
    EXPECT_FALSE(t.Enabled());
    EXPECT_EQ(t.Worker(), nullptr);
    t.setMinAccuracy(7);
    t.setMinResolution(7);
    t.setCountSpeed(5.0);
    EXPECT_EQ(t.MinAccuracy(), 1u);
    EXPECT_EQ(t.MinResolution(), 1u);
    EXPECT_DOUBLE_EQ(t.CountSpeed(), 1000.0);
}

TEST(HighResTimer, CalibratesTheTimeStampCounterAgainstTheMonotonicClock)
{
    if (!hr::timeStampCounterUsable())
        GTEST_SKIP() << "no invariant time-stamp counter";
    THighResTimer t(nullptr, 150);
    EXPECT_TRUE(t.TSC());
    EXPECT_TRUE(t.UseTSC());
    const std::int64_t t0 = timeStamp();
    const std::int64_t q0 = monotonicNs();
    const double speed = t.CountSpeed(); // waits for the calibration
    EXPECT_FALSE(t.Calibrating());
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const std::int64_t t1 = timeStamp();
    const std::int64_t q1 = monotonicNs();
    const double truth = double(t1 - t0) / (double(q1 - q0) / 1000.0);
    EXPECT_NEAR(speed / truth, 1.0, 0.02) << speed << " against " << truth;

    // The reader is the time-stamp counter.
    const std::int64_t before = timeStamp();
    const std::int64_t count = t.ReadCounter();
    EXPECT_GE(count, before);
    EXPECT_LE(count, timeStamp());

    // An explicit calibration runs on the caller and gives the same rate.
    t.Calibrate(100);
    EXPECT_FALSE(t.Calibrating());
    EXPECT_NEAR(t.CountSpeed() / truth, 1.0, 0.02);
}

TEST(HighResTimer, UseTscWritesOnATimeStampMachine)
{
    if (!hr::timeStampCounterUsable())
        GTEST_SKIP() << "no invariant time-stamp counter";
    // Creation returns while its hour-long calibration runs; every write below that starts
    // another one cancels the running one.
    THighResTimer t(nullptr, kHour);
    EXPECT_TRUE(t.Calibrating());
    t.setUseTSC(true); // unchanged: no new calibration, the running one goes on
    EXPECT_TRUE(t.Calibrating());

    // With the worker running the choice stays, but the calibration still runs.
    t.setEnabled(true);
    t.setUseTSC(false);
    EXPECT_TRUE(t.UseTSC());
    EXPECT_TRUE(t.Calibrating());

    // Without a worker: the performance counter at once, no waiting.
    t.setEnabled(false);
    t.setUseTSC(false);
    EXPECT_FALSE(t.UseTSC());
    EXPECT_FALSE(t.Calibrating());
    EXPECT_DOUBLE_EQ(t.CountSpeed(), 1000.0);
    const std::int64_t before = monotonicNs();
    const std::int64_t count = t.ReadCounter();
    EXPECT_GE(count, before);
    EXPECT_LE(count, monotonicNs());

    t.setUseTSC(true);
    EXPECT_TRUE(t.UseTSC());
    EXPECT_TRUE(t.Calibrating());
} // destroyed while calibrating

TEST(HighResTimer, WorkerSamplesEachPeriodAndEndsCleanly)
{
    const std::set<int> threads = tasks();
    const qsizetype fds = entries("/proc/self/fd");
    int lastWorker = 0;
    {
        THighResTimer t(nullptr, kHour, THighResTimer::Counters::PerformanceOnly);
        t.setResolution(1);
        t.setEnabled(true);
        TMMTimerThread *worker = t.Worker();
        ASSERT_NE(worker, nullptr);
        EXPECT_EQ(worker->Period(), 1u);
        EXPECT_EQ(worker->Accuracy(), 0u);
        // A wait takes the worker's latest signal, which may have been given before the wait began
        // for a sample taken earlier still: the sample that ends the third wait from a moment on
        // is the first one surely taken after it.
        auto sampleAfterThreeWaits = [worker] {
            for (int i = 0; i < 3; ++i)
                if (!worker->WaitForSample(5000))
                    return std::int64_t{-1};
            return worker->LatestSample();
        };
        const std::int64_t before = monotonicNs();
        const std::int64_t first = sampleAfterThreeWaits();
        EXPECT_GE(first, before); // a sample of the chosen counter, taken after the start
        EXPECT_GT(sampleAfterThreeWaits(), first);

        t.setEnabled(true); // again: still one worker
        EXPECT_EQ(t.Worker(), worker);
        const int tid = worker->ThreadId();
        EXPECT_EQ(tasksBesides(threads), std::set<int>{tid});

        t.setAccuracy(2);
        t.setResolution(5);
        EXPECT_EQ(worker->Accuracy(), 2u);
        EXPECT_EQ(worker->Period(), 5u);

        t.setEnabled(false);
        EXPECT_EQ(t.Worker(), nullptr);
        EXPECT_TRUE(threadGone(tid));
        EXPECT_EQ(entries("/proc/self/fd"), fds);
        t.setEnabled(false); // no worker: nothing

        // A fresh worker; then the timer is destroyed while it runs.
        t.setEnabled(true);
        ASSERT_NE(t.Worker(), nullptr);
        EXPECT_EQ(t.Worker()->Period(), 5u);
        EXPECT_TRUE(t.Worker()->WaitForSample(5000));
        lastWorker = t.Worker()->ThreadId();
    }
    EXPECT_TRUE(threadGone(lastWorker));
    EXPECT_EQ(entries("/proc/self/fd"), fds);

    // In a designer, Enabled starts nothing.
    THighResTimer d(nullptr, kHour, THighResTimer::Counters::PerformanceOnly);
    d.setDesigning(true);
    d.setEnabled(true);
    EXPECT_TRUE(d.Enabled());
    EXPECT_EQ(d.Worker(), nullptr);
}

TEST(HighResTimer, NeitherAPeriodChangeNorAStopWaitsForTheNextExpiry)
{
    int first = 0, second = 0;
    {
        THighResTimer t(nullptr, kHour, THighResTimer::Counters::PerformanceOnly);
        t.setResolution(kHour);
        t.setEnabled(true);
        ASSERT_NE(t.Worker(), nullptr);
        first = t.Worker()->ThreadId();
        EXPECT_FALSE(t.Worker()->WaitForSample(30));
        t.setResolution(1); // re-armed at once, not after the hour
        EXPECT_TRUE(t.Worker()->WaitForSample(5000));
        t.setResolution(kHour);
        t.setEnabled(false); // ends without the hour's expiry
        EXPECT_TRUE(threadGone(first));
        t.setEnabled(true);
        ASSERT_NE(t.Worker(), nullptr);
        second = t.Worker()->ThreadId();
    } // destroyed while enabled
    EXPECT_TRUE(threadGone(second));
}

TEST(HighResTimer, ThreadPriorityAndClassActOnARunningWorkerOnly)
{
    THighResTimer t(nullptr, kHour, THighResTimer::Counters::PerformanceOnly);
    t.setThreadPriority(tpLowest);
    t.setThreadClass(tcIdle);
    t.setEnabled(true);
    ASSERT_NE(t.Worker(), nullptr);
    const int tid = t.Worker()->ThreadId();
    ASSERT_NE(tid, 0);
    // A new worker runs as its creator does, whatever the properties hold.
    EXPECT_EQ(niceOf(tid), niceOf(hr::currentThreadId()));
    EXPECT_EQ(hr::threadScheduling(tid).policy, hr::Policy::Normal);

    // Lowering a priority is always allowed.
    if (niceOf(tid) > 10)
        GTEST_SKIP() << "the tests already run below the lowest priority";
    t.setThreadPriority(tpLowest);
    EXPECT_EQ(niceOf(tid), 10);
    t.setThreadPriority(tpIdle);
    EXPECT_EQ(niceOf(tid), 19);
    // Raising it needs a privilege; without it the write is kept and the worker stays as it was.
    EXPECT_NO_THROW(t.setThreadPriority(tpHigher));
    EXPECT_EQ(t.ThreadPriority(), tpHigher);
    const int nice = niceOf(tid);
    EXPECT_TRUE(nice == -5 || nice == 19) << nice;

    t.setThreadClass(tcIdle);
    EXPECT_EQ(t.ThreadClass(), tcIdle);
    EXPECT_EQ(hr::threadScheduling(tid).policy, hr::Policy::Idle);
    EXPECT_TRUE(t.Worker()->WaitForSample(5000)); // still sampling
}

TEST(HighResTimer, MainWindowCarriesOneThatDoesNotHoldUpStartUp)
{
    Desk desk;
    TFormMain &form = desk.create();
    THighResTimer *timer = form.HighResTimer1;
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->objectName(), QStringLiteral("HighResTimer1"));
    EXPECT_EQ(timer->Accuracy(), 0u);
    EXPECT_EQ(timer->Resolution(), 10u);
    EXPECT_FALSE(timer->Enabled());
    EXPECT_EQ(timer->Worker(), nullptr);
    EXPECT_EQ(timer->UseTSC(), timer->TSC());
    // The window is there while the 3 s calibration still runs; closing it cancels that.
    if (timer->TSC()) {
        EXPECT_TRUE(timer->Calibrating());
    }
    desk.destroy();
}
