#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "link/camera_link.h"
#include "tests/support/link_fakes.h"

namespace zp {
namespace {

using test::Bytes;
using test::Hex;

struct LinkFixture : ::testing::Test {
    test::Journal journal;
    test::FakePort port{journal};
    test::FakeWindow window{journal};
    test::FakePause pause{journal};
    TCameraLink link{port, window, [this](int ms) { pause(ms); }};

    void Fill(const Bytes& payload) {
        for (size_t i = 0; i < payload.size(); ++i) {
            link.Vars().CommandFrame[i + 1] = payload[i];
        }
    }
};

TEST_F(LinkFixture, FramesAndEchoes) {
    struct Case {
        Bytes payload;
        int32_t length;
        const char* wire;
        const char* echo;
    };
    const Case cases[] = {
        {Hex("31 10 01 00"), 4, "02 31 10 01 00 00 00 00 00 00 00 00 00 00 00 00 03 B9",
         "3110010000000000000000000000"},
        {Hex("31 1B 00 00"), 4, "02 31 1B 00 00 00 00 00 00 00 00 00 00 00 00 00 03 AF",
         "311B000000000000000000000000"},
        {Hex("31 52 00 00"), 4, "02 31 52 00 00 00 00 00 00 00 00 00 00 00 00 00 03 78",
         "3152000000000000000000000000"},
        {Hex("21 10 01 00 00 12 00 10 00 1C 00 01 01 FE"), 14,
         "02 21 10 01 00 00 12 00 10 00 1C 00 01 01 FE 00 03 8B", "2110010000120010001C000101FE"},
        // Byte 14 ends the echo; byte 15 never shows.
        {Hex("21 10 01 00 00 00 00 00 00 00 00 00 00 AB CD"), 15,
         "02 21 10 01 00 00 00 00 00 00 00 00 00 00 AB CD 03 51", "21100100000000000000000000AB"},
    };
    for (const Case& c : cases) {
        link.ReleaseLink();
        port.writes.clear();
        Fill(c.payload);
        EXPECT_EQ(link.SendFrame(c.length), 0);
        ASSERT_EQ(port.writes.size(), 1u);
        EXPECT_EQ(port.writes[0], Hex(c.wire)) << c.wire;
        std::string echo = c.echo;
        echo.erase(std::remove(echo.begin(), echo.end(), ' '), echo.end());
        EXPECT_EQ(window.panels[kPanelSent], echo);
    }
}

TEST_F(LinkFixture, StepsInOrder) {
    Fill(Hex("31 10 01 00"));
    link.SendFrame(4);
    const std::vector<std::string> want = {"pause 100", "hourglass", "write 18",
                                           "panel1 3110010000000000000000000000"};
    EXPECT_EQ(journal.events, want);
    EXPECT_TRUE(link.Vars().SendBusy);
    EXPECT_FALSE(link.CanSend());
}

TEST_F(LinkFixture, SecondSendWhileBusyDoesNothing) {
    Fill(Hex("31 10 01 00"));
    link.SendFrame(4);
    journal.events.clear();
    Fill(Hex("21 1B 05 01"));
    EXPECT_EQ(link.SendFrame(4), 0);
    EXPECT_TRUE(journal.events.empty());
    EXPECT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(window.panels[kPanelSent], "3110010000000000000000000000");
}

TEST_F(LinkFixture, ShorterPayloadZeroesWhatTheLastCommandLeft) {
    Fill(Hex("21 1B 02 01 07"));
    link.SendFrame(5);
    link.ReleaseLink();
    Fill(Hex("31 1B 00 00"));
    link.SendFrame(4);
    ASSERT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(port.writes[0][5], 0x07);
    EXPECT_EQ(port.writes[1], Hex("02 31 1B 00 00 00 00 00 00 00 00 00 00 00 00 00 03 AF"));
}

TEST(CompleteFrame, PayloadLengthBounds) {
    struct Case {
        int32_t length;
        size_t keptUpTo;  // payload bytes 1..keptUpTo survive
    };
    const Case cases[] = {{0, 0}, {-3, 0}, {1, 1}, {4, 4}, {14, 14}, {15, 15}, {99, 15}};
    for (const Case& c : cases) {
        TCommandFrame f;
        f.fill(0x5A);
        CompleteFrame(f, c.length);
        for (size_t i = 1; i <= 15; ++i) {
            EXPECT_EQ(f[i], i <= c.keptUpTo ? 0x5A : 0x00)
                << "length " << c.length << " byte " << i;
        }
        EXPECT_EQ(f[0], kSTX);
        EXPECT_EQ(f[16], kETX);
    }
}

TEST_F(LinkFixture, EveryFrameSentSumsToZero) {
    std::mt19937 rng(20261210);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> len(0, 16);
    for (int n = 0; n < 20000; ++n) {
        // Whatever the last command left, and whatever the builder wrote.
        for (size_t i = 0; i < kFrameSize; ++i) {
            link.Vars().CommandFrame[i] = static_cast<uint8_t>(byte(rng));
        }
        link.ReleaseLink();
        port.writes.clear();
        link.SendFrame(len(rng));
        ASSERT_EQ(port.writes.size(), 1u);
        const Bytes& f = port.writes[0];
        ASSERT_EQ(f.size(), static_cast<size_t>(kFrameSize));
        uint8_t sum = 0;
        for (uint8_t b : f) {
            sum = static_cast<uint8_t>(sum + b);
        }
        ASSERT_EQ(sum, 0) << n;
        ASSERT_EQ(f[0], kSTX);
        ASSERT_EQ(f[16], kETX);
    }
}

TEST_F(LinkFixture, FailedWriteIsReportedFreesTheLinkAndKeepsTheOldEcho) {
    window.panels[kPanelSent] = "before";
    port.throwOnWrite = true;
    Fill(Hex("31 10 01 00"));
    EXPECT_EQ(link.SendFrame(4), 0);
    EXPECT_EQ(window.errors.size(), 1u);
    EXPECT_FALSE(link.Vars().SendBusy);
    EXPECT_FALSE(window.hourglass);
    EXPECT_EQ(window.panels[kPanelSent], "before");
}

TEST_F(LinkFixture, ClosedPortStillEchoesAndStaysBusy) {
    port.open = false;
    Fill(Hex("31 21 00 00"));
    link.SendFrame(4);
    EXPECT_EQ(window.panels[kPanelSent], "3121000000000000000000000000");
    EXPECT_TRUE(link.Vars().SendBusy);
}

}  // namespace
}  // namespace zp
