// Line errors, breaks and modem-line changes, which a pseudo-terminal cannot
// make: the component opens a pseudo-terminal as usual, but its driver
// counters and modem lines are the test's.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "serial/VaComm.h"
#include "tests/serial/comm_fixture.h"

namespace zp {
namespace {

using namespace std::chrono_literals;

// The tty's own device, with counters and modem lines set by the test.
class TScriptedLines : public IPortDevice {
  public:
    explicit TScriptedLines(TPortDevicePtr tty) : tty_(std::move(tty)) {}

    int Fd() const override { return tty_->Fd(); }
    ssize_t Read(void* data, size_t count) override { return tty_->Read(data, count); }
    ssize_t Write(const void* data, size_t count) override { return tty_->Write(data, count); }
    int MakeRaw() override { return tty_->MakeRaw(); }
    int Apply(const TTermiosPlan& plan) override { return tty_->Apply(plan); }
    int OutputPending(int& bytes) override { return tty_->OutputPending(bytes); }
    void Release() override { tty_->Release(); }
    int GetCounters(TLineCounters& counters) override {
        std::lock_guard<std::mutex> g(m_);
        counters = counters_;
        return 0;
    }
    int GetModemLines(int& lines) override {
        lines = lines_.load();
        return 0;
    }

    void Count(const std::function<void(TLineCounters&)>& change) {
        std::lock_guard<std::mutex> g(m_);
        change(counters_);
    }
    void Toggle(int line) { lines_.fetch_xor(line); }

  private:
    TPortDevicePtr tty_;
    std::mutex m_;
    TLineCounters counters_;
    std::atomic<int> lines_{kLineDtr | kLineRts};
};

class TScriptedComm : public TVaComm {
  public:
    std::shared_ptr<TScriptedLines> Device() const { return device_; }

  protected:
    int OpenPlatformDevice(const std::string& path, TPortDevicePtr& device) override {
        TPortDevicePtr tty;
        const int e = TVaComm::OpenPlatformDevice(path, tty);
        if (e == 0) {
            device_ = std::make_shared<TScriptedLines>(tty);
            device = device_;
        }
        return e;
    }

  private:
    std::shared_ptr<TScriptedLines> device_;
};

class LineEventTest : public test::TCommFixture<TScriptedComm> {
  protected:
    void SetUp() override {
        TCommFixture::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        comm->OnRxChar = [this](TVaComponent*, int32_t) { comm->ReceivePending(); };
        comm->OnError = [this](TVaComponent*, uint32_t e) { errors.push_back(e); };
    }

