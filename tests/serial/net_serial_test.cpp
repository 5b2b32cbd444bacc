// The component on network serial lines, against the real ser2net started
// here on 127.0.0.1 in front of a pseudo-terminal that the test plays.
#include <termios.h>

#include "tests/serial/comm_fixture.h"
#include "tests/support/ser2net.h"

namespace zp::test {
namespace {

using namespace std::chrono_literals;

// RFC 2217 command numbers the server acknowledges.
constexpr uint8_t kBaud = 1, kDataSize = 2, kParity = 3, kStopSize = 4;

class NetSerial : public TCommFixture<TVaComm> {
  protected:
    void SetUp() override {
        TCommFixture::SetUp();
        server = std::make_unique<TSer2net>(pty.SlavePath());
        // make test installs ser2net: without it this is a failure.
        ASSERT_TRUE(server->Running()) << "ser2net did not start";
        comm->OnRxChar = [this](TVaComponent*, int32_t) { received += comm->ReceivePending(); };
        comm->OnError = [this](TVaComponent*, uint32_t errors) {
            hangUps += (errors & CE_HANGUP) != 0 ? 1 : 0;
        };
    }
    void TearDown() override {
        comm.reset();
        server.reset();
        TCommFixture::TearDown();
    }

    // What the pseudo-terminal's far end reads within the time.
    std::string FromLine(size_t n, std::chrono::milliseconds within = 5s) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + within;
        while (got.size() < n && std::chrono::steady_clock::now() < end) {
            loop.RunFor(5ms);
            char b[512];
            const ssize_t r = read(pty.Master(), b, sizeof b);
            if (r > 0) {
                got.append(b, static_cast<size_t>(r));
            }
        }
        return got;
    }

    // The server's answer to a setting, once it is the one expected.
    std::vector<uint8_t> Acked(uint8_t command, const std::vector<uint8_t>& expected) {
        std::vector<uint8_t> v;
        loop.RunUntil([&] { return comm->Acknowledged(command, v) && v == expected; }, 5s);
        return v;
    }

    termios LineNow() {
        termios t{};
        const int fd = open(pty.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        tcgetattr(fd, &t);
        close(fd);
        return t;
    }

    speed_t Speed() {
        const termios t = LineNow();
        return cfgetospeed(&t);
    }

    std::unique_ptr<TSer2net> server;
    std::string received;
    int hangUps = 0;
};

TEST_F(NetSerial, TheLineSettingsReachTheDeviceThroughTheServer) {
    comm->SetDeviceName(server->Rfc2217());
    comm->SetBaudrate(br9600);
    comm->Open();
    const std::vector<uint8_t> b9600{0, 0, 0x25, 0x80};
    EXPECT_EQ(Acked(kBaud, b9600), b9600);
    // A pseudo-terminal always reads back 8 data bits and no parity: those
    // two are checked in what the server acknowledged.
    EXPECT_EQ(Acked(kDataSize, {8}), std::vector<uint8_t>{8});
    EXPECT_EQ(Acked(kParity, {1}), std::vector<uint8_t>{1});
    EXPECT_EQ(Acked(kStopSize, {1}), std::vector<uint8_t>{1});
    loop.RunUntil([&] { return Speed() == B9600; }, 5s);
    termios t = LineNow();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);

    // Applied to the open port, it goes out again.
    comm->SetBaudrate(br19200);
    comm->SetStopbits(sb2);
    EXPECT_TRUE(
        loop.RunUntil([&] { return Speed() == B19200 && (LineNow().c_cflag & CSTOPB) != 0; }, 5s));
    EXPECT_EQ(Acked(kStopSize, {2}), std::vector<uint8_t>{2});
}

TEST_F(NetSerial, EveryByteValuePassesBothWays) {
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
    }
    all += "\xFF\xFF\xFF\x0D\x00\x0D\x0A";  // telnet's IAC and CR NUL, twice over
    for (const std::string& device : {server->Rfc2217(), server->Tcp()}) {
        SCOPED_TRACE(device);
        received.clear();
        comm->SetDeviceName(device);
        comm->Open();
        ASSERT_EQ(comm->TransmitData(all.data(), static_cast<int32_t>(all.size())),
                  static_cast<int32_t>(all.size()));
        EXPECT_EQ(FromLine(all.size()), all);
        ASSERT_TRUE(pty.WriteAll(all));
        EXPECT_TRUE(loop.RunUntil([&] { return received.size() >= all.size(); }, 5s));
        EXPECT_EQ(received, all);
        comm->Close();
        // The server lets the device go before the next connection takes it.
        loop.RunFor(300ms);
    }
    // Handed to the device just before a close: it goes all the same (a last
    // stop must reach the camera).
    const std::string stop = "\x02\x21\x21\x02\xFF";
    for (const std::string& device : {server->Rfc2217(), server->Tcp()}) {
        SCOPED_TRACE(device);
        comm->SetDeviceName(device);
        comm->Open();
        comm->TransmitData(stop.data(), static_cast<int32_t>(stop.size()));
        // The write thread's queue is the component's; what it has handed on
        // is the device's.
        loop.RunFor(20ms);
        comm->Close();
        EXPECT_EQ(FromLine(stop.size()), stop);
        loop.RunFor(300ms);
    }
}

TEST_F(NetSerial, AStoppedServerIsOneHangUpAndTheLineComesBackWithIt) {
    comm->SetDeviceName(server->Rfc2217());
    comm->Open();
    ASSERT_EQ(Acked(kParity, {1}), std::vector<uint8_t>{1});
    server->Stop();
    EXPECT_TRUE(loop.RunUntil([&] { return hangUps > 0; }, 5s));
    loop.RunFor(500ms);
    EXPECT_EQ(hangUps, 1);
    EXPECT_EQ(comm->LostReason(), "Read error (104), Connection reset by peer");
    ASSERT_TRUE(server->Start());
    comm->Close();
    comm->Open();
    ASSERT_EQ(comm->TransmitData("\x05", 1), 1);
    EXPECT_EQ(FromLine(1), "\x05");
    EXPECT_EQ(hangUps, 1);
}

TEST_F(NetSerial, AFailureToConnectIsAHangUpThatSaysWhy) {
    struct Row {
        std::string device;
        const char* reason;
    };
    const std::vector<Row> rows{
        {"rfc2217://127.0.0.1:" + std::to_string(FreePort()), "(111), Connection refused"},
        {"tcp://127.0.0.1:" + std::to_string(FreePort()), "(111), Connection refused"},
        // A raw port never agrees to the COM-PORT option.
        {"rfc2217://127.0.0.1:" + std::to_string(server->rawPort),
         "(93), the server does not agree to the COM-PORT option"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.device);
        hangUps = 0;
        comm->SetDeviceName(row.device);
        comm->Open();  // returns at once; the failure comes as a hang-up
        EXPECT_TRUE(loop.RunUntil([&] { return hangUps == 1; }, 10s));
        EXPECT_EQ(comm->LostReason(),
                  "Unable to open specified device " + row.device + " " + row.reason);
        comm->Close();
    }
    for (const char* bad : {"rfc2217://127.0.0.1", "tcp://:80", "tcp://host:0", "tcp://h:99999"}) {
        comm->SetDeviceName(bad);
        EXPECT_THROW(comm->Open(), EVaCommError) << bad;
    }
}

}  // namespace
}  // namespace zp::test
