// Synchronisation objects of the serial component: events that can be polled
// together with a port descriptor, a time-limited wait, a lock.
#pragma once

#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <thread>

namespace zp {

// Wait time-out meaning "no limit".
constexpr uint32_t kInfinite = 0xFFFFFFFF;

enum TWaitResult { WaitSignalled, WaitTimeout, WaitAbandoned, WaitError };

// Owns a pollable descriptor. Linux has no abandoned objects, so WaitFor never
// returns WaitAbandoned; the value exists for callers that test for it.
class TVaHandleObject {
  public:
    TVaHandleObject() = default;
    TVaHandleObject(const TVaHandleObject&) = delete;
    TVaHandleObject& operator=(const TVaHandleObject&) = delete;
    virtual ~TVaHandleObject();

    // The descriptor, -1 when none was created.
    int Handle() const { return handle_; }
    // errno of the last failed operation on this object, 0 when none failed.
    uint32_t LastError() const { return lastError_.load(std::memory_order_relaxed); }

    // Waits until the descriptor is readable, at most timeoutMs milliseconds
    // (kInfinite: no limit). Does not consume the signal.
    TWaitResult WaitFor(uint32_t timeoutMs);

  protected:
    int handle_ = -1;
    // Several threads may wait on one object and fail together.
    std::atomic<uint32_t> lastError_{0};
};

// An event on an eventfd: readable while signalled.
class TVaEvent : public TVaHandleObject {
  public:
    // Both return false and set LastError when the descriptor refuses.
    bool SetEvent();
    bool ResetEvent();
};

// Unnamed manual-reset event, created not signalled: it stays signalled until
// ResetEvent, however many threads wait or poll it.
class TVaWaitEvent : public TVaEvent {
  public:
    TVaWaitEvent();
};

// Re-entrant lock, like the platform critical section it stands for: a
// handler that calls back into the component under a lock does not deadlock
// its own thread.
class TVaCriticalSection {
  public:
    TVaCriticalSection() = default;
    TVaCriticalSection(const TVaCriticalSection&) = delete;
    TVaCriticalSection& operator=(const TVaCriticalSection&) = delete;
    ~TVaCriticalSection() = default;

    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }

    // BasicLockable, so standard guards and condition_variable_any work too.
    void lock() { Enter(); }
    void unlock() { Leave(); }

  private:
    std::recursive_mutex mutex_;
};

// Holds a TVaCriticalSection for one scope.
class TVaLockGuard {
  public:
    explicit TVaLockGuard(TVaCriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    ~TVaLockGuard() { cs_.Leave(); }
    TVaLockGuard(const TVaLockGuard&) = delete;
    TVaLockGuard& operator=(const TVaLockGuard&) = delete;

  private:
    TVaCriticalSection& cs_;
};

// Outcome of WaitForMultiple: with WaitSignalled, Index is the position of the
// first signalled object in the list; with WaitError, Error holds the errno.
struct TMultiWaitResult {
    TWaitResult Result = WaitError;
    int Index = -1;
    uint32_t Error = 0;
};

// Waits until at least one object is signalled, at most timeoutMs
// milliseconds. When several are signalled, the earliest in the list wins.
// An object without a descriptor, or an empty list, is a WaitError (EBADF,
// EINVAL) rather than a silent wait.
TMultiWaitResult WaitForMultiple(const TVaHandleObject* const* objects, size_t count,
                                 uint32_t timeoutMs);
TMultiWaitResult WaitForMultiple(std::initializer_list<const TVaHandleObject*> objects,
                                 uint32_t timeoutMs);

// Waits up to us microseconds for done() without sleeping, for hand-overs
// that another thread completes sooner than a sleep and a wake-up would
// take. Yields between looks, so a thread being waited for that shares the
// CPU, or any other work, still runs. True when done() held.
template <typename Pred>
bool SpinFor(uint32_t us, Pred done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
    for (;;) {
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::yield();
    }
}

// Polls descriptors for readability with a millisecond limit (kInfinite: none),
// restarting after signals with the time that is left. Returns what poll()
// returns: the number of ready descriptors, 0 on time-out, -1 with errno set.
// For the event thread, which polls the port together with its events.
int PollFor(pollfd* fds, size_t count, uint32_t timeoutMs);

}  // namespace zp
