// The event thread, the write thread, hang-up and the safety of Close and
// destruction, on pseudo-terminals with a test main loop.
#include <dirent.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "serial/VaComm.h"
#include "tests/serial/comm_fixture.h"
#include "tests/support/errors.h"

namespace zp {
namespace {

using namespace std::chrono_literals;
using test::TPtyPair;

const auto ErrorOf = &test::ErrorOf<EVaCommError>;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string Pattern(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) {
        c = static_cast<char>(rng() & 0xFF);
    }
    return s;
}

// Joins a helper thread also when an assertion leaves the test early.
struct TJoin {
    std::thread& t;
    ~TJoin() {
        if (t.joinable()) {
            t.join();
        }
    }
};

using ThreadTest = test::TCommFixture<TVaComm>;

TEST_F(ThreadTest, OneBurstGivesOneRxCharWithTheWholeCount) {
    std::vector<int32_t> counts;
    std::string got;
    comm->OnRxChar = [&](TVaComponent* sender, int32_t count) {
        EXPECT_EQ(sender, comm.get());
        counts.push_back(count);
        got += comm->ReceivePending();
    };
    comm->Open();
    ASSERT_TRUE(pty.WriteAll("\x06\x02\x03"));
    ASSERT_TRUE(loop.RunUntil([&] { return got.size() >= 3; }));
    loop.RunFor(50ms);
    EXPECT_EQ(counts, std::vector<int32_t>{3});
    EXPECT_EQ(got, "\x06\x02\x03");
}

TEST_F(ThreadTest, UnreadBytesAreCountedAgainWithTheNextByte) {
    std::vector<int32_t> counts;
    comm->OnRxChar = [&](TVaComponent*, int32_t count) {
        counts.push_back(count);
        uint8_t one;
        comm->ReceiveData(&one, 1);  // leaves the rest
    };
    comm->Open();
    ASSERT_TRUE(pty.WriteAll("abc"));
    ASSERT_TRUE(loop.RunUntil([&] { return counts.size() == 1; }));
    // No new byte, no new notification: the thread sleeps, it does not spin.
    const int callsBefore = loop.CallsRun();
    loop.RunFor(100ms);
    EXPECT_EQ(loop.CallsRun(), callsBefore);
    ASSERT_TRUE(pty.WriteAll("d"));
    ASSERT_TRUE(loop.RunUntil([&] { return counts.size() == 2; }));
    EXPECT_EQ(counts, (std::vector<int32_t>{3, 3}));
}

TEST_F(ThreadTest, BytesThatAReadTookInAreAnnouncedToo) {
    std::vector<int32_t> counts;
    std::string got;
    comm->OnRxChar = [&](TVaComponent*, int32_t count) {
        counts.push_back(count);
        if (counts.size() == 1) {
            // More arrives while the handler runs; the read below takes it
            // from the device, so the event thread never sees it come in.
            ASSERT_TRUE(pty.WriteAll("DE"));
            pollfd p{comm->Handle(), POLLIN, 0};
            ASSERT_EQ(poll(&p, 1, 10000), 1);
        }
        std::string part(static_cast<size_t>(count), '\0');
        part.resize(static_cast<size_t>(comm->ReceiveData(part.data(), count)));
        got += part;
    };
    comm->Open();
    ASSERT_TRUE(pty.WriteAll("abc"));
    ASSERT_TRUE(loop.RunUntil([&] { return got.size() >= 5; }, 10s)) << got;
    EXPECT_EQ(got, "abcDE");
    EXPECT_EQ(counts.back(), 2);
}

TEST_F(ThreadTest, WithoutAHandlerBytesAccumulateAndNothingFires) {
    int fired = 0;
    comm->OnError = [&](TVaComponent*, uint32_t) { ++fired; };
    comm->OnTxEmpty = [&](TVaComponent*) { ++fired; };
    comm->Open();
    ASSERT_TRUE(pty.WriteAll("12345"));
    ASSERT_TRUE(loop.RunUntil([&] { return comm->InputCount() == 5; }));
    ASSERT_TRUE(pty.WriteAll("678"));
    ASSERT_TRUE(loop.RunUntil([&] { return comm->InputCount() == 8; }));
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(comm->ReceivePending(), "12345678");
}

TEST_F(ThreadTest, NoEventThreadRunsWithoutEventsToWaitFor) {
    const struct {
        const char* what;
        TVaCommEvents events;
        bool direct;
        bool eventThread;
        bool writeThread;
    } cases[] = {
        {"empty", {}, false, false, true},
        {"tx empty, queued", {ceTxEmpty}, false, false, true},
        {"tx empty, direct", {ceTxEmpty}, true, true, false},
        {"default", {ceError, ceRxChar, ceTxEmpty}, false, true, true},
    };
    for (const auto& t : cases) {
        comm.reset(new TVaComm);
        comm->SetDeviceName(pty.SlavePath());
        comm->SetMonitorEvents(t.events);
        comm->SetDirectWrite(t.direct);
        int fired = 0;
        comm->OnRxChar = [&](TVaComponent*, int32_t) { ++fired; };
        comm->Open();
        EXPECT_EQ(comm->EventThreadRunning(), t.eventThread) << t.what;
        EXPECT_EQ(comm->WriteThreadRunning(), t.writeThread) << t.what;
        ASSERT_TRUE(pty.WriteAll("x"));
        if (!t.eventThread) {
            loop.RunFor(50ms);
            EXPECT_EQ(fired, 0) << t.what;
        }
        comm->Close();
        pty.ReadFor(1, 10);
        ASSERT_TRUE(loop.RunUntil([&] { return LiveCommThreads() == baseline; })) << t.what;
    }
}

TEST_F(ThreadTest, AnRxCharExceptionIsShownOnceAndLaterBytesStillArrive) {
    int calls = 0;
    std::string got;
    comm->OnRxChar = [&](TVaComponent*, int32_t) {
        got += comm->ReceivePending();
        if (++calls == 1) {
            throw std::runtime_error("handler failed");
        }
    };
    comm->Open();
    ASSERT_TRUE(pty.WriteAll("a"));
    ASSERT_TRUE(loop.RunUntil([&] { return calls == 1; }));
    ASSERT_TRUE(pty.WriteAll("b"));
    ASSERT_TRUE(loop.RunUntil([&] { return calls == 2; }));
    EXPECT_EQ(got, "ab");
    EXPECT_EQ(loop.Errors(), std::vector<std::string>{"handler failed"});
}

TEST_F(ThreadTest, CloseInsideRxCharEndsTheThreads) {
    int calls = 0;
    int errors = 0;
    comm->OnError = [&](TVaComponent*, uint32_t) { ++errors; };
    comm->OnRxChar = [&](TVaComponent*, int32_t) {
        ++calls;
        comm->Close();
    };
    comm->Open();
    ASSERT_TRUE(pty.WriteAll("z"));
    ASSERT_TRUE(loop.RunUntil([&] { return calls == 1; }));
    EXPECT_FALSE(comm->IsOpen());
    ASSERT_TRUE(loop.RunUntil([&] { return LiveCommThreads() == baseline; }));
    pty.WriteAll("more");
    loop.RunFor(50ms);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(errors, 0);
}

TEST_F(ThreadTest, EventCharAndEightyPercentFullAreReported) {
    comm->SetMonitorEvents({ceRxChar, ceRxFlag, ceRx80Full});
    comm->EventChars().SetEventChar('\r');
    comm->Buffers().SetReadSize(10);
    std::vector<std::string> order;
    comm->OnRxChar = [&](TVaComponent*, int32_t) { order.push_back("rx"); };
    comm->OnRxFlag = [&](TVaComponent*) { order.push_back("flag"); };
    comm->OnRx80Full = [&](TVaComponent*) { order.push_back("80"); };
    comm->Open();
    ASSERT_TRUE(pty.WriteAll("ab\r"));
    ASSERT_TRUE(loop.RunUntil([&] { return order.size() >= 2; }));
    EXPECT_EQ(order, (std::vector<std::string>{"rx", "flag"}));
    order.clear();
    ASSERT_TRUE(pty.WriteAll("cdefg"));  // 8 of 10 held: 80 per cent
    ASSERT_TRUE(loop.RunUntil([&] { return order.size() >= 2; }));
    EXPECT_EQ(order, (std::vector<std::string>{"rx", "80"}));
}

TEST_F(ThreadTest, AFullInputQueueHoldsTheRestBackUntilRead) {
    comm->Buffers().SetReadSize(16);
    std::string got;
    bool hold = true;
    comm->OnRxChar = [&](TVaComponent*, int32_t) {
        if (!hold) {
            got += comm->ReceivePending();
        }
    };
    comm->Open();
    const std::string data = Pattern(100, 1);
    ASSERT_TRUE(pty.WriteAll(data));
    ASSERT_TRUE(loop.RunUntil([&] { return comm->InputCount() == 16; }));
    const int callsBefore = loop.CallsRun();
    loop.RunFor(100ms);  // full and unread: the thread waits, it does not spin
    EXPECT_LE(loop.CallsRun() - callsBefore, 1);
    hold = false;
    got += comm->ReceivePending();
    ASSERT_TRUE(loop.RunUntil([&] { return got.size() >= data.size(); }));
    EXPECT_EQ(got, data);
}

TEST_F(ThreadTest, OneWriteGivesOneTxEmptyAfterTheBytesLeft) {
    int txEmpty = 0;
    comm->OnTxEmpty = [&](TVaComponent*) { ++txEmpty; };
    comm->Open();
    const std::string frame = Pattern(18, 2);
    EXPECT_EQ(comm->TransmitData(frame.data(), 18), 18);  // returns before it is sent
    ASSERT_TRUE(loop.RunUntil([&] { return txEmpty == 1; }));
    const std::vector<uint8_t> out = pty.ReadFor(18);
    EXPECT_EQ(std::string(out.begin(), out.end()), frame);
    loop.RunFor(50ms);
    EXPECT_EQ(txEmpty, 1);
}

TEST_F(ThreadTest, WritesWhileSendingGiveOneTxEmptyAndCloseDropsTheRest) {
    TVaBuffers b;
    b.SetWriteSize(1 << 20);
    comm->SetBuffers(b);
    int txEmpty = 0;
    comm->OnTxEmpty = [&](TVaComponent*) { ++txEmpty; };
    comm->Open();
    // Nobody reads the far end yet: the terminal fills and the write waits.
    const std::string first = Pattern(300000, 3);
    const std::string second = Pattern(1000, 4);
    EXPECT_EQ(comm->TransmitData(first.data(), static_cast<int32_t>(first.size())),
              static_cast<int32_t>(first.size()));
    loop.RunFor(50ms);
    EXPECT_EQ(txEmpty, 0);
    EXPECT_EQ(comm->TransmitData(second.data(), static_cast<int32_t>(second.size())),
              static_cast<int32_t>(second.size()));
    std::vector<uint8_t> out;
    ASSERT_TRUE(loop.RunUntil([&] {
        const std::vector<uint8_t> part = pty.ReadFor(1, 0);
        out.insert(out.end(), part.begin(), part.end());
        return txEmpty > 0 && out.size() >= first.size() + second.size();
    }));
    EXPECT_EQ(std::string(out.begin(), out.end()), first + second);
    loop.RunFor(50ms);
    EXPECT_EQ(txEmpty, 1);

    // Queued bytes on Close are dropped without a TxEmpty: what the terminal
    // took before is all that arrives, and nothing comes later.
    txEmpty = 0;
    EXPECT_GT(comm->TransmitData(first.data(), static_cast<int32_t>(first.size())), 0);
    loop.RunFor(20ms);
    comm->Close();
    out = pty.ReadFor(first.size(), 100);
    EXPECT_LT(out.size(), first.size());
    EXPECT_EQ(std::string(out.begin(), out.end()), first.substr(0, out.size()));
    loop.RunFor(50ms);
    EXPECT_TRUE(pty.ReadFor(1, 50).empty());
    EXPECT_EQ(txEmpty, 0);
}

TEST_F(ThreadTest, TheWriteQueueRefusesWhatCannotFitInTime) {
    TVaBuffers b;
    b.SetWriteSize(1024);
    b.SetWriteTimeout(200);
    comm->SetBuffers(b);
    comm->Open();
    const std::string big = Pattern(1025, 5);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOf([&] { comm->TransmitData(big.data(), 1025); }),
              "Output buffer is full. Please check comm status.");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
    EXPECT_TRUE(pty.ReadFor(1, 100).empty());  // nothing of it was queued

