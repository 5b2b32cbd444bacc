#include <gtest/gtest.h>

#include "camera_link.h"
#include "fakes.h"

namespace zp {
namespace {

using test::Bytes;
using test::Hex;

const Bytes kTitleQuery = Hex("02 31 10 01 00 00 00 00 00 00 00 00 00 00 00 00 03 B9");
const Bytes kReply = Hex("02 A0 10 00 01 00 00 00 00 00 00 00 00 00 00 00 03 00");
const Bytes kBadEnd = Hex("02 A0 10 00 01 00 00 00 00 00 00 00 00 00 00 00 04 00");

struct Dispatch : ::testing::Test {
    test::Journal journal;
    test::FakePort port{journal};
    test::FakeWindow window{journal};
    test::FakePause pause{journal};
    TCameraLink link{port, window, [this](int ms) { pause(ms); }};
    bool pageAccepts = true;

    Dispatch() {
        // The active page is the title page: its query, and a handler that
        // releases the link when the reply is its own.
        window.onQuery = [this] {
            auto& f = link.Vars().CommandFrame;
            f[1] = 0x31;
            f[2] = 0x10;
            f[3] = 0x01;
            f[4] = 0x00;
            link.SendFrame(4);
        };
        window.onRoute = [this] {
            if (pageAccepts) {
                link.Vars().SendBusy = false;
            }
        };
    }

    void Receive(const Bytes& bytes, int32_t count = -1) {
        port.pending.assign(bytes.begin(), bytes.end());
        link.Comm1RxChar(count < 0 ? static_cast<int32_t>(bytes.size()) : count);
    }

    // ENQ answered with ACK: the link is up and the title query is out.
    void Connect() {
        link.OpenCameraPort(1, 9600);
        link.CheckLink();
        Receive(Hex("06"));
        port.writes.clear();
        journal.events.clear();
    }

