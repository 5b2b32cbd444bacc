#include "serial/comm_buffer.h"

#include <time.h>

#include <cstring>
#include <utility>

namespace zp {

TVaCommBuffer::TVaCommBuffer(int32_t capacity)
    : storage_(new uint8_t[capacity > 0 ? static_cast<size_t>(capacity) : 1]),
      capacity_(capacity > 0 ? capacity : 0) {}

bool TVaCommBuffer::Append(const void* data, int32_t count) {
    if (count <= 0) {
        return count == 0;
    }
    if (count > capacity_ - size_) {
        return false;
    }
    std::memcpy(storage_.get() + size_, data, static_cast<size_t>(count));
    size_ += count;
    return true;
}

void TVaCommBuffer::Remove(int32_t count) {
    if (count <= 0) {
        return;
    }
    if (count >= size_) {
        size_ = 0;
        return;
    }
    std::memmove(storage_.get(), storage_.get() + count, static_cast<size_t>(size_ - count));
    size_ -= count;
}

uint32_t TickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

Deadline::Deadline(uint32_t timeoutMs, TTickSource tick)
    : tick_(std::move(tick)), start_(tick_()), timeoutMs_(timeoutMs) {}

uint32_t Deadline::Remaining() const {
    const uint32_t elapsed = Elapsed();
    if (elapsed > timeoutMs_) {
        return 0;
    }
    const uint32_t left = timeoutMs_ - elapsed;
    return left == 0xFFFFFFFFu ? left : left + 1;
}

}  // namespace zp