    EXPECT_EQ(comm->TransmitData(big.data(), 1024), 1024);  // exactly the free space
    EXPECT_EQ(pty.ReadFor(1024).size(), 1024u);
}

// While the far end reads nothing, a sender waiting for room sleeps rather
// than spins, and gets in once the line moves again.
TEST_F(ThreadTest, ASenderWaitingForRoomOnAStalledLineSleepsAndGetsIn) {
    TVaBuffers b;
    b.SetWriteSize(512 * 1024);
    b.SetWriteTimeout(20000);
    comm->SetBuffers(b);
    comm->Open();
    const std::string first = Pattern(400000, 10);
    const std::string second = Pattern(300000, 11);
    ASSERT_EQ(comm->TransmitData(first.data(), static_cast<int32_t>(first.size())),
              static_cast<int32_t>(first.size()));
    std::vector<uint8_t> out;
    std::thread reader([&] {
        std::this_thread::sleep_for(300ms);
        out = pty.ReadFor(first.size() + second.size());
    });
    TJoin join{reader};
    const double cpuBefore = CpuSeconds();
    EXPECT_EQ(comm->TransmitData(second.data(), static_cast<int32_t>(second.size())),
              static_cast<int32_t>(second.size()));
    const double cpu = CpuSeconds() - cpuBefore;
    reader.join();
    // A sender that spun through the stall would have burnt about 0.3 s.
    EXPECT_LT(cpu, 0.15);
    EXPECT_TRUE(std::string(out.begin(), out.end()) == first + second);
}

