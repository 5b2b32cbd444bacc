#include "serial/VaObjects.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <vector>

namespace zp {

namespace {

int64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

int PollFor(pollfd* fds, size_t count, uint32_t timeoutMs) {
    const bool forever = timeoutMs == kInfinite;
    const int64_t end = MonotonicMs() + timeoutMs;
    for (;;) {
        int slice = -1;
        if (!forever) {
            const int64_t left = end - MonotonicMs();
            slice = left <= 0 ? 0 : static_cast<int>(left > INT_MAX ? INT_MAX : left);
        }
        const int n = poll(fds, static_cast<nfds_t>(count), slice);
        if (n > 0) {
            return n;
        }
        if (n < 0 && errno != EINTR) {
            return -1;
        }
        // A time-out of a slice shorter than the whole, or a signal: go on
        // with what is left.
        if (n == 0 && !forever && MonotonicMs() >= end) {
            return 0;
        }
    }
}

TVaHandleObject::~TVaHandleObject() {
    if (handle_ >= 0) {
        close(handle_);
    }
}

TWaitResult TVaHandleObject::WaitFor(uint32_t timeoutMs) {
    const TVaHandleObject* self = this;
    const TMultiWaitResult r = WaitForMultiple(&self, 1, timeoutMs);
    if (r.Result == WaitError) {
        lastError_ = r.Error;
    }
    return r.Result;
}

bool TVaEvent::SetEvent() {
    const uint64_t one = 1;
    // The counter only saturates after 2^64 sets; EAGAIN then means "already
    // signalled", which is what the caller wanted.
    if (write(handle_, &one, sizeof one) == sizeof one || errno == EAGAIN) {
        return true;
    }
    lastError_ = static_cast<uint32_t>(errno);
    return false;
}

bool TVaEvent::ResetEvent() {
    uint64_t value = 0;
    // Reading zeroes the counter; EAGAIN means it was already zero.
    if (read(handle_, &value, sizeof value) == sizeof value || errno == EAGAIN) {
        return true;
    }
    lastError_ = static_cast<uint32_t>(errno);
    return false;
}

TVaWaitEvent::TVaWaitEvent() {
    handle_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (handle_ < 0) {
        lastError_ = static_cast<uint32_t>(errno);
    }
}

TMultiWaitResult WaitForMultiple(const TVaHandleObject* const* objects, size_t count,
                                 uint32_t timeoutMs) {
    TMultiWaitResult r;
    if (count == 0) {
        r.Error = EINVAL;
        return r;
    }
    // Small lists are the rule (two or three events); avoid the heap for them.
    pollfd local[4];
    std::vector<pollfd> heap;
    pollfd* fds = local;
    if (count > 4) {
        heap.resize(count);
        fds = heap.data();
    }
    for (size_t i = 0; i < count; ++i) {
        // poll() skips negative descriptors, which would turn a missing event
        // into a silent sleep.
        if (objects[i] == nullptr || objects[i]->Handle() < 0) {
            r.Error = EBADF;
            return r;
        }
        fds[i] = pollfd{objects[i]->Handle(), POLLIN, 0};
    }
    const int n = PollFor(fds, count, timeoutMs);
    if (n < 0) {
        r.Error = static_cast<uint32_t>(errno);
        return r;
    }
    if (n == 0) {
        r.Result = WaitTimeout;
        return r;
    }
    for (size_t i = 0; i < count; ++i) {
        if (fds[i].revents & POLLNVAL) {
            r.Error = EBADF;
            return r;
        }
        if (fds[i].revents & POLLIN) {
            r.Result = WaitSignalled;
            r.Index = static_cast<int>(i);
            return r;
        }
    }
    // Ready without being readable (an error condition on the descriptor).
    r.Error = EIO;
    return r;
}

TMultiWaitResult WaitForMultiple(std::initializer_list<const TVaHandleObject*> objects,
                                 uint32_t timeoutMs) {
    return WaitForMultiple(objects.begin(), objects.size(), timeoutMs);
}

}  // namespace zp
