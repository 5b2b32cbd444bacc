#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "serial/main_thread.h"
#include "tests/serial/test_main_loop.h"

namespace zp {
namespace {

using test::TTestMainLoop;

TEST(Synchronize, FromTheMainThreadRunsAtOnce) {
    TTestMainLoop loop;
    bool ran = false;
    EXPECT_TRUE(IsMainThread());
    EXPECT_EQ(Synchronize([&] { ran = true; }), TSyncResult::Ran);
    EXPECT_TRUE(ran);
    EXPECT_EQ(loop.CallsRun(), 0);  // not through the queue
}

TEST(Synchronize, WorkerWaitsUntilTheMainThreadRanTheCall) {
    TTestMainLoop loop;
    const auto mainId = std::this_thread::get_id();
    std::thread::id ranIn;
    int value = 0;  // plain int: only the main thread writes it
    std::atomic<bool> workerDone{false};
    int seenByWorker = -1;
    std::thread worker([&] {
        EXPECT_FALSE(IsMainThread());
        const TSyncResult r = Synchronize([&] {
            ranIn = std::this_thread::get_id();
            value = 42;
        });
        EXPECT_EQ(r, TSyncResult::Ran);
        seenByWorker = value;  // the call has run by now
        workerDone = true;
    });
    ASSERT_TRUE(loop.RunUntil([&] { return workerDone.load(); }));
    worker.join();
    EXPECT_EQ(ranIn, mainId);
    EXPECT_EQ(seenByWorker, 42);
}

TEST(Synchronize, ExceptionsGoToTheErrorDisplayOnce) {
    struct Case {
        std::function<void()> call;
        const char* shown;
    };
    const std::vector<Case> cases = {
        {[] { throw std::runtime_error("Read error (5), Input/output error"); },
         "Read error (5), Input/output error"},
        {[] { throw 7; }, "Unknown exception"},
    };
    for (const Case& c : cases) {
        TTestMainLoop loop;
        std::vector<TSyncResult> results;
        std::atomic<bool> done{false};
        std::thread worker([&] {
            results.push_back(Synchronize(c.call));
            // The worker carries on: a later call still runs.
            results.push_back(Synchronize([] {}));
            done = true;
        });
        ASSERT_TRUE(loop.RunUntil([&] { return done.load(); }));
        worker.join();
        EXPECT_EQ(results, (std::vector<TSyncResult>{TSyncResult::Raised, TSyncResult::Ran}));
        EXPECT_EQ(loop.Errors(), std::vector<std::string>{c.shown});
        // Thrown in the main thread itself: same report.
        EXPECT_EQ(Synchronize(c.call), TSyncResult::Raised);
        EXPECT_EQ(loop.Errors().size(), 2u);
    }
}

TEST(Synchronize, ShowExceptionFromAWorkerReachesTheMainThread) {
    TTestMainLoop loop;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        ShowException(std::make_exception_ptr(std::runtime_error("hung up")));
        done = true;
    });
    ASSERT_TRUE(loop.RunUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(loop.Errors(), std::vector<std::string>{"hung up"});
}

// An owner that is destroyed while its worker's call is still queued: the
// call must not run, and the worker gets its answer instead of hanging.
TEST(Synchronize, CancelledTokenSkipsAQueuedCall) {
    TTestMainLoop loop;
    struct Owner {
        int events = 0;
    };
    auto owner = std::make_unique<Owner>();
    Owner* raw = owner.get();
    auto token = std::make_shared<TSyncToken>();
    std::atomic<bool> queued{false};
    std::atomic<bool> done{false};
    TSyncResult result = TSyncResult::Ran;
    std::thread worker([&, token] {
        queued = true;
        result = Synchronize(token, [raw] { ++raw->events; });
        done = true;
    });
    // Wait until the call is in the queue without running it.
    while (!queued) {
        std::this_thread::yield();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    token->Cancel();
    owner.reset();  // ASan would see a call that touched it now
    ASSERT_TRUE(loop.RunUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(result, TSyncResult::Cancelled);
    // Already cancelled: refused without a trip to the main thread.
    EXPECT_EQ(Synchronize(token, [] { FAIL(); }), TSyncResult::Cancelled);
}

// The main thread closes (cancels) from inside the worker's own call, as Close
// inside OnRxChar does: the running call finishes, later ones are skipped.
TEST(Synchronize, CancelInsideTheRunningCall) {
    TTestMainLoop loop;
    auto token = std::make_shared<TSyncToken>();
    std::vector<TSyncResult> results;
    int ran = 0;
    std::atomic<bool> done{false};
    std::thread worker([&, token] {
        results.push_back(Synchronize(token, [&] {
            token->Cancel();
            ++ran;
        }));
        results.push_back(Synchronize(token, [&] { ++ran; }));
        done = true;
    });
    ASSERT_TRUE(loop.RunUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(results, (std::vector<TSyncResult>{TSyncResult::Ran, TSyncResult::Cancelled}));
}

TEST(Synchronize, EndedLoopReleasesABlockedWorker) {
    std::atomic<bool> done{false};
    TSyncResult result = TSyncResult::Ran;
    std::thread worker;
    {
        TTestMainLoop loop;
        worker = std::thread([&] {
            result = Synchronize([] { FAIL() << "ran after the loop ended"; });
            done = true;
        });
        // Give the worker time to queue; the loop is never run.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    worker.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(result, TSyncResult::Cancelled);
}

TEST(Synchronize, ManyWorkersAreSerialisedInTheMainThread) {
    TTestMainLoop loop;
    constexpr int kWorkers = 4;
    constexpr int kCalls = 300;
    long counter = 0;  // not atomic: every increment runs in the main thread
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&] {
            for (int i = 0; i < kCalls; ++i) {
                Synchronize([&] { ++counter; });
            }
            ++finished;
        });
    }
    ASSERT_TRUE(loop.RunUntil([&] { return finished.load() == kWorkers; }));
    for (auto& w : workers) {
        w.join();
    }
    EXPECT_EQ(counter, kWorkers * kCalls);
}

TEST(Synchronize, WithoutAMainLoopCallsRunInlineOneAtATime) {
    // No loop installed: the call runs in the calling thread, serialised.
    long counter = 0;
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w) {
        workers.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                EXPECT_EQ(Synchronize([&] { ++counter; }), TSyncResult::Ran);
            }
        });
    }
    for (auto& w : workers) {
        w.join();
    }
    EXPECT_EQ(counter, 1500);
    EXPECT_FALSE(IsMainThread());
    testing::internal::CaptureStderr();
    EXPECT_EQ(Synchronize([] { throw std::runtime_error("no display"); }), TSyncResult::Raised);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "no display\n");
}

}  // namespace
}  // namespace zp

