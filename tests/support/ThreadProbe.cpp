#include "ThreadProbe.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

thread_local bool counting = false;
std::atomic<std::uint64_t> allocations{0};
std::atomic<std::uint64_t> locks{0};

void *allocate(std::size_t size, std::size_t alignment)
{
    if (counting)
        allocations.fetch_add(1, std::memory_order_relaxed);
    size = size == 0 ? 1 : size;
    void *p = alignment <= alignof(std::max_align_t)
                  ? std::malloc(size)
                  : std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    if (!p)
        throw std::bad_alloc();
    return p;
}

} // namespace

namespace probe {

void countThisThread(bool on)
{
    counting = on;
}

Counts counts()
{
    return {allocations.load(), locks.load()};
}

} // namespace probe

namespace {

using MutexLock = int (*)(pthread_mutex_t *);

// The C library's lock, looked up before main (the program has one thread then).
MutexLock libraryLock()
{
    static const MutexLock lock = reinterpret_cast<MutexLock>(::dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    return lock;
}
const MutexLock lookedUp = libraryLock();

} // namespace

extern "C" int pthread_mutex_lock(pthread_mutex_t *mutex) noexcept
{
    if (counting)
        locks.fetch_add(1, std::memory_order_relaxed);
    return (lookedUp ? lookedUp : libraryLock())(mutex);
}

void *operator new(std::size_t size)
{
    return allocate(size, 0);
}
void *operator new[](std::size_t size)
{
    return allocate(size, 0);
}
void *operator new(std::size_t size, std::align_val_t alignment)
{
    return allocate(size, static_cast<std::size_t>(alignment));
}
void *operator new[](std::size_t size, std::align_val_t alignment)
{
    return allocate(size, static_cast<std::size_t>(alignment));
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete[](void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete[](void *p, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete(void *p, std::size_t, std::align_val_t) noexcept
{
    std::free(p);
}
void operator delete[](void *p, std::size_t, std::align_val_t) noexcept
{
    std::free(p);
}
