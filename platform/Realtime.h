#pragma once
// Real-time priority for the threads that stamp line edges, obtained the ways an ordinary desktop
// user has: directly (a real-time limit or CAP_SYS_NICE), else through the desktop's RealtimeKit
// service on the system bus, else not at all.

#include "Platform.h"

#include <QObject>

#include <functional>
#include <memory>

namespace platform {

// The kernel thread id of the calling thread.
long currentThreadId();

// Keeps what a stamping thread touches in memory, so that no page fault delays a stamp: the stack
// below the caller's frame (stackBytes of it) and, once per process, the program code that
// contains this function's caller. Best effort: a lock the system refuses is left out.
void keepStampPathResident(const void *codeAddress, std::size_t stackBytes = 64 * 1024);

class SystemRealtimeScheduler final : public RealtimeScheduler {
public:
    // SCHED_FIFO at this priority: above every ordinary thread, below the kernel's interrupt
    // threads (50), at most what RealtimeKit allows by default (20). RealtimeKit grants at most its
    // own highest priority, with the policy it is set up for (SCHED_RR unless told otherwise).
    static constexpr int kPriority = 20;

    // tryDirectly false: only through RealtimeKit (the desk always tries directly first).
    explicit SystemRealtimeScheduler(bool tryDirectly = true);
    ~SystemRealtimeScheduler() override;
    void makeRealtime(long threadId, std::function<void(RealtimeGrant)> answer) override;

    // The direct way alone: true when the thread runs SCHED_FIFO now, false when the system
    // refused (then RealtimeKit is asked).
    static bool makeRealtimeDirectly(long threadId);

private:
    // One thread's request to RealtimeKit while the service's limits are read.
    struct KitRequest {
        long threadId = 0;
        std::function<void(RealtimeGrant)> answer;
        qlonglong maxPriority = 20;       // the service's defaults, where it does not tell
        qlonglong rtTimeUSecMax = 200000; // microseconds
        int pending = 2;                  // limits still to be read
    };
    void askRealtimeKit(long threadId, std::function<void(RealtimeGrant)> answer);
    void makeThreadRealtime(KitRequest &request);
    bool tryDirectly_;
    std::unique_ptr<QObject> context_; // owns the pending bus calls: none answers after the end
};

// A scheduler that never grants: the desk as it runs without the right.
class NoRealtimeScheduler final : public RealtimeScheduler {
public:
    void makeRealtime(long, std::function<void(RealtimeGrant)> answer) override { answer(RealtimeGrant::Denied); }
};

} // namespace platform
