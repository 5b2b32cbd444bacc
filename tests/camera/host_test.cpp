// The camera host over real pseudo-terminals: the test opens the slave end as
// the panel would and talks to it.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera_host.h"
#include "tests/support/frames.h"

namespace zp::camera {
namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 5s;  // generous: only a failure waits this long

using test::Sealed;

// The panel's end of the line.
class Panel {
  public:
    explicit Panel(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    ~Panel() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    bool Ok() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    void Write(const TBytes& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }

    // Reads until `count` bytes have come or the wait runs out.
    TBytes Read(size_t count) {
        TBytes got;
        const auto end = std::chrono::steady_clock::now() + kWait;
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) {
                continue;
            }
            uint8_t buf[64];
            const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - got.size()));
            if (n <= 0) {
                break;
            }
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

  private:
    int fd_ = -1;
};

std::string TempPath(const char* name) {
    return ::testing::TempDir() + name + std::to_string(::getpid());
}

std::string LinkTarget(const std::string& link) {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    return n < 0 ? std::string() : std::string(buf, size_t(n));
}

TEST(CameraHost, AnswersOverAPseudoTerminalAndRecordsWhatCame) {
    TCameraHost host;
    std::atomic<int> observed{0};
    host.SetObserver([&](const TExchange&) { ++observed; });
    const auto started = host.Start();
    ASSERT_TRUE(started) << started.error;
    EXPECT_EQ(started.path.rfind("/dev/pts/", 0), 0u) << started.path;
    EXPECT_TRUE(host.Running());

    Panel panel(started.path);
    ASSERT_TRUE(panel.Ok());
    // Raw on the slave: no line editing, no translation of bytes.
    termios t{};
    ASSERT_EQ(::tcgetattr(panel.Fd(), &t), 0);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);

    panel.Write({kENQ});
    EXPECT_EQ(panel.Read(1), TBytes{kACK});

    const TBytes query = Sealed({kQuery, 0x1B});
    panel.Write(query);
    const TBytes answer = panel.Read(1 + kFrameSize);
    ASSERT_EQ(answer.size(), 1 + kFrameSize);
    EXPECT_EQ(answer[0], kACK);
    EXPECT_EQ(answer[2], kDataReply);
    EXPECT_EQ(answer[3], 0x1B);

    // A frame written in two pieces is one unit, timed by its first byte.
    const TBytes set = Sealed({kSet, 0x1B, 0x03, 0x08});
    panel.Write(TBytes(set.begin(), set.begin() + 5));
    std::this_thread::sleep_for(30ms);
    panel.Write(TBytes(set.begin() + 5, set.end()));
    EXPECT_EQ(panel.Read(1 + kFrameSize).size(), 1 + kFrameSize);
    EXPECT_EQ(host.State().colour.ryGain, 8);

    panel.Write({kACK});
    ASSERT_TRUE(host.WaitReceivedFrames(2, kWait));
    ASSERT_TRUE(host.WaitReceived(4, kWait));
    const auto rx = host.Received();
    ASSERT_EQ(rx.size(), 4u);
    EXPECT_EQ(rx[0].bytes, TBytes{kENQ});
    EXPECT_EQ(rx[1].bytes, query);
    EXPECT_EQ(rx[2].bytes, set);
    EXPECT_EQ(rx[3].bytes, TBytes{kACK});
    for (size_t i = 1; i < rx.size(); ++i) {
        EXPECT_LE(rx[i - 1].at, rx[i].at);
    }
    // The frame's time is its first byte's, 30 ms before its last; the host
    // may stamp that first byte late on a loaded machine, so less is asked.
    EXPECT_GE(rx[3].at - rx[2].at, 20ms);
    EXPECT_EQ(host.ReceivedBytes().size(), 1 + 2 * kFrameSize + 1);
    // The observer runs after the answer, so it may trail the record.
    const auto end = std::chrono::steady_clock::now() + kWait;
    while (observed.load() < 4 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(observed.load(), 4);

    host.ClearReceived();
    EXPECT_TRUE(host.Received().empty());
    EXPECT_FALSE(host.WaitReceivedBytes(1, 50ms));
}