TEST_F(ThreadTest, AMegabyteInRandomChunksArrivesCompleteAndInOrder) {
    const std::string data = Pattern(1 << 20, 6);
    std::vector<uint8_t> out;
    std::thread reader([&] { out = pty.ReadFor(data.size()); });
    TJoin join{reader};
    comm->Open();
    std::mt19937 rng(7);
    size_t sent = 0;
    while (sent < data.size()) {
        const size_t n = std::min<size_t>(1 + rng() % 1024, data.size() - sent);
        ASSERT_EQ(comm->TransmitData(data.data() + sent, static_cast<int32_t>(n)),
                  static_cast<int32_t>(n));
        sent += n;
        loop.ProcessPending();
    }
    reader.join();
    ASSERT_EQ(out.size(), data.size());
    EXPECT_TRUE(std::string(out.begin(), out.end()) == data);
}

TEST_F(ThreadTest, AMegabyteFromTheFarEndReachesRxCharCompleteAndInOrder) {
    const std::string data = Pattern(1 << 20, 8);
    std::string got;
    comm->OnRxChar = [&](TVaComponent*, int32_t) { got += comm->ReceivePending(); };
    comm->Open();
    std::thread writer([&] { pty.WriteAll(data); });
    TJoin join{writer};
    const bool done = loop.RunUntil([&] { return got.size() >= data.size(); }, 60s);
    writer.join();
    ASSERT_TRUE(done) << got.size();
    EXPECT_TRUE(got == data);
}

