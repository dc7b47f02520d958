#pragma once

// QThread::wait(), QThread::finished and posted events synchronise inside
// libQt5Core, where ThreadSanitizer cannot see it (Debian's Qt is not built
// with it). These two calls mark the same edges for it: a thread that ends
// its run() releases, whoever may touch what it used after it has finished
// (its destructor, its waiter) acquires. They compile to nothing otherwise.
#if defined(__SANITIZE_THREAD__)
#define KESTROLUNE_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KESTROLUNE_TSAN 1
#endif
#endif

#ifdef KESTROLUNE_TSAN
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
#endif

namespace platform {

inline void markThreadRunEnded([[maybe_unused]] const void *thread)
{
#ifdef KESTROLUNE_TSAN
    __tsan_release(const_cast<void *>(thread));
#endif
}

inline void markThreadJoined([[maybe_unused]] const void *thread)
{
#ifdef KESTROLUNE_TSAN
    __tsan_acquire(const_cast<void *>(thread));
#endif
}

} // namespace platform
