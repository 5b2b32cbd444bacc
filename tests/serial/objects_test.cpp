#include <gtest/gtest.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "serial/VaObjects.h"

namespace zp {
namespace {

bool Readable(const TVaHandleObject& o) {
    pollfd p{o.Handle(), POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

TEST(WaitEvent, ManualResetSequence) {
    // Each step acts on one event, then checks WaitFor(0) and poll() agree.
    enum Op { None, Set, Reset };
    struct Step {
        Op op;
        TWaitResult expect;
    };
    const std::vector<Step> steps = {
        {None, WaitTimeout},    // created not signalled
        {Reset, WaitTimeout},   // resetting a reset event is harmless
        {Set, WaitSignalled},   //
        {None, WaitSignalled},  // a wait does not consume the signal
        {Set, WaitSignalled},   // setting twice ...
        {Reset, WaitTimeout},   // ... is undone by one reset
        {Set, WaitSignalled},   //
        {Reset, WaitTimeout},
    };
    TVaWaitEvent e;
    ASSERT_GE(e.Handle(), 0);
    for (size_t i = 0; i < steps.size(); ++i) {
        if (steps[i].op == Set) {
            ASSERT_TRUE(e.SetEvent());
        } else if (steps[i].op == Reset) {
            ASSERT_TRUE(e.ResetEvent());
        }
        EXPECT_EQ(e.WaitFor(0), steps[i].expect) << "step " << i;
        EXPECT_EQ(Readable(e), steps[i].expect == WaitSignalled) << "step " << i;
    }
}

TEST(WaitEvent, WithoutDescriptorFailsInsteadOfSleeping) {
    TVaEvent e;  // creates no descriptor
    EXPECT_EQ(e.Handle(), -1);
    EXPECT_EQ(e.WaitFor(kInfinite), WaitError);
    EXPECT_EQ(e.LastError(), static_cast<uint32_t>(EBADF));
    EXPECT_FALSE(e.SetEvent());
    EXPECT_FALSE(e.ResetEvent());
}

TEST(WaitEvent, TimeoutWaitsAtLeastThatLong) {
    TVaWaitEvent e;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(e.WaitFor(60), WaitTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(60));
}

// Two threads hand a token back and forth through two events; a lost wake-up
// would hang the test at its ctest time-out.
TEST(WaitEvent, PingPongLosesNoWakeUp) {
    TVaWaitEvent ping, pong;
    constexpr int kRounds = 2000;
    std::thread other([&] {
        for (int i = 0; i < kRounds; ++i) {
            ASSERT_EQ(ping.WaitFor(kInfinite), WaitSignalled);
            ping.ResetEvent();
            pong.SetEvent();
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        ping.SetEvent();
        ASSERT_EQ(pong.WaitFor(kInfinite), WaitSignalled);
        pong.ResetEvent();
    }
    other.join();
}

TEST(WaitForMultiple, FirstSignalledInListWins) {
    struct Case {
        bool a, b, c;
        TWaitResult result;
        int index;
    };
    const Case cases[] = {
        {false, false, false, WaitTimeout, -1}, {false, false, true, WaitSignalled, 2},
        {false, true, true, WaitSignalled, 1},  {true, true, true, WaitSignalled, 0},
        {true, false, true, WaitSignalled, 0},
    };
    for (const Case& c : cases) {
        TVaWaitEvent a, b, d;
        if (c.a)
            a.SetEvent();
        if (c.b)
            b.SetEvent();
        if (c.c)
            d.SetEvent();
        const TMultiWaitResult r = WaitForMultiple({&a, &b, &d}, 0);
        EXPECT_EQ(r.Result, c.result) << c.a << c.b << c.c;
        EXPECT_EQ(r.Index, c.index) << c.a << c.b << c.c;
    }
}

TEST(WaitForMultiple, BadListsAreErrors) {
    TVaWaitEvent good;
    TVaEvent none;
    const TMultiWaitResult empty = WaitForMultiple({}, kInfinite);
    EXPECT_EQ(empty.Result, WaitError);
    EXPECT_EQ(empty.Error, static_cast<uint32_t>(EINVAL));
    const TMultiWaitResult missing = WaitForMultiple({&good, &none}, kInfinite);
    EXPECT_EQ(missing.Result, WaitError);
    EXPECT_EQ(missing.Error, static_cast<uint32_t>(EBADF));
}

TEST(WaitForMultiple, WokenFromAnotherThread) {
    TVaWaitEvent stop, data;
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        data.SetEvent();
    });
    const TMultiWaitResult r = WaitForMultiple({&stop, &data}, kInfinite);
    setter.join();
    EXPECT_EQ(r.Result, WaitSignalled);
    EXPECT_EQ(r.Index, 1);
}

TEST(CriticalSection, ExcludesOtherThreadsAndReenters) {
    TVaCriticalSection cs;
    long counter = 0;  // deliberately not atomic: the lock must protect it
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                TVaLockGuard outer(cs);
                TVaLockGuard inner(cs);  // same thread again must not block
                ++counter;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(counter, 20000);
}

}  // namespace
}  // namespace zp