TEST_F(ThreadTest, AHangUpIsReportedOnceAndNothingSpins) {
    std::vector<uint32_t> errors;
    comm->OnError = [&](TVaComponent*, uint32_t e) { errors.push_back(e); };
    comm->Open();
    const std::string frame = Pattern(18, 9);
    comm->TransmitData(frame.data(), 18);
    pty.CloseMaster();
    ASSERT_TRUE(loop.RunUntil([&] { return !errors.empty(); }));
    const double cpu = CpuSeconds();
    loop.RunFor(1s);
    EXPECT_LT(CpuSeconds() - cpu, 0.2);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0] & CE_HANGUP, CE_HANGUP);
    // After the report, queued writes fail instead of pretending to succeed.
    EXPECT_EQ(ErrorOf([&] { comm->TransmitData(frame.data(), 18); }).rfind("Write error (", 0), 0u);
    comm->Close();
    EXPECT_FALSE(comm->IsOpen());
}

TEST_F(ThreadTest, AHangUpIsReportedByTheWriteThreadWhenNothingElseWatches) {
    comm->SetMonitorEvents({});
    std::vector<uint32_t> errors;
    comm->OnError = [&](TVaComponent*, uint32_t e) { errors.push_back(e); };
    comm->Open();
    pty.CloseMaster();
    const uint8_t b = 1;
    comm->TransmitData(&b, 1);
    ASSERT_TRUE(loop.RunUntil([&] { return !errors.empty(); }));
    loop.RunFor(100ms);
    EXPECT_EQ(errors, std::vector<uint32_t>{CE_HANGUP});
}