    std::vector<uint32_t> errors;
};

// A driver counts a line error when the damaged byte arrives, so each case
// sends a byte after counting; a later clean byte must not report again.
TEST_F(LineEventTest, EachLineErrorReachesOnErrorOnceWithItsFlag) {
    const struct {
        const char* name;
        void (*count)(TLineCounters&);
        uint32_t flag;
    } kCases[] = {
        {"framing", [](TLineCounters& c) { ++c.frame; }, CE_FRAME},
        {"parity", [](TLineCounters& c) { ++c.parity; }, CE_RXPARITY},
        {"overrun", [](TLineCounters& c) { ++c.overrun; }, CE_OVERRUN},
        {"input overflow", [](TLineCounters& c) { ++c.bufOverrun; }, CE_RXOVER},
        {"framing and parity",
         [](TLineCounters& c) {
             c.frame += 3;
             ++c.parity;
         },
         CE_FRAME | CE_RXPARITY},
    };
    comm->Open();
    for (const auto& t : kCases) {
        SCOPED_TRACE(t.name);
        errors.clear();
        comm->Device()->Count(t.count);
        ASSERT_TRUE(pty.WriteAll("x"));
        ASSERT_TRUE(loop.RunUntil([&] { return !errors.empty(); }));
        ASSERT_TRUE(pty.WriteAll("y"));
        loop.RunFor(50ms);
        EXPECT_EQ(errors, std::vector<uint32_t>{t.flag});
    }
    EXPECT_TRUE(loop.Errors().empty());
}

TEST_F(LineEventTest, ABreakFiresOnBreakAndWaitsInTheErrorFlags) {
    int breaks = 0;
    comm->OnBreak = [&](TVaComponent*) { ++breaks; };
    comm->SetMonitorEvents({ceBreak, ceError, ceRxChar});
    comm->Open();
    comm->Device()->Count([](TLineCounters& c) { ++c.brk; });
    ASSERT_TRUE(pty.WriteAll(std::string(1, '\0')));
    ASSERT_TRUE(loop.RunUntil([&] { return breaks > 0; }));
    loop.RunFor(50ms);
    EXPECT_EQ(breaks, 1);
    // A break is not a line error: OnError stays quiet, and the next query
    // of the statistics hands the flag over once.
    EXPECT_TRUE(errors.empty());
    CommStatistics st;
    comm->GetStatistics(st);
    EXPECT_EQ(st.Errors, CE_BREAK);
    comm->GetStatistics(st);
    EXPECT_EQ(st.Errors, 0u);
}

// OnError's exception stays inside DoError: the rest of the batch fires.
TEST_F(LineEventTest, AThrowingOnErrorLeavesTheRestOfTheBatchToFire) {
    comm->SetMonitorEvents({});  // nobody else collects the error first
    comm->OnError = [](TVaComponent*, uint32_t e) {
        throw std::runtime_error("error handler failed " + std::to_string(e));
    };
    int cts = 0;
    comm->OnCts = [&](TVaComponent*) { ++cts; };
    comm->Open();
    comm->Device()->Count([](TLineCounters& c) { ++c.frame; });
    EXPECT_NO_THROW(comm->DoEvents(EV_ERR | EV_CTS));
    EXPECT_EQ(cts, 1);
    EXPECT_EQ(loop.Errors(),
              std::vector<std::string>{"error handler failed " + std::to_string(CE_FRAME)});
}

TEST_F(LineEventTest, ABreakIsNotReportedWhenNotMonitored) {
    int breaks = 0;
    comm->OnBreak = [&](TVaComponent*) { ++breaks; };
    comm->Open();
    comm->Device()->Count([](TLineCounters& c) { ++c.brk; });
    ASSERT_TRUE(pty.WriteAll("x"));
    loop.RunFor(100ms);
    EXPECT_EQ(breaks, 0);
    EXPECT_TRUE(errors.empty());
}

TEST_F(LineEventTest, EachModemLineChangeFiresItsEventBothWays) {
    std::vector<std::string> fired;
    const auto note = [&fired](const char* what) {
        return [&fired, what](TVaComponent*) { fired.emplace_back(what); };
    };
    comm->OnCts = note("cts");
    comm->OnDsr = note("dsr");
    comm->OnRlsd = note("rlsd");
    comm->OnRing = note("ring");
    comm->SetMonitorEvents({ceCts, ceDsr, ceRlsd, ceRing});
    comm->Open();
    loop.RunFor(60ms);
    EXPECT_TRUE(fired.empty()) << "lines that stay put fire nothing";
    const struct {
        int line;
        const char* event;
    } kCases[] = {
        {kLineCts, "cts"},
        {kLineDsr, "dsr"},
        {kLineCar, "rlsd"},
        {kLineRng, "ring"},
    };
    for (const auto& t : kCases) {
        SCOPED_TRACE(t.event);
        for (const char* edge : {"rise", "fall"}) {
            SCOPED_TRACE(edge);
            fired.clear();
            comm->Device()->Toggle(t.line);
            ASSERT_TRUE(loop.RunUntil([&] { return !fired.empty(); }));
            loop.RunFor(60ms);
            EXPECT_EQ(fired, std::vector<std::string>{t.event});
        }
    }
}

TEST_F(LineEventTest, ModemLinesThatAreNotMonitoredFireNothing) {
    int fired = 0;
    comm->OnCts = [&](TVaComponent*) { ++fired; };
    comm->OnDsr = [&](TVaComponent*) { ++fired; };
    comm->SetMonitorEvents({ceDsr, ceRxChar});
    comm->Open();
    comm->Device()->Toggle(kLineCts);
    loop.RunFor(100ms);
    EXPECT_EQ(fired, 0);
    comm->Device()->Toggle(kLineDsr);
    ASSERT_TRUE(loop.RunUntil([&] { return fired > 0; }));
    EXPECT_EQ(fired, 1);
}

}  // namespace
}  // namespace zp