// A panel that closes and comes back (a restart) finds the camera still there.
TEST(CameraHost, PanelMayCloseAndOpenAgain) {
    TCameraHost host;
    const auto started = host.Start();
    ASSERT_TRUE(started) << started.error;
    {
        Panel first(started.path);
        ASSERT_TRUE(first.Ok());
        first.Write({kENQ});
        EXPECT_EQ(first.Read(1), TBytes{kACK});
    }
    std::this_thread::sleep_for(50ms);  // the host notices that nobody listens
    Panel second(started.path);
    ASSERT_TRUE(second.Ok());
    second.Write({kENQ});
    EXPECT_EQ(second.Read(1), TBytes{kACK});
    EXPECT_TRUE(host.Running());
    EXPECT_FALSE(host.HungUp());
}

TEST(CameraHost, FaultSwitchAppliesToTheNextExchanges) {
    TCameraHost host;
    const auto started = host.Start();
    ASSERT_TRUE(started) << started.error;
    Panel panel(started.path);
    ASSERT_TRUE(panel.Ok());

    host.SetFault(TFault::Nak, 2);
    for (int i = 0; i < 2; ++i) {
        panel.Write({kENQ});
        EXPECT_EQ(panel.Read(1), TBytes{kNAK});
    }
    panel.Write({kENQ});
    EXPECT_EQ(panel.Read(1), TBytes{kACK});

    // Silent: the frame is recorded, nothing comes back, and the next one is
    // answered.
    host.SetFault(TFault::Silent);
    host.ClearReceived();
    panel.Write(Sealed({kQuery, 0x47}));
    ASSERT_TRUE(host.WaitReceived(1, kWait));
    panel.Write(Sealed({kQuery, 0x47}));
    const TBytes answer = panel.Read(1 + kFrameSize);
    ASSERT_EQ(answer.size(), 1 + kFrameSize);
    EXPECT_EQ(answer[3], 0x47);
}

// A split answer reaches the panel in two parts, the pause between them
// visible; the observer is told when the frame came.
TEST(CameraHost, SplitAnswerArrivesInTwoParts) {
    TCameraHost host;
    std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> times;
    host.SetObserver([&](const TExchange& ex) {
        std::lock_guard<std::mutex> lock(mutex);
        times.push_back(ex.at);
    });
    host.SetFault(TFault::Split);
    const auto started = host.Start();
    ASSERT_TRUE(started) << started.error;
    Panel panel(started.path);
    ASSERT_TRUE(panel.Ok());
    const auto sent = std::chrono::steady_clock::now();
    panel.Write(Sealed({kQuery, 0x1B}));
    const TBytes first = panel.Read(10);
    const auto between = std::chrono::steady_clock::now();
    EXPECT_EQ(first.size(), 10u);
    pollfd p{panel.Fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 30), 0);  // the rest waits
    EXPECT_EQ(panel.Read(1 + kFrameSize - 10).size(), 1 + kFrameSize - 10);
    EXPECT_GE(std::chrono::steady_clock::now() - between, 40ms);

    const auto end = std::chrono::steady_clock::now() + kWait;
    for (;;) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!times.empty() || std::chrono::steady_clock::now() > end) {
            break;
        }
    }
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(times.size(), 1u);
    EXPECT_GE(times[0], sent);
    EXPECT_LT(times[0], between);
}

TEST(CameraHost, PartialFrameGetsNakAfterAPause) {
    TCameraHost host;
    const auto started = host.Start();
    ASSERT_TRUE(started) << started.error;
    Panel panel(started.path);
    ASSERT_TRUE(panel.Ok());
    const TBytes query = Sealed({kQuery, 0x54});
    panel.Write(TBytes(query.begin(), query.begin() + 9));
    EXPECT_EQ(panel.Read(1), TBytes{kNAK});
    panel.Write(query);
    EXPECT_EQ(panel.Read(1 + kFrameSize).size(), 1 + kFrameSize);
}

