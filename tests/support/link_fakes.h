// Stand-ins for what the camera link talks to (port, window, pause), for its
// tests, the fuzzers and the benchmark: recording fakes, null ones, and the
// one way a test sets up the link's state directly. No Qt here.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/camera_link.h"
#include "link/link_seams.h"
#include "link/reply_parser.h"
#include "tests/support/frames.h"

namespace zp {

// Puts the link into a state that the test would otherwise have to play out.
struct TLinkTestAccess {
    static void SetSendBusy(TCameraLink& link, bool busy) { link.Vars().SendBusy = busy; }
    static void SetLinkState(TCameraLink& link, TLinkState state) { link.Vars().LinkState = state; }
};

// Parser results by name in a failed expectation.
inline void PrintTo(const TReplyResult& r, std::ostream* os) {
    static const char* const kNames[] = {"Nothing", "Malformed", "Complete", "Ack", "Nak", "Byte"};
    *os << kNames[static_cast<int>(r.kind)];
    if (r.kind == TReplyKind::Byte) {
        *os << ' ' << static_cast<int>(r.byte);
    }
}

}  // namespace zp

namespace zp::test {

// An exchange outstanding, without playing one out.
inline void HoldLink(TCameraLink& link) {
    TLinkTestAccess::SetSendBusy(link, true);
}

// Payload bytes 1..n into the shared frame, then SendFrame(n): a command
// builder in one call.
inline void SendPayload(TCameraLink& link, const Bytes& payload) {
    TCommandFrame& f = link.Vars().CommandFrame;
    for (size_t i = 0; i < payload.size() && i + 1 < f.size(); ++i) {
        f[i + 1] = payload[i];
    }
    link.SendFrame(static_cast<int32_t>(payload.size()));
}

// One shared journal, so the order of port writes, panel texts, cursor
// changes and pauses across the fakes can be checked.
struct Journal {
    std::vector<std::string> events;
    void Add(std::string e) { events.push_back(std::move(e)); }
};

// What every scripted port does alike: it keeps the settings it was given,
// records each write, fails writes on request and hands over what the test
// put in pending as the camera's bytes.
template <typename TPort>
class TScriptedPort : public TPort {
  public:
    explicit TScriptedPort(std::string writeError) : writeError_(std::move(writeError)) {}

    bool IsOpen() override { return open; }
    void SetPortNum(int32_t p) override { portNum = p; }
    void SetUserBaudrate(int32_t b) override { baud = b; }
    int32_t TransmitData(const void* data, int32_t count) override {
        if (throwOnWrite) {
            throw std::runtime_error(writeError_);
        }
        const auto* p = static_cast<const uint8_t*>(data);
        writes.emplace_back(p, p + count);
        Wrote(count);
        return open ? count : 0;
    }
    bool TransmitByte(uint8_t b) override { return TransmitData(&b, 1) == 1; }
    std::string ReceivePending() override {
        std::string s;
        s.swap(pending);
        return s;
    }

    bool open = false;
    bool failOpen = false;
    bool throwOnWrite = false;
    int32_t portNum = -1;
    int32_t baud = -1;
    std::vector<Bytes> writes;
    std::string pending;

  protected:
    virtual void Wrote(int32_t /*count*/) {}

  private:
    std::string writeError_;
};

class FakePort : public TScriptedPort<ILinkPort> {
  public:
    explicit FakePort(Journal& j)
        : TScriptedPort("Output buffer is full. Please check comm status."), journal_(j) {
        open = true;
    }

    void Open() override {
        journal_.Add("open");
        if (failOpen) {
            throw std::runtime_error("cannot open");
        }
        open = true;
    }
    void Close() override {
        journal_.Add("close");
        open = false;
    }

  protected:
    void Wrote(int32_t count) override { journal_.Add("write " + std::to_string(count)); }

  private:
    Journal& journal_;
};

class FakeWindow : public ILinkWindow {
  public:
    explicit FakeWindow(Journal& j) : journal_(j) {}

    void SetStatusText(int panel, const std::string& text) override {
        panels[static_cast<size_t>(panel)] = text;
        journal_.Add("panel" + std::to_string(panel) + " " + text);
    }
    void ShowHourglass() override {
        hourglass = true;
        journal_.Add("hourglass");
    }
    void RestoreCursor() override {
        hourglass = false;
        journal_.Add("cursor");
    }
    void EnablePageControl() override {
        pagesEnabled = true;
        journal_.Add("enable");
    }
    void QueryActivePage() override {
        ++queries;
        journal_.Add("query");
        if (onQuery) {
            onQuery();
        }
    }
    void RouteReplyToPage() override {
        ++routed;
        journal_.Add("route");
        if (onRoute) {
            onRoute();
        }
    }

    void StartReplyTimer(int ms) override {
        timerMs = ms;
        ++timerStarts;
    }
    void ReportError(const std::string& text) override {
        errors.push_back(text);
        journal_.Add("error " + text);
    }

    std::string panels[3];
    int timerMs = -1;
    int timerStarts = 0;
    bool hourglass = false;
    bool pagesEnabled = false;
    int queries = 0;
    int routed = 0;
    std::vector<std::string> errors;
    std::function<void()> onQuery;
    std::function<void()> onRoute;

  private:
    Journal& journal_;
};

// A pause that only records; the link's tests never sleep.
struct FakePause {
    explicit FakePause(Journal& j) : journal(j) {}
    void operator()(int ms) {
        pauses.push_back(ms);
        journal.Add("pause " + std::to_string(ms));
    }
    Journal& journal;
    std::vector<int> pauses;
};

// A port that is always open and takes every write without keeping it;
// what the caller puts in pending arrives.
class NullPort : public ILinkPort {
  public:
    bool IsOpen() override { return true; }
    void Open() override {}
    void Close() override {}
    void SetPortNum(int32_t) override {}
    void SetUserBaudrate(int32_t) override {}
    int32_t TransmitData(const void*, int32_t count) override { return count; }
    bool TransmitByte(uint8_t b) override { return TransmitData(&b, 1) == 1; }
    std::string ReceivePending() override {
        std::string s;
        s.swap(pending);
        return s;
    }

    std::string pending;
};

// A window that shows nothing and has no pages.
class NullWindow : public ILinkWindow {
  public:
    void SetStatusText(int, const std::string&) override {}
    void ShowHourglass() override {}
    void RestoreCursor() override {}
    void EnablePageControl() override {}
    void QueryActivePage() override {}
    void RouteReplyToPage() override {}
    void StartReplyTimer(int) override {}
    void ReportError(const std::string&) override {}
};

}  // namespace zp::test
