#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "serial/comm_buffer.h"

namespace zp {
namespace {

std::string Held(const TVaCommBuffer& b) {
    return std::string(reinterpret_cast<const char*>(b.Storage()), static_cast<size_t>(b.Size()));
}

TEST(CommBuffer, AppendAndRemoveKeepOrder) {
    // Capacity 8; each step appends text or removes a count.
    struct Step {
        const char* append;  // nullptr: remove
        int32_t remove;
        bool accepted;
        const char* held;
    };
    const std::vector<Step> steps = {
        {"abc", 0, true, "abc"},
        {"defgh", 0, true, "abcdefgh"},  // exactly the free space
        {"i", 0, false, "abcdefgh"},     // full: refused whole, nothing changes
        {nullptr, 2, true, "cdefgh"},    // the rest moves to the front
        {"ijk", 0, false, "cdefgh"},     // one byte too many
        {"ij", 0, true, "cdefghij"},
        {nullptr, 0, true, "cdefghij"},
        {nullptr, -3, true, "cdefghij"},  // nonsense counts change nothing
        {nullptr, 7, true, "j"},
        {nullptr, 5, true, ""},  // more than held empties the queue
        {"", 0, true, ""},
    };
    TVaCommBuffer b(8);
    EXPECT_EQ(b.Capacity(), 8);
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        if (s.append != nullptr) {
            const auto n = static_cast<int32_t>(std::char_traits<char>::length(s.append));
            EXPECT_EQ(b.Append(s.append, n), s.accepted) << "step " << i;
        } else {
            b.Remove(s.remove);
        }
        EXPECT_EQ(Held(b), s.held) << "step " << i;
        EXPECT_EQ(b.Free(), 8 - b.Size()) << "step " << i;
    }
}

TEST(CommBuffer, StorageNeverMoves) {
    TVaCommBuffer b(4);
    const uint8_t* storage = b.Storage();
    b.Append("ab", 2);
    b.Remove(1);
    b.Append("cde", 3);
    EXPECT_EQ(b.Storage(), storage);
    EXPECT_EQ(Held(b), "bcde");
}

TEST(Deadline, ElapsedAndExpiryAcrossTheWrap) {
    struct Case {
        uint32_t start, now, timeout;
        uint32_t elapsed;
        bool expired;
        uint32_t remaining;
    };
    const Case cases[] = {
        {1000, 1000, 0, 0, false, 1},
        {1000, 1001, 0, 1, true, 0},
        {1000, 1500, 500, 500, false, 1},  // exactly the time-out: not yet
        {1000, 1501, 500, 501, true, 0},
        {1000, 1200, 500, 200, false, 301},
        // wrapped past zero: 16 ticks to reach 0, then 5 more
        {0xFFFFFFF0u, 5, 21, 21, false, 1},
        {0xFFFFFFF0u, 5, 20, 21, true, 0},
        {0xFFFFFFFFu, 0, 0, 1, true, 0},
        {0xFFFFFFF0u, 0xFFFFFFFFu, 20, 15, false, 6},
        // no limit never expires
        {5, 4, 0xFFFFFFFFu, 0xFFFFFFFFu, false, 1},
        {7, 7, 0xFFFFFFFFu, 0, false, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        uint32_t tick = c.start;
        Deadline d(c.timeout, [&tick] { return tick; });
        tick = c.now;
        EXPECT_EQ(d.Start(), c.start);
        EXPECT_EQ(d.Elapsed(), c.elapsed) << c.start << " -> " << c.now;
        EXPECT_EQ(d.Expired(), c.expired) << c.start << " -> " << c.now << " / " << c.timeout;
        EXPECT_EQ(d.Remaining(), c.remaining) << c.start << " -> " << c.now << " / " << c.timeout;
    }
}

TEST(Deadline, RealTickCountAdvances) {
    Deadline d(30);
    EXPECT_FALSE(d.Expired());
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_TRUE(d.Expired());
    EXPECT_GE(d.Elapsed(), 31u);
}

}  // namespace
}  // namespace zp