TEST_F(ThreadTest, DirectWritesReportTxEmptyFromTheEventThread) {
    comm->SetDirectWrite(true);
    int txEmpty = 0;
    comm->OnTxEmpty = [&](TVaComponent*) { ++txEmpty; };
    comm->Open();
    EXPECT_FALSE(comm->WriteThreadRunning());
    EXPECT_EQ(comm->TransmitData("hello", 5), 5);
    ASSERT_TRUE(loop.RunUntil([&] { return txEmpty == 1; }));
    EXPECT_EQ(pty.ReadFor(5).size(), 5u);
}

TEST_F(ThreadTest, DoEventsFiresInItsFixedOrderAndPassesExceptionsOn) {
    std::vector<std::string> order;
    struct Recorder : TVaLinkTarget {
        std::vector<std::string>* order;
        void LinkEvents(uint32_t mask) override {
            order->push_back("link " + std::to_string(mask));
        }
        void LinkRxBuf(PVaData, int32_t) override {}
    } target;
    target.order = &order;
    TVaCommLink link;
    link.Target = &target;
    comm->AttachLink(&link);
    const auto note = [&](const char* name) {
        return [&order, name](TVaComponent*) { order.push_back(name); };
    };
    comm->OnEvent2 = note("event2");
    comm->OnEvent1 = note("event1");
    comm->OnRx80Full = note("rx80full");
    comm->OnPErr = note("perr");
    comm->OnBreak = note("break");
    comm->OnTxEmpty = note("txempty");
    comm->OnRlsd = note("rlsd");
    comm->OnRing = note("ring");
    comm->OnDsr = note("dsr");
    comm->OnCts = note("cts");
    comm->OnRxFlag = note("rxflag");
    const uint32_t all = 0x1FFF & ~(EV_RXCHAR | EV_ERR);
    comm->DoEvents(all);
    EXPECT_EQ(order, (std::vector<std::string>{"link " + std::to_string(all), "rxflag", "cts",
                                               "dsr", "ring", "rlsd", "txempty", "break", "perr",
                                               "rx80full", "event1", "event2"}));

    // Only the bits given; links see every mask, also one without a bit.
    order.clear();
    comm->DoEvents(EV_BREAK | EV_CTS);
    EXPECT_EQ(order, (std::vector<std::string>{"link 72", "cts", "break"}));
    order.clear();
    link.Active = false;
    comm->DoEvents(EV_RING);
    EXPECT_EQ(order, std::vector<std::string>{"ring"});

    // DoEvents catches nothing: a handler's exception ends it.
    order.clear();
    comm->OnCts = [](TVaComponent*) { throw std::runtime_error("cts failed"); };
    EXPECT_THROW(comm->DoEvents(EV_CTS | EV_DSR), std::runtime_error);
    EXPECT_TRUE(order.empty());
    comm->DetachLink(&link);
}