namespace zp {
namespace {

// A toolkit loop watches WakeHandle: it must be readable exactly while a call
// waits, or the loop either misses calls or wakes for nothing.
TEST(MainThreadQueue, WakeHandleFollowsTheQueue) {
    auto queue = std::make_shared<TMainThreadQueue>();
    EXPECT_FALSE(queue->WaitForCall(0));
    std::atomic<int> ran{0};
    std::thread worker([&] {
        for (int i = 0; i < 2; ++i) {
            EXPECT_TRUE(queue->Synchronize([&] { ++ran; }));
        }
    });
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(queue->WaitForCall(kInfinite));
        EXPECT_EQ(queue->RunPending(), 1);
    }
    worker.join();
    EXPECT_EQ(ran, 2);
    EXPECT_FALSE(queue->WaitForCall(0));
    queue->Shut();
    EXPECT_FALSE(queue->Synchronize([] { FAIL(); }));
}

// A worker that queues its next call as soon as the last one ran (a stream of
// receive batches) must not hold the main loop inside one RunPending.
TEST(MainThreadQueue, RunPendingRunsOnlyWhatWasQueuedWhenItStarted) {
    auto queue = std::make_shared<TMainThreadQueue>();
    constexpr int kCalls = 200;
    std::atomic<int> ran{0};
    std::thread worker([&] {
        for (int i = 0; i < kCalls; ++i) {
            queue->Synchronize([&] { ++ran; });
        }
    });
    int most = 0;
    while (ran.load() < kCalls) {
        ASSERT_TRUE(queue->WaitForCall(10000));
        most = std::max(most, queue->RunPending());
    }
    worker.join();
    EXPECT_EQ(most, 1);
    EXPECT_FALSE(queue->WaitForCall(0));
}

}  // namespace
}  // namespace zp
