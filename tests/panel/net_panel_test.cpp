// The window on a camera behind the real ser2net: a loss is told once, tries
// that fail again keep quiet, and the line comes back with the server; a
// server that refuses is an open failure, told once.
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

}  // namespace
}  // namespace zp::test