TEST_F(ThreadTest, WithLinksReceivedBlocksGoToTheLinksAndOnRxBuf) {
    struct Sink : TVaLinkTarget {
        std::string got;
        void LinkEvents(uint32_t) override {}
        void LinkRxBuf(PVaData data, int32_t count) override {
            got.append(reinterpret_cast<const char*>(data), static_cast<size_t>(count));
        }
    } first, second;
    TVaCommLink a, b;
    a.Target = &first;
    b.Target = &second;
    std::string rxBuf;
    int rxChar = 0;
    comm->OnRxChar = [&](TVaComponent*, int32_t) { ++rxChar; };
    comm->OnRxBuf = [&](TVaComponent*, PVaData data, int32_t count) {
        rxBuf.append(reinterpret_cast<const char*>(data), static_cast<size_t>(count));
    };
    comm->AttachLink(&a);
    comm->AttachLink(&b);
    EXPECT_EQ(a.Comm, comm.get());
    comm->Open();
    ASSERT_TRUE(pty.WriteAll("abc"));
    ASSERT_TRUE(loop.RunUntil([&] { return rxBuf.size() >= 3; }));
    EXPECT_EQ(first.got, "abc");
    EXPECT_EQ(second.got, "abc");
    EXPECT_EQ(rxBuf, "abc");

    comm->LinksEnabled = false;  // the links get nothing, OnRxBuf still fires
    ASSERT_TRUE(pty.WriteAll("de"));
    ASSERT_TRUE(loop.RunUntil([&] { return rxBuf.size() >= 5; }));
    EXPECT_EQ(first.got, "abc");
    EXPECT_EQ(rxBuf, "abcde");
    EXPECT_EQ(rxChar, 0);

    comm.reset();  // the destructor detaches every link
    EXPECT_EQ(a.Comm, nullptr);
    EXPECT_EQ(b.Comm, nullptr);
}

TEST_F(ThreadTest, AnOnErrorExceptionIsShownAndDoesNotLeaveDoError) {
    comm->SetMonitorEvents({ceRxChar});  // the hang-up is reported all the same
    int errors = 0;
    comm->OnError = [&](TVaComponent*, uint32_t e) {
        ++errors;
        throw std::runtime_error("error handler failed " + std::to_string(e));
    };
    int cts = 0;
    comm->OnCts = [&](TVaComponent*) { ++cts; };
    comm->Open();
    pty.CloseMaster();
    ASSERT_TRUE(loop.RunUntil([&] { return errors == 1; }));
    loop.RunFor(50ms);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(loop.Errors(),
              std::vector<std::string>{"error handler failed " + std::to_string(CE_HANGUP)});
    // Nothing pending any more: DoError fires nothing, and DoEvents goes on.
    comm->DoEvents(EV_ERR | EV_CTS);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(cts, 1);
}

// The nice value of this process's thread called name; INT_MIN when none is.
int NiceOfThread(const std::string& name) {
    DIR* d = opendir("/proc/self/task");
    if (d == nullptr) {
        return INT_MIN;
    }
    int nice = INT_MIN;
    while (dirent* e = readdir(d)) {
        const std::string task = std::string("/proc/self/task/") + e->d_name;
        std::string comm;
        std::getline(std::ifstream(task + "/comm"), comm);
        if (comm != name) {
            continue;
        }
        std::string stat;
        std::getline(std::ifstream(task + "/stat"), stat);
        // After the name in parentheses: state is field 3, nice field 19.
        std::istringstream rest(stat.substr(stat.rfind(')') + 1));
        std::string field;
        for (int i = 3; i <= 19 && rest >> field; ++i) {
        }
        nice = std::atoi(field.c_str());
    }
    closedir(d);
    return nice;
}