    std::vector<Bytes> Written() const { return port.writes; }
};

TEST_F(Dispatch, StartUpWithCameraAnswering) {
    link.OpenCameraPort(1, 9600);
    EXPECT_EQ(window.panels[kPanelLink], "Comm1. Connected");
    EXPECT_EQ(port.portNum, 1);
    EXPECT_EQ(port.baud, 9600);
    link.CheckLink();
    EXPECT_EQ(Written(), std::vector<Bytes>{Hex("05")});
    EXPECT_TRUE(window.hourglass);
    EXPECT_EQ(link.Vars().LinkState, TLinkState::AwaitingLinkAck);

    Receive(Hex("06"));
    EXPECT_EQ(window.panels[kPanelLink], "CAM LINK OK");
    ASSERT_EQ(Written().size(), 2u);
    EXPECT_EQ(Written()[1], kTitleQuery);
    EXPECT_EQ(window.panels[kPanelSent], "3110010000000000000000000000");
    EXPECT_TRUE(window.pagesEnabled);
    EXPECT_FALSE(link.Vars().SendBusy);
    EXPECT_FALSE(window.hourglass);
    EXPECT_EQ(link.Vars().LinkState, TLinkState::Ready);
}

TEST_F(Dispatch, OpenFailureAndReopen) {
    port.open = false;
    port.failOpen = true;
    window.panels[kPanelLink] = kTextConnecting;
    EXPECT_THROW(link.OpenCameraPort(1, 9600), std::runtime_error);
    EXPECT_EQ(window.panels[kPanelLink], kTextConnecting);

    // An open port is closed before the port number changes.
    port.failOpen = false;
    port.open = true;
    journal.events.clear();
    link.OpenCameraPort(3, 19200);
    EXPECT_EQ(journal.events.front(), "close");
    EXPECT_EQ(window.panels[kPanelLink], "Comm3. Connected");
}

TEST_F(Dispatch, ControlByteSteps) {
    link.SendControlByte(kENQ);
    const std::vector<std::string> want = {"hourglass", "pause 100", "write 1"};
    EXPECT_EQ(journal.events, want);
    EXPECT_TRUE(link.Vars().SendBusy);
    // No busy test: a second control byte goes out too, and nothing is echoed.
    link.SendControlByte(kACK);
    EXPECT_EQ(Written(), (std::vector<Bytes>{Hex("05"), Hex("06")}));
    EXPECT_EQ(window.panels[kPanelSent], "");
}

TEST_F(Dispatch, AnswersToTheLinkCheck) {
    struct Case {
        const char* name;
        Bytes answer;
        const char* panel0;
        bool enabled;
    };
    const Case cases[] = {
        {"NAK", Hex("15"), "Retry Please!", false},
        {"a frame", kReply, "Retry Please!", false},
        {"NAK then ACK", Hex("15 06"), "CAM LINK OK", true},
    };
    for (const Case& c : cases) {
        test::Journal j;
        test::FakePort p{j};
        test::FakeWindow w{j};
        TCameraLink l{p, w, [](int) {}};
        l.CheckLink();
        p.pending.assign(c.answer.begin(), c.answer.end());
        l.Comm1RxChar(static_cast<int32_t>(c.answer.size()));
        EXPECT_EQ(w.panels[kPanelLink], c.panel0) << c.name;
        EXPECT_EQ(w.pagesEnabled, c.enabled) << c.name;
        EXPECT_EQ(w.hourglass, !c.enabled) << c.name;
        EXPECT_EQ(l.Vars().SendBusy, !c.enabled) << c.name;
    }
}

TEST_F(Dispatch, ReplyInReadyIsDropped) {
    Connect();
    Receive(kReply);
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(window.panels[kPanelReply], "");
    EXPECT_EQ(window.routed, 0);
}

TEST_F(Dispatch, ReplyAfterAckIsShownAcknowledgedThenRouted) {
    Connect();
    Receive(Hex("06"));
    EXPECT_EQ(link.Vars().LinkState, TLinkState::AwaitingReply);
    Receive(kReply);
    EXPECT_EQ(window.panels[kPanelReply], "A01000010000000000000000000000");
    EXPECT_EQ(Written(), std::vector<Bytes>{Hex("06")});
    // Panel 2, then the ACK goes out, and only then the page decodes.
    const std::vector<std::string> want = {"panel2 A01000010000000000000000000000",
                                           "hourglass",
                                           "pause 100",
                                           "write 1",
                                           "cursor",
                                           "route"};
    EXPECT_EQ(journal.events, want);
    EXPECT_EQ(link.Vars().LinkState, TLinkState::Ready);
    EXPECT_FALSE(link.Vars().SendBusy);
}

TEST_F(Dispatch, SecondAckCompletesWithThePreviousReply) {
    Connect();
    Receive(Hex("06"));
    Receive(kReply);
    port.writes.clear();
    link.Vars().SendBusy = false;
    link.Vars().CommandFrame[1] = 0x31;
    link.SendFrame(4);
    Receive(Hex("06 06"));
    EXPECT_EQ(window.routed, 2);
    EXPECT_EQ(window.panels[kPanelReply], "A01000010000000000000000000000");
    EXPECT_EQ(Written().back(), Hex("06"));
}

TEST_F(Dispatch, MalformedFrameInEveryState) {
    const TLinkState states[] = {TLinkState::Unchecked, TLinkState::AwaitingLinkAck,
                                 TLinkState::Ready, TLinkState::AwaitingReply};
    for (TLinkState s : states) {
        test::Journal j;
        test::FakePort p{j};
        test::FakeWindow w{j};
        TCameraLink l{p, w, [](int) {}};
        w.onQuery = [&] { l.SendFrame(4); };
        l.Vars().LinkState = s;
        p.pending.assign(kBadEnd.begin(), kBadEnd.end());
        l.Comm1RxChar(18);
        EXPECT_EQ(p.writes, std::vector<Bytes>{Hex("06")}) << int(s);
        EXPECT_EQ(l.Vars().LinkState, TLinkState::AwaitingLinkAck) << int(s);
        EXPECT_TRUE(l.Vars().SendBusy);
        EXPECT_TRUE(w.hourglass);
        // The camera's next ACK confirms the link and queries the page again.
        p.pending = "\x06";
        l.Comm1RxChar(1);
        EXPECT_EQ(w.panels[kPanelLink], "CAM LINK OK") << int(s);
        EXPECT_EQ(w.queries, 1);
    }
}

TEST_F(Dispatch, CountLimitsWhatIsParsed) {
    Connect();
    // Count 0 reads and drops.
    Receive(Hex("06"), 0);
    EXPECT_EQ(link.Vars().LinkState, TLinkState::Ready);
    EXPECT_TRUE(port.pending.empty());
    // More waiting than Count: the rest is dropped.
    Receive(Hex("06 15 06"), 1);
    EXPECT_EQ(link.Vars().LinkState, TLinkState::AwaitingReply);
    // Count beyond what was read stops at the end of the text.
    Receive(Hex("02 A0"), 50);
    EXPECT_EQ(link.Vars().Parser.ParserState, TParserState::Payload);
}

TEST_F(Dispatch, SilentCameraGetsTheFrameThreeTimesThenTheLinkIsFree) {
    Connect();
    link.Vars().SendBusy = false;
    window.onQuery();  // a page query, busy this time
    const Bytes frame = Written().back();
    for (int i = 0; i < kReplyRetries; ++i) {
        link.ReplyTimeout();
        EXPECT_TRUE(link.Vars().SendBusy);
    }
    link.ReplyTimeout();
    EXPECT_EQ(Written(), (std::vector<Bytes>{frame, frame, frame}));
    EXPECT_FALSE(link.Vars().SendBusy);
    EXPECT_FALSE(window.hourglass);
    EXPECT_EQ(window.panels[kPanelLink], kTextNoAnswer);
    // A later completed reply says the link is fine again.
    window.onQuery();
    Receive(Hex("06"));
    Receive(kReply);
    EXPECT_EQ(window.panels[kPanelLink], kTextLinkOk);
}

TEST_F(Dispatch, SilentCameraAtStartUp) {
    link.OpenCameraPort(1, 9600);
    link.CheckLink();
    link.ReplyTimeout();
    link.ReplyTimeout();
    link.ReplyTimeout();
    EXPECT_EQ(Written(), (std::vector<Bytes>{Hex("05"), Hex("05"), Hex("05")}));
    EXPECT_EQ(window.panels[kPanelLink], kTextNoCamera);
    EXPECT_FALSE(link.Vars().SendBusy);
    EXPECT_FALSE(window.hourglass);
    EXPECT_FALSE(window.pagesEnabled);
    // A late ACK still confirms the link.
    Receive(Hex("06"));
    EXPECT_EQ(window.panels[kPanelLink], kTextLinkOk);
    EXPECT_TRUE(window.pagesEnabled);
}

TEST_F(Dispatch, TimeoutAfterAnAcceptedReplyDoesNothing) {
    Connect();
    link.Vars().SendBusy = false;
    window.onQuery();
    Receive(Hex("06"));
    Receive(kReply);
    port.writes.clear();
    link.ReplyTimeout();
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(window.panels[kPanelLink], kTextLinkOk);
}

TEST_F(Dispatch, RejectedReplyIsAskedForAgain) {
    Connect();
    pageAccepts = false;
    link.Vars().SendBusy = false;
    window.onQuery();
    const Bytes frame = Written().back();
    Receive(Hex("06"));
    Receive(kReply);
    EXPECT_TRUE(link.Vars().SendBusy);
    link.ReplyTimeout();
    EXPECT_EQ(Written().back(), frame);
    EXPECT_EQ(link.Vars().LinkState, TLinkState::Ready);
}

TEST_F(Dispatch, FailedWriteStillTimesOut) {
    Connect();
    link.Vars().SendBusy = false;
    port.throwOnWrite = true;
    EXPECT_THROW(window.onQuery(), std::runtime_error);
    EXPECT_TRUE(link.Vars().SendBusy);
    port.throwOnWrite = false;
    link.ReplyTimeout();
    link.ReplyTimeout();
    link.ReplyTimeout();
    EXPECT_FALSE(link.Vars().SendBusy);
}

TEST(ReplyTimeoutMs, FollowsTheLineSpeed) {
    EXPECT_EQ(ReplyTimeoutMs(9600), 939);
    EXPECT_GT(ReplyTimeoutMs(1200), ReplyTimeoutMs(9600));
    EXPECT_GT(ReplyTimeoutMs(9600), ReplyTimeoutMs(115200));
    EXPECT_GT(ReplyTimeoutMs(0), 0);  // a nonsense speed still gives a finite time-out
}

}  // namespace
}  // namespace zp

