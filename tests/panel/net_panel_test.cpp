// The window on a camera behind the real ser2net: a loss is told once, tries
// that fail again keep quiet, and the line comes back with the server; a
// server that refuses, or never takes the connection, is an open failure,
// told once.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/panel/e2e_fixture.h"
#include "tests/support/ser2net.h"

namespace zp::test {
namespace {

TEST_F(EndToEnd, ACameraBehindAServerIsLostOnceAndComesBackWithIt) {
    TSer2net server(path, "9600n81,local");
    ASSERT_TRUE(server.Running()) << "ser2net did not start";
    path = server.Rfc2217();
    OpenConnected();
    EXPECT_EQ(Panel(0), kTextLinkOk);

    server.Stop();
    EXPECT_TRUE(WaitFor([&] { return Panel(0) == kTextDeviceLost; }));
    // Three tries to reconnect, each refused: still the one report.
    QTest::qWait(3200);
    EXPECT_EQ(Panel(0), kTextDeviceLost);
    EXPECT_TRUE(errors.empty()) << errors.front().toStdString();

    ASSERT_TRUE(server.Start());
    EXPECT_TRUE(WaitFor([&] { return Panel(0) == kTextLinkOk; }, 10000));
    EXPECT_TRUE(errors.empty());
}

TEST_F(EndToEnd, AServerThatRefusesIsAnOpenFailureToldOnce) {
    TSer2net server(path, "9600n81,local");
    const int closed = server.telnetPort;
    server.Stop();
    path = "rfc2217://127.0.0.1:" + std::to_string(closed);
    Open();
    EXPECT_TRUE(WaitFor([&] { return !errors.empty(); }));
    QTest::qWait(2200);
    ASSERT_EQ(errors.size(), 1u) << errors.back().toStdString();
    EXPECT_EQ(errors[0].toStdString(),
              "Unable to open specified device " + path + " (111), Connection refused");
    EXPECT_EQ(Panel(0), kTextConnectFail);
}

// A listener whose queue is full: connecting to it waits for the time-out.
struct TFullListener {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    std::vector<int> queued;
    int port = 0;
    TFullListener() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), size);
        ::listen(fd, 0);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
        port = ntohs(a.sin_port);
        for (int i = 0; i < 3; ++i) {
            queued.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            ::connect(queued.back(), reinterpret_cast<sockaddr*>(&a), size);
        }
    }
    ~TFullListener() {
        for (const int q : queued) {
            ::close(q);
        }
        ::close(fd);
    }
};

TEST_F(EndToEnd, AConnectionThatTimesOutIsNotTakenForAMissingCamera) {
    TFullListener server;
    path = "rfc2217://127.0.0.1:" + std::to_string(server.port);
    Open();
    std::vector<QString> shown;
    EXPECT_TRUE(WaitFor(
        [&] {
            if (shown.empty() || shown.back() != Panel(0)) {
                shown.push_back(Panel(0));
            }
            return !errors.empty();
        },
        9000));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].toStdString(),
              "Unable to open specified device " + path + " (110), Connection timed out");
    // Neither "Comm1. Connected" nor "No camera found" while it connects.
    EXPECT_EQ(shown, (std::vector<QString>{kTextConnecting, kTextConnectFail}));
}

}  // namespace
}  // namespace zp::test
