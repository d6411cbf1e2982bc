// The times of virtual line edges when the real-time clock moves: the kernel stamps each message
// on that clock, which a time service may step at any moment. This test binary's own
// clock_gettime stands in front of the C library's and shifts what CLOCK_REALTIME reads while a
// test asks it to; everything else reads the clocks unchanged.

#include "FakePlatform.h"
#include "SerialLinux.h"
#include "VirtualLines.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::atomic<std::int64_t> realtimeShiftNs{0};

using ClockRead = int (*)(clockid_t, timespec *);

ClockRead libraryClock()
{
    static const ClockRead next = reinterpret_cast<ClockRead>(dlsym(RTLD_NEXT, "clock_gettime"));
    return next;
}

} // namespace

extern "C" int clock_gettime(clockid_t clock, timespec *ts) noexcept
{
    const ClockRead next = libraryClock();
    const int result = next ? next(clock, ts) : static_cast<int>(::syscall(SYS_clock_gettime, clock, ts));
    const std::int64_t shift = realtimeShiftNs.load();
    if (result == 0 && clock == CLOCK_REALTIME && shift != 0) {
        const std::int64_t ns = static_cast<std::int64_t>(ts->tv_sec) * 1000000000 + ts->tv_nsec + shift;
        ts->tv_sec = static_cast<time_t>(ns / 1000000000);
        ts->tv_nsec = static_cast<long>(ns % 1000000000);
    }
    return result;
}

using namespace platform;

TEST(VirtualLines, AnEdgeIsNeverDatedAfterItWasReadNorBeforeTheEdgeAheadOfIt)
{
    constexpr std::int64_t hour = 3600LL * 1000000000;
    fake::SerialDevices serial;
    VirtualLineServer server(serial.socketFor(1));
    ASSERT_TRUE(server.start());
    std::unique_ptr<SerialDevice> device = serial.devices.open(1, SerialSettings{});
    ASSERT_TRUE(server.waitForDesk(2000));

    // Reads what was sent while the real-time clock reads `shift` away from what it read when
    // the kernel stamped the messages; every edge goes to `all`, and each must lie between the
    // sending and the end of the read.
    std::vector<LineEdge> all;
    auto sendAndRead = [&](std::int64_t shift, auto &&send) {
        const std::int64_t before = monotonicNanos();
        send();
        unsigned received = 0;
        LineEdges edges;
        realtimeShiftNs = shift;
        const SerialDevice::Wait wait = device->waitEvents(EvCts | EvDsr | EvRlsd, received, edges);
        realtimeShiftNs = 0;
        const std::int64_t after = monotonicNanos();
        EXPECT_EQ(wait, SerialDevice::Wait::Events);
        for (const LineEdge &e : edges) {
            EXPECT_LE(e.nanos, after);
            EXPECT_LE(e.nanos, e.seen);
            EXPECT_GE(e.nanos, std::min(before, all.empty() ? before : all.back().nanos));
            all.push_back(e);
        }
        return edges.size();
    };

    // The clock stepped back an hour since the stamp: the stamp looks an hour ahead.
    EXPECT_EQ(sendAndRead(-hour, [&] { server.set(LineDsr, true); }), 1u);
    // Stepped forward an hour: the stamps look an hour old, older than the edge read before.
    EXPECT_EQ(sendAndRead(hour, [&] {
                  server.set(LineDsr, false);
                  server.set(LineCts, true);
              }),
              2u);
    // And back to a clock that agrees with the stamps.
    EXPECT_EQ(sendAndRead(0, [&] { server.set(LineCts, false); }), 1u);
    ASSERT_EQ(all.size(), 4u);
    for (std::size_t i = 1; i < all.size(); ++i)
        EXPECT_GE(all[i].nanos, all[i - 1].nanos) << i;
}