TEST(CameraHost, AnswerDelay) {
    TCameraHost host;
    host.SetAnswerDelay(150ms);
    const auto started = host.Start();
    ASSERT_TRUE(started) << started.error;
    Panel panel(started.path);
    ASSERT_TRUE(panel.Ok());
    const auto sent = std::chrono::steady_clock::now();
    panel.Write({kENQ});
    EXPECT_EQ(panel.Read(1), TBytes{kACK});
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 150ms);
}

// The panel's end sees the line go away: POLLHUP, and EIO or end of file.
void ExpectHangUpSeen(Panel& panel) {
    pollfd p{panel.Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    EXPECT_NE(p.revents & POLLHUP, 0);
    uint8_t b;
    const ssize_t n = ::read(panel.Fd(), &b, 1);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << n << " " << errno;
}

TEST(CameraHost, HangUpByFaultAndByCall) {
    for (bool byFault : {true, false}) {
        SCOPED_TRACE(byFault ? "fault" : "call");
        TCameraHost host;
        const auto started = host.Start();
        ASSERT_TRUE(started) << started.error;
        Panel panel(started.path);
        ASSERT_TRUE(panel.Ok());
        EXPECT_FALSE(host.HungUp());
        if (byFault) {
            host.SetFault(TFault::HangUp);
            panel.Write({kENQ});
            ASSERT_TRUE(host.WaitHungUp(kWait));
        } else {
            host.HangUp();
        }
        EXPECT_TRUE(host.HungUp());
        EXPECT_FALSE(host.Running());
        ExpectHangUpSeen(panel);
        host.Stop();
        host.Stop();  // twice is fine
    }
}

TEST(CameraHost, ReplugMovesTheLinkToANewTerminal) {
    const std::string link = TempPath("camlink");
    ::unlink(link.c_str());
    TCameraHost host;
    const auto first = host.Start(link);
    ASSERT_TRUE(first) << first.error;
    EXPECT_EQ(LinkTarget(link), first.path);

    Panel before(link);
    ASSERT_TRUE(before.Ok());
    before.Write({kENQ});
    EXPECT_EQ(before.Read(1), TBytes{kACK});

    const auto second = host.Replug(link);
    ASSERT_TRUE(second) << second.error;
    EXPECT_NE(second.path, first.path);
    EXPECT_EQ(LinkTarget(link), second.path);
    EXPECT_EQ(host.Path(), second.path);
    ExpectHangUpSeen(before);

    // The camera carries on where it was, on the new line.
    Panel after(link);
    ASSERT_TRUE(after.Ok());
    after.Write({kENQ});
    EXPECT_EQ(after.Read(1), TBytes{kACK});
    host.Stop();
    ::unlink(link.c_str());
}

TEST(CameraHost, StartFailsClearly) {
    TCameraHost host;
    const auto linked = host.Start("/nonexistent-dir/camlink");
    EXPECT_FALSE(linked);
    EXPECT_NE(linked.error.find("/nonexistent-dir/camlink"), std::string::npos) << linked.error;
    EXPECT_TRUE(linked.path.empty());
    EXPECT_FALSE(host.Running());

    const auto device = host.StartOnDevice("/nonexistent-dir/ttyX");
    EXPECT_FALSE(device);
    EXPECT_NE(device.error.find("No such file"), std::string::npos) << device.error;
}

TEST(CameraHost, ServesAGivenDevice) {
    // Another pseudo-terminal stands in for the serial device.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);

    TCameraHost host;
    const auto started = host.StartOnDevice(slave);
    ASSERT_TRUE(started) << started.error;
    termios t{};
    const int check = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(check, 0);
    ASSERT_EQ(::tcgetattr(check, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    ::close(check);

    // Raw mode on the master side too, so the test's bytes pass unchanged.
    termios m{};
    ASSERT_EQ(::tcgetattr(master, &m), 0);
    ::cfmakeraw(&m);
    ASSERT_EQ(::tcsetattr(master, TCSANOW, &m), 0);
    const TBytes enq{kENQ};
    ASSERT_EQ(::write(master, enq.data(), 1), 1);
    pollfd p{master, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    uint8_t b = 0;
    EXPECT_EQ(::read(master, &b, 1), 1);
    EXPECT_EQ(b, kACK);
    host.Stop();
    ::close(master);
}

}  // namespace
}  // namespace zp::camera