TEST_F(ThreadTest, PrioritiesReachTheWorkersAtStartAndWhileRunning) {
    // Only ever lowered: raising needs a privilege the test may not have.
    const int base = getpriority(PRIO_PROCESS, 0);
    if (base > 5) {
        GTEST_SKIP() << "the tests already run at nice " << base;
    }
    comm->SetEventPriority(tpLower);
    comm->SetWritePriority(tpNormal);
    comm->Open();
    const struct {
        const char* thread;
        std::function<void()> set;
        int nice;
    } steps[] = {
        {"zp-comm-event", [] {}, 5},
        {"zp-comm-write", [] {}, base},  // normal: left as inherited
        {"zp-comm-event", [&] { comm->SetEventPriority(tpLowest); }, 10},
        {"zp-comm-write", [&] { comm->SetWritePriority(tpLower); }, 5},
        {"zp-comm-event", [&] { comm->SetEventPriority(tpIdle); }, 19},
        {"zp-comm-write", [&] { comm->SetWritePriority(tpLowest); }, 10},
    };
    for (const auto& t : steps) {
        t.set();
        // A worker takes its priority as it starts, which may be just after Open.
        EXPECT_TRUE(loop.RunUntil([&] { return NiceOfThread(t.thread) == t.nice; }, 5s))
            << t.thread << " should be at " << t.nice << ", is at " << NiceOfThread(t.thread);
    }
    EXPECT_EQ(comm->TransmitData("x", 1), 1);
    EXPECT_EQ(pty.ReadFor(1).size(), 1u);
}

// Notes any use of the device after the component has let it go.
class TWatchedDevice : public IPortDevice {
  public:
    explicit TWatchedDevice(TPortDevicePtr tty) : tty_(std::move(tty)) {}

    int Fd() const override { return Touch(), tty_->Fd(); }
    ssize_t Read(void* data, size_t count) override { return Touch(), tty_->Read(data, count); }
    ssize_t Write(const void* data, size_t count) override {
        return Touch(), tty_->Write(data, count);
    }
    int MakeRaw() override { return Touch(), tty_->MakeRaw(); }
    int Apply(const TTermiosPlan& plan) override { return Touch(), tty_->Apply(plan); }
    int GetCounters(TLineCounters& c) override { return Touch(), tty_->GetCounters(c); }
    int GetModemLines(int& lines) override { return Touch(), tty_->GetModemLines(lines); }
    int OutputPending(int& bytes) override { return Touch(), tty_->OutputPending(bytes); }
    void Release() override {
        Touch();
        released_ = true;
        tty_->Release();
    }

    bool TouchedAfterRelease() const { return touchedAfter_; }

  private:
    void Touch() const {
        if (released_) {
            touchedAfter_ = true;
        }
    }

    TPortDevicePtr tty_;
    std::atomic<bool> released_{false};
    mutable std::atomic<bool> touchedAfter_{false};
};

class TWatchedComm : public TVaComm {
  public:
    std::shared_ptr<TWatchedDevice> Device() const { return device_; }

  protected:
    int OpenPlatformDevice(const std::string& path, TPortDevicePtr& device) override {
        TPortDevicePtr tty;
        const int e = TVaComm::OpenPlatformDevice(path, tty);
        if (e == 0) {
            device_ = std::make_shared<TWatchedDevice>(tty);
            device = device_;
        }
        return e;
    }

  private:
    std::shared_ptr<TWatchedDevice> device_;
};

