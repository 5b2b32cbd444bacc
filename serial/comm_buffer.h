// The write thread's queue and the deadline of a bounded wait for room in it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace zp {

// Fixed-capacity byte queue: storage is allocated once, never grows, and the
// held bytes always start at the beginning of Storage (one platform write
// takes them all). Not thread-safe; the owner's lock guards it.
class TVaCommBuffer {
  public:
    explicit TVaCommBuffer(int32_t capacity);
    TVaCommBuffer(const TVaCommBuffer&) = delete;
    TVaCommBuffer& operator=(const TVaCommBuffer&) = delete;

    uint8_t* Storage() { return storage_.get(); }
    const uint8_t* Storage() const { return storage_.get(); }
    int32_t Size() const { return size_; }
    int32_t Capacity() const { return capacity_; }
    int32_t Free() const { return capacity_ - size_; }

    // Copies count bytes to the end. Bytes that do not fit are refused as a
    // whole (false, nothing copied) rather than written past the storage.
    bool Append(const void* data, int32_t count);
    // Drops the first count bytes and moves the rest to the front. A count
    // above Size empties the queue; a negative count does nothing.
    void Remove(int32_t count);

  private:
    std::unique_ptr<uint8_t[]> storage_;
    int32_t capacity_;
    int32_t size_ = 0;
};

// The 32-bit millisecond tick count of the monotonic clock; wraps round about
// every 49.7 days.
uint32_t TickCount();

using TTickSource = std::function<uint32_t()>;

// A start tick and a time-out in milliseconds. Elapsed time is counted modulo
// 2^32, so a tick count that wrapped past zero since the start still gives the
// true elapsed time. A time-out of 0xFFFFFFFF never expires.
class Deadline {
  public:
    explicit Deadline(uint32_t timeoutMs, TTickSource tick = TickCount);

    // True when more than the time-out has passed since the start.
    bool Expired() const { return Elapsed() > timeoutMs_; }
    uint32_t Elapsed() const { return tick_() - start_; }
    // Milliseconds until the deadline expires, 0 once it has. One more
    // millisecond than the difference, since expiry needs "more than".
    uint32_t Remaining() const;

    uint32_t Start() const { return start_; }
    uint32_t Timeout() const { return timeoutMs_; }

  private:
    TTickSource tick_;
    uint32_t start_;
    uint32_t timeoutMs_;
};

}  // namespace zp
