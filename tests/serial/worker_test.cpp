// The worker base on its own: every way a worker can end leaves no thread
// behind, and End never waits for a worker whose call it runs inside.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "serial/comm_session.h"
#include "tests/serial/test_main_loop.h"

namespace zp {
namespace {

using namespace std::chrono_literals;

class TNullSink final : public ICommSink {
  public:
    void DoRxChar() override {}
    void DoEvents(uint32_t) override {}
};

// Blocks on its wake event until stopped, or makes one main-thread call
// first, or returns at once.
class TProbeWorker final : public TCommWorker {
  public:
    enum TBody { kBlock, kCallThenBlock, kReturn };
    TProbeWorker(ICommSink& sink, TBody body, std::function<void()> call)
        : TCommWorker("zp-test-worker", sink, std::make_shared<TVaPortSession>()),
          body_(body),
          call_(std::move(call)) {}
    int InitError() const override { return 0; }
    std::atomic<bool> sawStop{false};

  private:
    void Execute() override {
        if (body_ == kReturn) {
            return;
        }
        if (body_ == kCallThenBlock) {
            CallMain(call_);
        }
        while (!Terminated()) {
            wake_.WaitFor(kInfinite);
        }
        sawStop = true;
    }
    void WakeToStop() override { wake_.SetEvent(); }

    const TBody body_;
    const std::function<void()> call_;
    TVaWaitEvent wake_;
};

TEST(CommWorker, EveryWayToEndLeavesNoThread) {
    const struct {
        const char* name;
        TProbeWorker::TBody body;
        bool endInsideCall;
        bool sawStop;
    } rows[] = {
        {"stopped while blocked", TProbeWorker::kBlock, false, true},
        {"body returns by itself", TProbeWorker::kReturn, false, false},
        {"stopped from inside its own call", TProbeWorker::kCallThenBlock, true, true},
    };
    test::TTestMainLoop loop;
    TNullSink sink;
    for (const auto& r : rows) {
        const int baseline = LiveCommThreads();
        std::shared_ptr<TProbeWorker> w;
        bool ended = false;
        const auto stop = [&] {
            w->Stop();
            w->End();  // inside the call: must let go, not wait for itself
            ended = true;
        };
        w = std::make_shared<TProbeWorker>(sink, r.body, stop);
        w->Start(tpNormal);
        if (r.body != TProbeWorker::kReturn) {
            EXPECT_EQ(LiveCommThreads(), baseline + 1) << r.name;
        }
        if (r.endInsideCall) {
            ASSERT_TRUE(loop.RunUntil([&] { return ended; }, 10s)) << r.name;
        } else {
            loop.RunFor(5ms);
            stop();
        }
        ASSERT_TRUE(loop.RunUntil([&] { return LiveCommThreads() == baseline; }, 10s)) << r.name;
        EXPECT_EQ(w->sawStop.load(), r.sawStop) << r.name;
    }
}

}  // namespace
}  // namespace zp