// A worker waiting for the main thread to run its call must not keep Close
// from waiting for it: the call is dropped, and no worker is left after.
TEST_F(ThreadTest, CloseLeavesNoWorkerAlsoWhenOneWaitsForTheMainThread) {
    const struct {
        const char* worker;
        TVaCommEvents events;
        std::function<void(TPtyPair&)> cause;
    } cases[] = {
        {"event thread", {ceRxChar}, [](TPtyPair& p) { p.WriteAll("x"); }},
        {"write thread", {}, [&](TPtyPair&) { comm->TransmitData("x", 1); }},
    };
    for (const auto& t : cases) {
        TPtyPair p;
        ASSERT_TRUE(p.Ok());
        comm.reset(new TVaComm);
        comm->SetDeviceName(p.SlavePath());
        comm->SetMonitorEvents(t.events);
        int fired = 0;
        comm->OnRxChar = [&](TVaComponent*, int32_t) { ++fired; };
        comm->OnTxEmpty = [&](TVaComponent*) { ++fired; };
        comm->Open();
        t.cause(p);
        ASSERT_TRUE(loop.CallQueued(10000)) << t.worker;
        comm->Close();
        EXPECT_EQ(LiveCommThreads(), baseline) << t.worker;
        loop.RunFor(20ms);
        EXPECT_EQ(fired, 0) << t.worker;
    }
}

// Close from inside a worker's own call cannot wait for that worker; it
// waits for the other one, and the caller leaves the device alone once
// the call returns.
TEST_F(ThreadTest, CloseInsideAWorkersCallLeavesTheDeviceAlone) {
    const struct {
        const char* handler;
        TVaCommEvents events;
    } cases[] = {
        {"OnRxChar", {ceRxChar, ceError}},
        {"OnError of a hang-up", {ceRxChar, ceError}},
        {"OnTxEmpty of the write thread", {}},
    };
    for (const auto& t : cases) {
        TPtyPair p;
        ASSERT_TRUE(p.Ok());
        auto c = std::make_unique<TWatchedComm>();
        c->SetDeviceName(p.SlavePath());
        c->SetMonitorEvents(t.events);
        bool closed = false;
        int left = -1;
        const auto close = [&] {
            if (!closed) {
                c->Close();
                closed = true;
                left = LiveCommThreads() - baseline;
            }
        };
        const std::string h = t.handler;
        if (h == "OnRxChar") {
            c->OnRxChar = [&](TVaComponent*, int32_t) { close(); };
        } else if (h == "OnError of a hang-up") {
            c->OnError = [&](TVaComponent*, uint32_t) { close(); };
        } else {
            c->OnTxEmpty = [&](TVaComponent*) { close(); };
        }
        c->Open();
        if (h == "OnRxChar") {
            p.WriteAll("x");
        } else if (h == "OnError of a hang-up") {
            p.CloseMaster();
        } else {
            c->TransmitData("x", 1);
        }
        ASSERT_TRUE(loop.RunUntil([&] { return closed; })) << t.handler;
        EXPECT_EQ(left, 1) << t.handler << ": only the caller may be left";
        EXPECT_FALSE(c->IsOpen()) << t.handler;
        ASSERT_TRUE(loop.RunUntil([&] { return LiveCommThreads() == baseline; })) << t.handler;
        EXPECT_FALSE(c->Device()->TouchedAfterRelease()) << t.handler;
    }
}

TEST_F(ThreadTest, ManyCyclesOfOpenTrafficCloseAndDestroy) {
    int rx = 0;
    for (int i = 0; i < 1000; ++i) {
        TPtyPair p;
        ASSERT_TRUE(p.Ok());
        auto c = std::make_unique<TVaComm>();
        c->SetDeviceName(p.SlavePath());
        c->OnRxChar = [&](TVaComponent* s, int32_t) {
            static_cast<TVaComm*>(s)->ReceivePending();
            ++rx;
        };
        c->OnTxEmpty = [](TVaComponent*) {};
        c->Open();
        c->TransmitData("ping", 4);
        p.WriteAll("pong");
        if (i % 2 == 0) {
            loop.RunFor(std::chrono::milliseconds(i % 3));
            c->Close();
        }
        c.reset();  // destroy, open or closed, maybe with a call pending
        loop.ProcessPending();
    }
    EXPECT_TRUE(loop.RunUntil([&] { return LiveCommThreads() == baseline; }));
    EXPECT_GT(rx, 0);
}

}  // namespace
}  // namespace zp