namespace zp {
namespace {

struct FollowUps : Dispatch {};

TEST_F(FollowUps, WaitForTheOutstandingExchangeThenGoOutInOrder) {
    Connect();
    link.Vars().SendBusy = false;
    window.onQuery();  // outstanding
    port.writes.clear();
    link.SendFollowUp({0x21, 0x21, 0x02, 0x00});
    link.SendFollowUp({0x21, 0x21, 0x0E, 0x00});
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(link.PendingFollowUps(), 2u);
    // The reply frees the link: the first follow-up goes out right after our ACK.
    Receive(Hex("06"));
    Receive(kReply);
    ASSERT_EQ(Written().size(), 2u);
    EXPECT_EQ(Written()[0], Hex("06"));
    EXPECT_EQ(Written()[1], Hex("02 21 21 02 00 00 00 00 00 00 00 00 00 00 00 00 03 B7"));
    // Its answer frees the link again and brings the second.
    Receive(Hex("06"));
    Receive(kReply);
    EXPECT_EQ(Written().back(), Hex("02 21 21 0E 00 00 00 00 00 00 00 00 00 00 00 00 03 AB"));
    EXPECT_EQ(link.PendingFollowUps(), 0u);
}

TEST_F(FollowUps, SentAtOnceWhenTheLinkIsFree) {
    Connect();
    link.Vars().SendBusy = false;
    link.SendFollowUp({0x21, 0x21, 0x05, 0x00});
    EXPECT_EQ(Written(),
              std::vector<Bytes>{Hex("02 21 21 05 00 00 00 00 00 00 00 00 00 00 00 00 03 B4")});
}

TEST_F(FollowUps, GoOutEvenAfterTheCameraFailedToAnswer) {
    Connect();
    link.Vars().SendBusy = false;
    window.onQuery();
    link.SendFollowUp({0x21, 0x21, 0x02, 0x00});
    port.writes.clear();
    for (int i = 0; i <= kReplyRetries; ++i) {
        link.ReplyTimeout();
    }
    EXPECT_EQ(Written().back(), Hex("02 21 21 02 00 00 00 00 00 00 00 00 00 00 00 00 03 B7"));
}

}  // namespace
}  // namespace zp
