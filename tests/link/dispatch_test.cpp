#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>

#include "link/camera_link.h"
#include "link/func.h"
#include "tests/support/link_fakes.h"

namespace zp {
namespace {

using test::Bytes;
using test::Hex;

const Bytes kTitleQueryPayload = Hex("31 10 01 00");
const Bytes kTitleQuery = Hex("02 31 10 01 00 00 00 00 00 00 00 00 00 00 00 00 03 B9");
const Bytes kReply = Hex("02 A0 10 00 01 00 00 00 00 00 00 00 00 00 00 00 03 00");
const Bytes kBadEnd = Hex("02 A0 10 00 01 00 00 00 00 00 00 00 00 00 00 00 04 00");

// A link with the title page active: its query, and a handler that releases
// the link when the reply is its own (and the page accepts it).
struct Rig {
    test::Journal journal;
    test::FakePort port{journal};
    test::FakeWindow window{journal};
    test::FakePause pause{journal};
    TCameraLink link{port, window, [this](int ms) { pause(ms); }};
    bool pageAccepts = true;

    Rig() {
        window.onQuery = [this] { test::SendPayload(link, kTitleQueryPayload); };
        window.onRoute = [this] {
            if (pageAccepts) {
                link.ReleaseLink();
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

    // The link is up and the title query answered: nothing outstanding.
    void ConnectIdle() {
        Connect();
        Receive(Hex("06"));
        Receive(kReply);
        port.writes.clear();
    }

    std::vector<Bytes> Written() const { return port.writes; }
};

struct Dispatch : ::testing::Test, Rig {};

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
    link.ReleaseLink();
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
        TLinkTestAccess::SetLinkState(l, s);
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

TEST_F(Dispatch, CountZeroDropsAndLaterBytesAreNotLost) {
    Connect();
    // Count 0 reads and drops.
    Receive(Hex("06"), 0);
    EXPECT_EQ(link.Vars().LinkState, TLinkState::Ready);
    EXPECT_TRUE(port.pending.empty());
    // More waiting than Count (bytes that came after it was taken): all are
    // parsed, so the reply that began is not cut.
    Receive(Hex("06 02 A0"), 1);
    EXPECT_EQ(link.Vars().LinkState, TLinkState::AwaitingReply);
    EXPECT_EQ(link.Vars().Parser.ParserState, TParserState::Payload);
    // Count beyond what was read stops at the end of the text.
    Receive(Hex("10 00"), 50);
    EXPECT_EQ(link.Vars().Parser.ParserState, TParserState::Payload);
}

TEST_F(Dispatch, SilentCameraGetsTheFrameThreeTimesThenTheLinkIsFree) {
    Connect();
    link.ReleaseLink();
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
    link.ReleaseLink();
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
    link.ReleaseLink();
    window.onQuery();
    const Bytes frame = Written().back();
    Receive(Hex("06"));
    Receive(kReply);
    EXPECT_TRUE(link.Vars().SendBusy);
    link.ReplyTimeout();
    EXPECT_EQ(Written().back(), frame);
    EXPECT_EQ(link.Vars().LinkState, TLinkState::Ready);
}

// Every row of the link state machine: ACK, NAK and a whole frame in each state.
TEST(LinkStates, EveryStateAndAnswer) {
    enum Input { kAckIn, kNakIn, kFrameIn };
    struct Row {
        TLinkState state;
        Input input;
        TLinkState after;
        const char* panel0;
        std::vector<Bytes> writes;
        int routed;
        bool enabled;
    };
    const Bytes query = kTitleQuery;
    const Row rows[] = {
        {TLinkState::Unchecked, kAckIn, TLinkState::Ready, "", {}, 0, true},
        {TLinkState::Unchecked, kNakIn, TLinkState::Unchecked, "", {}, 0, false},
        {TLinkState::Unchecked, kFrameIn, TLinkState::Unchecked, "", {}, 0, false},
        {TLinkState::AwaitingLinkAck, kAckIn, TLinkState::Ready, "CAM LINK OK", {query}, 0, true},
        {TLinkState::AwaitingLinkAck,
         kNakIn,
         TLinkState::AwaitingLinkAck,
         "Retry Please!",
         {},
         0,
         false},
        {TLinkState::AwaitingLinkAck,
         kFrameIn,
         TLinkState::AwaitingLinkAck,
         "Retry Please!",
         {},
         0,
         false},
        {TLinkState::Ready, kAckIn, TLinkState::AwaitingReply, "", {}, 0, false},
        {TLinkState::Ready, kNakIn, TLinkState::Ready, "", {}, 0, false},
        {TLinkState::Ready, kFrameIn, TLinkState::Ready, "", {}, 0, false},
        {TLinkState::AwaitingReply, kAckIn, TLinkState::Ready, "", {Hex("06")}, 1, false},
        {TLinkState::AwaitingReply, kNakIn, TLinkState::AwaitingReply, "", {}, 0, false},
        {TLinkState::AwaitingReply, kFrameIn, TLinkState::Ready, "", {Hex("06")}, 1, false},
    };
    for (const Row& r : rows) {
        test::Journal j;
        test::FakePort p{j};
        test::FakeWindow w{j};
        TCameraLink l{p, w, [](int) {}};
        w.onQuery = [&] { test::SendPayload(l, kTitleQueryPayload); };
        TLinkTestAccess::SetLinkState(l, r.state);
        test::HoldLink(l);
        const Bytes in = r.input == kAckIn ? Hex("06") : r.input == kNakIn ? Hex("15") : kReply;
        p.pending.assign(in.begin(), in.end());
        l.Comm1RxChar(static_cast<int32_t>(in.size()));
        const std::string name = std::to_string(int(r.state)) + "/" + std::to_string(r.input);
        EXPECT_EQ(l.Vars().LinkState, r.after) << name;
        EXPECT_EQ(w.panels[kPanelLink], r.panel0) << name;
        EXPECT_EQ(p.writes, r.writes) << name;
        EXPECT_EQ(w.routed, r.routed) << name;
        EXPECT_EQ(w.pagesEnabled, r.enabled) << name;
    }
}

// After giving up on a frame that the camera acknowledged but never answered
// (before or after the give-up), its ACK to the next frame belongs to that
// frame: no stale reply is completed.
TEST_F(Dispatch, AckWithoutReplyThenGiveUp) {
    for (const bool lateAck : {false, true}) {
        Connect();
        link.ReleaseLink();
        window.onQuery();
        for (int i = 0; i < kReplyRetries; ++i) {
            link.ReplyTimeout();
        }
        if (!lateAck) {
            Receive(Hex("06"));
        }
        link.ReplyTimeout();
        ASSERT_TRUE(link.CanSend());
        if (lateAck) {
            Receive(Hex("06"));
        }
        window.onQuery();
        port.writes.clear();
        const int routed = window.routed;
        Receive(Hex("06"));
        EXPECT_TRUE(Written().empty()) << lateAck;
        EXPECT_EQ(window.routed, routed) << lateAck;
        EXPECT_EQ(link.Vars().LinkState, TLinkState::AwaitingReply) << lateAck;
        // Its own reply completes it.
        Receive(kReply);
        EXPECT_EQ(Written(), std::vector<Bytes>{Hex("06")}) << lateAck;
        EXPECT_FALSE(link.Vars().SendBusy) << lateAck;
    }
}

// A reply that arrives after the link gave up, for a page no longer active,
// must not leave the link busy for good.
TEST_F(Dispatch, LateReplyForAnotherPageDoesNotLockTheLink) {
    Connect();
    pageAccepts = false;
    link.ReleaseLink();
    window.onQuery();
    for (int i = 0; i <= kReplyRetries; ++i) {
        link.ReplyTimeout();
    }
    ASSERT_TRUE(link.CanSend());
    Receive(Hex("06"));
    Receive(kReply);
    EXPECT_FALSE(link.CanSend());
    port.writes.clear();
    link.ReplyTimeout();
    EXPECT_TRUE(link.CanSend());
    EXPECT_FALSE(window.hourglass);
    EXPECT_TRUE(Written().empty());  // nothing to send again
    EXPECT_TRUE(link.Idle());
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
    link.ReleaseLink();
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
    link.ReleaseLink();
    link.SendFollowUp({0x21, 0x21, 0x05, 0x00});
    EXPECT_EQ(Written(),
              std::vector<Bytes>{Hex("02 21 21 05 00 00 00 00 00 00 00 00 00 00 00 00 03 B4")});
}

TEST_F(FollowUps, GoOutEvenAfterTheCameraFailedToAnswer) {
    Connect();
    link.ReleaseLink();
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

namespace zp {
namespace {

const Bytes kStop = Hex("02 21 21 02 00 00 00 00 00 00 00 00 00 00 00 00 03 B7");

// A write that raises never leaves the link: the operator reads the error,
// the link is free and the cursor back, and a stop stays queued.
TEST(FailedWrites, EveryPathReportsAndFreesTheLink) {
    struct Row {
        const char* name;
        std::function<void(Rig&)> before;  // brings the link to the write
        std::function<void(Rig&)> write;   // the event whose write throws
        size_t followUpsKept;
    };
    const Row rows[] = {
        {"page query", [](Rig& r) { r.ConnectIdle(); }, [](Rig& r) { r.window.onQuery(); }, 0},
        {"link check", [](Rig& r) { r.link.OpenCameraPort(1, 9600); },
         [](Rig& r) { r.link.CheckLink(); }, 0},
        {"ACK of a reply",
         [](Rig& r) {
             r.ConnectIdle();
             r.window.onQuery();
             r.Receive(Hex("06"));
         },
         [](Rig& r) { r.Receive(kReply); }, 0},
        {"ACK after a malformed frame", [](Rig& r) { r.ConnectIdle(); },
         [](Rig& r) { r.Receive(kBadEnd); }, 0},
        {"resend after a time-out",
         [](Rig& r) {
             r.ConnectIdle();
             r.window.onQuery();
         },
         [](Rig& r) { r.link.ReplyTimeout(); }, 0},
        {"follow-up", [](Rig& r) { r.ConnectIdle(); },
         [](Rig& r) {
             r.link.SendFollowUp({0x21, 0x21, 0x02, 0x00});
         },
         1},
    };
    for (const Row& row : rows) {
        Rig r;
        row.before(r);
        const int routed = r.window.routed;
        r.port.throwOnWrite = true;
        EXPECT_NO_THROW(row.write(r)) << row.name;
        EXPECT_EQ(r.window.errors,
                  std::vector<std::string>{"Output buffer is full. Please check comm status."})
            << row.name;
        EXPECT_FALSE(r.link.Vars().SendBusy) << row.name;
        EXPECT_FALSE(r.window.hourglass) << row.name;
        EXPECT_EQ(r.window.routed, routed) << row.name;  // no ACK, no decoding
        EXPECT_EQ(r.link.PendingFollowUps(), row.followUpsKept) << row.name;

        // The port works again: a link check brings the link back, and a
        // kept stop goes out before the page is read again.
        r.port.throwOnWrite = false;
        r.port.writes.clear();
        r.link.CheckLink();
        r.Receive(Hex("06"));
        EXPECT_EQ(r.window.panels[kPanelLink], kTextLinkOk) << row.name;
        std::vector<Bytes> want{Hex("05")};
        if (row.followUpsKept > 0) {
            want.push_back(kStop);
        } else {
            want.push_back(kTitleQuery);
        }
        EXPECT_EQ(r.port.writes, want) << row.name;
    }
}

// Stops queued while a malformed frame is being recovered go out first; the
// page is read again only after them.
TEST(FollowUpsAndRecovery, QueuedStopsGoOutBeforeTheRequery) {
    Rig r;
    r.ConnectIdle();
    r.window.onQuery();
    r.Receive(Hex("06"));
    r.link.SendFollowUp({0x21, 0x21, 0x02, 0x00});
    r.link.SendFollowUp({0x21, 0x21, 0x0E, 0x00});
    r.Receive(kBadEnd);
    r.port.writes.clear();
    const int queries = r.window.queries;
    r.Receive(Hex("06"));  // confirms the link
    EXPECT_EQ(r.port.writes, std::vector<Bytes>{kStop});
    EXPECT_EQ(r.window.queries, queries);
    EXPECT_TRUE(r.window.pagesEnabled);
    EXPECT_FALSE(r.link.CanSend());  // nothing overtakes the stops
    r.Receive(Hex("06"));
    r.Receive(kReply);
    EXPECT_EQ(r.port.writes.back(), Hex("02 21 21 0E 00 00 00 00 00 00 00 00 00 00 00 00 03 AB"));
    EXPECT_EQ(r.window.queries, queries);
    r.Receive(Hex("06"));
    r.Receive(kReply);
    EXPECT_EQ(r.window.queries, queries + 1);
    EXPECT_EQ(r.port.writes.back(), kTitleQuery);
}

// A follow-up's reply ends its exchange even when the page shown does not
// take it; while the line is lost, follow-ups wait for the next link check.
TEST(FollowUpsAndRecovery, ReplyForAnotherPageAndALostLine) {
    Rig r;
    r.ConnectIdle();
    r.pageAccepts = false;  // the page shown takes nothing
    r.link.SendFollowUp({0x21, 0x21, 0x02, 0x00});
    r.Receive(Hex("06"));
    r.Receive(kReply);
    EXPECT_TRUE(r.link.CanSend());

    r.link.PortLost();
    r.port.writes.clear();
    r.link.SendFollowUp({0x21, 0x21, 0x02, 0x00});
    EXPECT_TRUE(r.port.writes.empty());
    r.link.OpenCameraPort(1, 9600);
    r.link.CheckLink();
    r.Receive(Hex("06"));
    EXPECT_EQ(r.port.writes, (std::vector<Bytes>{Hex("05"), kStop}));
}

// A stop that cannot have reached the camera is sent again: after a lost
// line or a reopened port once the link is confirmed, after going
// unanswered once the camera answers something, after a failed write when
// the reply timer runs out.
TEST(FollowUpsAndRecovery, AStopThatCannotHaveArrivedIsSentAgain) {
    const auto reconnect = [](Rig& r) {
        r.link.OpenCameraPort(1, 9600);
        r.link.CheckLink();
        r.Receive(Hex("06"));
    };
    struct Row {
        const char* name;
        std::function<void(Rig&)> lose;   // after the stop was handed over
        std::function<void(Rig&)> after;  // what lets it go again
        std::vector<Bytes> written;       // from then on
    };
    const Row rows[] = {
        {"line lost on its way", [](Rig& r) { r.link.PortLost(); }, reconnect, {Hex("05"), kStop}},
        {"port reopened on its way",
         [](Rig& r) { r.link.OpenCameraPort(1, 9600); },
         [](Rig& r) {
             r.link.CheckLink();
             r.Receive(Hex("06"));
         },
         {Hex("05"), kStop}},
        {"never answered",
         [](Rig& r) {
             for (int i = 0; i <= kReplyRetries; ++i) {
                 r.link.ReplyTimeout();
             }
         },
         [](Rig& r) {
             r.window.onQuery();
             r.Receive(Hex("06"));
             r.Receive(kReply);
         },
         {kTitleQuery, Hex("06"), kStop}},
        {"write failed", [](Rig&) {}, [](Rig& r) { r.link.ReplyTimeout(); }, {kStop}},
        {"resend failed",
         [](Rig& r) {
             r.port.throwOnWrite = true;
             r.link.ReplyTimeout();
             r.port.throwOnWrite = false;
         },
         [](Rig& r) { r.link.ReplyTimeout(); },
         {kStop}},
    };
    for (const Row& row : rows) {
        Rig r;
        r.ConnectIdle();
        r.port.throwOnWrite = std::string(row.name) == "write failed";
        r.link.SendFollowUp({0x21, 0x21, 0x02, 0x00});
        r.port.throwOnWrite = false;
        row.lose(r);
        EXPECT_EQ(r.link.PendingFollowUps(), 1u) << row.name;
        r.port.writes.clear();
        row.after(r);
        EXPECT_EQ(r.port.writes, row.written) << row.name;
        EXPECT_EQ(r.link.PendingFollowUps(), 0u) << row.name;
    }
}

// When a link check gives up, what the panel says and where the link stands
// depend on whether the camera was heard.
TEST(GiveUp, LinkCheckThatGoesUnanswered) {
    struct Row {
        const char* name;
        std::function<void(Rig&)> before;
        const char* panel0;
        bool nextCommandKeepsItsReply;
    };
    const Row rows[] = {
        {"no camera at start",
         [](Rig& r) {
             r.link.OpenCameraPort(1, 9600);
             r.link.CheckLink();
         },
         kTextNoCamera, false},
        {"NAK to ENQ",
         [](Rig& r) {
             r.link.OpenCameraPort(1, 9600);
             r.link.CheckLink();
             r.Receive(Hex("15"));
         },
         kTextRetry, false},
        {"recovery ACK after the link was confirmed",
         [](Rig& r) {
             r.ConnectIdle();
             r.window.onQuery();
             r.Receive(Hex("06"));
             r.Receive(kBadEnd);
         },
         kTextNoAnswer, true},
    };
    for (const Row& row : rows) {
        Rig r;
        row.before(r);
        for (int i = 0; i <= kReplyRetries; ++i) {
            r.link.ReplyTimeout();
        }
        EXPECT_TRUE(r.link.CanSend()) << row.name;
        EXPECT_EQ(r.window.panels[kPanelLink], row.panel0) << row.name;
        if (!row.nextCommandKeepsItsReply) {
            continue;
        }
        // The operator's next command: its ACK is not a link confirmation,
        // and its reply is decoded.
        const int queries = r.window.queries;
        const int routed = r.window.routed;
        r.window.onQuery();
        r.Receive(Hex("06"));
        EXPECT_EQ(r.link.Vars().LinkState, TLinkState::AwaitingReply) << row.name;
        r.Receive(kReply);
        EXPECT_EQ(r.window.queries, queries) << row.name;  // no re-query
        EXPECT_EQ(r.window.routed, routed + 1) << row.name;
        EXPECT_EQ(r.window.panels[kPanelLink], kTextLinkOk) << row.name;
    }
}

// The parser hunts afresh after the ACK of a reply: a frame that follows the
// reply at once is a whole frame, not a pass-through byte and a skipped run.
TEST(ParserReset, AnotherFrameRightAfterTheReply) {
    Rig r;
    r.ConnectIdle();
    r.window.onQuery();
    r.Receive(Hex("06"));
    Bytes burst = kReply;
    burst.insert(burst.end(), kReply.begin(), kReply.end());
    burst.push_back(0x06);
    r.Receive(burst);
    EXPECT_EQ(r.port.writes, (std::vector<Bytes>{kTitleQuery, Hex("06")}));
    EXPECT_EQ(r.link.Vars().LinkState, TLinkState::AwaitingReply);
}

}  // namespace
}  // namespace zp

namespace zp {
namespace {

// The line on a fake clock: each pause moves it on, and so does the camera's
// time to answer. Every write is stamped with the time it left.
class ClockedPort : public test::FakePort {
  public:
    ClockedPort(test::Journal& j, const int64_t& clock) : FakePort(j), clock_(clock) {}
    std::vector<std::pair<int64_t, Bytes>> sent;

  protected:
    void Wrote(int32_t count) override {
        FakePort::Wrote(count);
        sent.emplace_back(clock_, writes.back());
    }

  private:
    const int64_t& clock_;
};

struct Clocked {
    int64_t now = 0;
    std::vector<int64_t> replies;  // when a reply's last byte arrived
    test::Journal journal;
    ClockedPort port{journal, now};
    test::FakeWindow window{journal};
    TCameraLink link{port, window, [this](int ms) { now += ms; }};

    void Camera(int afterMs, const Bytes& bytes) {
        now += afterMs;
        if (bytes.size() == kFrameSize) {
            replies.push_back(now);
        }
        port.pending.assign(bytes.begin(), bytes.end());
        link.Comm1RxChar(static_cast<int32_t>(bytes.size()));
    }
};

// Whatever decides a transmission, it leaves at least 100 ms after the one
// before it, and an ACK exactly 100 ms after the reply it answers.
TEST(Pacing, EveryTransmissionWaitsItsPauseOnTheClock) {
    struct Case {
        const char* name;
        int titleParts;    // replies the page answers with its next query
        bool followUp;     // a stop queued while the query is out
        bool silentFirst;  // the first query goes unanswered once
    };
    const Case cases[] = {
        {"link check and one page", 0, false, false},
        {"the title read, five exchanges", 4, false, false},
        {"a stop queued behind the query", 0, true, false},
        {"a resend after a time-out", 0, false, true},
    };
    const Bytes ack = Hex("06");
    for (const Case& c : cases) {
        Clocked k;
        int parts = c.titleParts;
        k.window.onQuery = [&] { test::SendPayload(k.link, kTitleQueryPayload); };
        k.window.onRoute = [&] {
            k.link.ReleaseLink();
            if (parts-- > 0) {
                test::SendPayload(k.link, kTitleQueryPayload);
            }
        };
        k.link.OpenCameraPort(1, 9600);
        k.link.CheckLink();
        k.Camera(3, ack);
        if (c.followUp) {
            k.link.SendFollowUp(Hex("21 21 02 00"));
        }
        if (c.silentFirst) {
            k.now += ReplyTimeoutMs(9600);
            k.link.ReplyTimeout();
        }
        for (int i = 0; i <= c.titleParts + (c.followUp ? 1 : 0); ++i) {
            k.Camera(5, ack);
            k.Camera(20, kReply);
        }
        const auto& sent = k.port.sent;
        ASSERT_GE(sent.size(), 3u) << c.name;
        for (size_t i = 1; i < sent.size(); ++i) {
            EXPECT_GE(sent[i].first - sent[i - 1].first, kSendPauseMs)
                << c.name << ", transmission " << i;
        }
        size_t acks = 0;
        for (int64_t reply : k.replies) {
            const auto answer = std::find_if(sent.begin(), sent.end(),
                                             [&](const auto& s) { return s.first > reply; });
            ASSERT_NE(answer, sent.end()) << c.name;
            EXPECT_EQ(answer->second, ack) << c.name;
            EXPECT_EQ(answer->first - reply, kSendPauseMs) << c.name;
            ++acks;
        }
        EXPECT_EQ(acks, static_cast<size_t>(c.titleParts + (c.followUp ? 2 : 1))) << c.name;
    }
}

}  // namespace
}  // namespace zp

namespace zp {
namespace {

struct Recorder : ITrafficObserver {
    void OnTraffic(const TTrafficEvent& e) override {
        seen.push_back(std::string(KindText(e.kind)) + " " +
                       BytesToHex(e.bytes.data(), e.bytes.size(), " "));
        meanings.push_back(TrafficMeaning(e));
    }
    std::vector<std::string> seen;
    std::vector<std::string> meanings;
};

// Observers hear every event of the line in order: what went out, what came
// back and what became of the exchange.
TEST(Observers, HearEveryEventInOrder) {
    const std::string query = "frame " + test::ToHex(kTitleQuery);
    const std::string reply = "reply " + test::ToHex(kReply);
    struct Case {
        const char* name;
        std::function<void(Rig&)> play;
        std::vector<std::string> seen;
        std::string meaning;  // said of one of them
    };
    const Case cases[] = {
        {"an exchange",
         [](Rig& r) {
             r.Receive(Hex("06"));
             r.Receive(kReply);
         },
         {"answer 06", reply, "control 06"},
         "ACK"},
        {"a resend, then a give-up",
         [](Rig& r) {
             test::SendPayload(r.link, kTitleQueryPayload);
             r.link.ReplyTimeout();
             r.link.ReplyTimeout();
             r.link.ReplyTimeout();
         },
         {query, "time-out ", "resend " + test::ToHex(kTitleQuery), "time-out ",
          "resend " + test::ToHex(kTitleQuery), "time-out ", "give-up "},
         "resend 1 of 2: C.ID \xC2\xB7 query title part 0"},
        {"a malformed frame",
         [](Rig& r) {
             r.Receive(Hex("06"));
             r.Receive(kBadEnd);
         },
         {"answer 06", "malformed " + test::ToHex(kBadEnd), "control 06"},
         "malformed: end byte 04"},
        {"a byte after a reply nobody waits for",
         [](Rig& r) {
             Bytes bytes = kReply;
             bytes.push_back(0x41);
             r.Receive(bytes);
         },
         {reply, "discarded 41"},
         "1 byte outside a frame, dropped"},
        {"a hang-up", [](Rig& r) { r.link.PortLost(); }, {"hang-up "}, "the device went away"},
    };
    for (const Case& c : cases) {
        Rig r;
        Recorder rec;
        r.link.AddObserver(&rec);
        r.link.OpenCameraPort(1, 9600);
        r.link.CheckLink();
        r.Receive(Hex("06"));
        const std::vector<std::string> start = {"port opened ", "control 05", "answer 06", query};
        ASSERT_EQ(rec.seen, start) << c.name;
        rec.seen.clear();
        c.play(r);
        EXPECT_EQ(rec.seen, c.seen) << c.name;
        EXPECT_NE(std::find(rec.meanings.begin(), rec.meanings.end(), c.meaning),
                  rec.meanings.end())
            << c.name << ": " << ::testing::PrintToString(rec.meanings);
        r.link.RemoveObserver(&rec);
    }
}

}  // namespace
}  // namespace zp
