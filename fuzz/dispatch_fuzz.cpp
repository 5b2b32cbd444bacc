// Drives the receive dispatch with any mix of received bytes, sends,
// follow-ups, link checks, failing writes and reply time-outs, and checks
// what must hold whatever the camera does: every frame on the line is well
// formed, only ENQ and ACK go out alone, the parser's index stays in its
// buffer, a busy link always has its reply timer running, and the time-out
// frees the link in a bounded number of rounds.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/camera_link.h"
#include "tests/support/link_fakes.h"

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "receive dispatch invariant broken: %s\n", what);
        std::abort();
    }
}

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool Empty() const { return at >= size; }
    uint8_t Next() { return at < size ? data[at++] : 0; }
};

// Takes every write, and checks that it is a well-formed frame or a control
// byte the link may send alone.
class Port : public zp::test::NullPort {
  public:
    int32_t TransmitData(const void* data, int32_t count) override {
        if (failWrites) {
            throw std::runtime_error("write failed");
        }
        const auto* p = static_cast<const uint8_t*>(data);
        if (count == 1) {
            Check(p[0] == zp::kENQ || p[0] == zp::kACK, "a control byte other than ENQ or ACK");
            return 1;
        }
        Check(count == zp::kFrameSize, "a write that is neither a frame nor a control byte");
        uint8_t sum = 0;
        for (int i = 0; i < count; ++i) {
            sum = static_cast<uint8_t>(sum + p[i]);
        }
        Check(sum == 0, "frame checksum");
        Check(p[0] == zp::kSTX && p[16] == zp::kETX, "frame start or end byte");
        Check(p[1] == zp::kQuery || p[1] == zp::kSet, "request kind");
        return count;
    }

    bool failWrites = false;
};

class Window : public zp::test::NullWindow {
  public:
    void SetStatusText(int panel, const std::string&) override {
        Check(panel >= 0 && panel <= 2, "status panel");
    }
    // The active page: its query, and the read-back rule for its group.
    void QueryActivePage() override {
        if (link->CanSend()) {
            zp::test::SendPayload(*link, {zp::kQuery, group, 0, 0});
        }
    }
    void RouteReplyToPage() override {
        const auto& r = link->Vars().Parser.ReplyFrame;
        if (r[1] != zp::kDataReply || r[2] == group) {
            link->ReleaseLink();
        }
    }
    void StartReplyTimer(int milliseconds) override {
        Check(milliseconds > 0, "reply time-out");
        timerArmed = true;
    }
    void ReportError(const std::string& text) override { Check(!text.empty(), "error text"); }

    zp::TCameraLink* link = nullptr;
    uint8_t group = 0x10;
    bool timerArmed = false;
};

// The reply timer runs out, as the window's timer would call it.
void TimeOut(zp::TCameraLink& link, Window& window) {
    if (!window.timerArmed) {
        return;
    }
    window.timerArmed = false;
    link.ReplyTimeout();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    Port port;
    Window window;
    zp::TCameraLink link(port, window, [](int) {});
    window.link = &link;

    while (!in.Empty()) {
        const uint8_t op = in.Next();
        try {
            switch (op % 8) {
                case 0:
                case 1:
                case 2: {  // bytes arrive; Count may differ from what is waiting
                    const size_t n = 1 + in.Next() % 40;
                    for (size_t i = 0; i < n && !in.Empty(); ++i) {
                        port.pending.push_back(static_cast<char>(in.Next()));
                    }
                    const int32_t waiting = static_cast<int32_t>(port.pending.size());
                    const int32_t count = (op & 0x80) != 0 ? waiting - (op >> 3) % 4 : waiting;
                    link.Comm1RxChar(count);
                    break;
                }
                case 3: {  // a command builder
                    if (!link.CanSend()) {
                        break;
                    }
                    auto& f = link.Vars().CommandFrame;
                    f[1] = (op & 0x80) != 0 ? zp::kQuery : zp::kSet;
                    const int32_t n = in.Next() % 16;
                    for (int32_t i = 2; i <= n; ++i) {
                        f[static_cast<size_t>(i)] = in.Next();
                    }
                    link.SendFrame(n < 1 ? 1 : n);
                    break;
                }
                case 4:
                    link.SendFollowUp({zp::kSet, in.Next(), in.Next(), in.Next()});
                    break;
                case 5:
                    TimeOut(link, window);
                    break;
                case 6:
                    link.CheckLink();
                    break;
                case 7:  // another page, or writes that fail from now on
                    if ((op & 0x80) != 0) {
                        port.failWrites = !port.failWrites;
                    } else {
                        window.group = in.Next();
                    }
                    break;
            }
        } catch (...) {
            // A failing write is the link's to report, never its caller's.
            Check(false, "an exception left the link");
        }
        Check(link.Vars().Parser.ReplyLength >= 0 &&
                  link.Vars().Parser.ReplyLength <= zp::kReplyStored,
              "parser length");
        Check(link.CanSend() || window.timerArmed, "busy with no reply timer running");
        Check(!link.Idle() || link.CanSend(), "idle but busy");
    }

    // A camera that falls silent: the time-out frees the link, also after
    // every waiting follow-up has had its turn.
    port.failWrites = false;
    const size_t rounds = (zp::kReplyRetries + 1) * (link.PendingFollowUps() + 2);
    for (size_t i = 0; i < rounds && !link.CanSend(); ++i) {
        TimeOut(link, window);
    }
    Check(link.CanSend(), "the time-out did not free the link");
    return 0;
}
