#pragma once
// What several benchmarks share: busy loops on every core, as a laptop has them while a compiler or
// a browser runs beside the desk, and whole reads and writes on the pipes between a benchmark's
// processes.

#include <algorithm>
#include <cstddef>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

// One busy loop per core at normal priority, until stopBusyLoops.
inline std::vector<pid_t> startBusyLoops()
{
    std::vector<pid_t> loops;
    const long cores = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
    for (long i = 0; i < cores; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            volatile unsigned long n = 0;
            for (;;)
                n = n + 1;
        }
        if (pid > 0)
            loops.push_back(pid);
    }
    return loops;
}

inline void stopBusyLoops(const std::vector<pid_t> &loops)
{
    for (const pid_t pid : loops)
        ::kill(pid, SIGKILL);
    for (const pid_t pid : loops)
        ::waitpid(pid, nullptr, 0);
}

// Reads exactly size bytes; false when the other end closed or failed first.
inline bool readAll(int fd, void *data, std::size_t size)
{
    auto *p = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

inline void writeAll(int fd, const void *data, std::size_t size)
{
    const auto *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n <= 0)
            return;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}
