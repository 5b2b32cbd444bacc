// Fake port, window and pause for the link's tests: they record what the
// link did, in order, so a test can assert the sequence of effects.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/link_seams.h"
#include "link/reply_parser.h"

namespace zp::test {

using Bytes = std::vector<uint8_t>;

// One shared journal, so the order of port writes, panel texts, cursor
// changes and pauses across the fakes can be checked.
struct Journal {
    std::vector<std::string> events;
    void Add(std::string e) { events.push_back(std::move(e)); }
};

class FakePort : public ILinkPort {
  public:
    explicit FakePort(Journal& j) : journal_(j) {}

    bool IsOpen() override { return open; }
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
    void SetPortNum(int32_t p) override { portNum = p; }
    void SetUserBaudrate(int32_t b) override { baud = b; }
    int32_t TransmitData(const void* data, int32_t count) override {
        if (throwOnWrite) {
            throw std::runtime_error("Output buffer is full. Please check comm status.");
        }
        const auto* p = static_cast<const uint8_t*>(data);
        writes.emplace_back(p, p + count);
        journal_.Add("write " + std::to_string(count));
        return open ? count : 0;
    }
    bool TransmitByte(uint8_t b) override { return TransmitData(&b, 1) == 1; }
    std::string ReceivePending() override {
        std::string s;
        s.swap(pending);
        return s;
    }

    bool open = true;
    bool failOpen = false;
    bool throwOnWrite = false;
    int32_t portNum = -1;
    int32_t baud = -1;
    std::vector<Bytes> writes;
    std::string pending;

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

// "02 31 10" -> bytes.
inline Bytes Hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string byte;
    while (in >> byte) {
        out.push_back(static_cast<uint8_t>(std::stoi(byte, nullptr, 16)));
    }
    return out;
}

}  // namespace zp::test

namespace zp {

// Parser results by name in a failed expectation.
inline void PrintTo(const TReplyResult& r, std::ostream* os) {
    static const char* const kNames[] = {"Nothing", "Malformed", "Complete", "Ack", "Nak", "Byte"};
    *os << kNames[static_cast<int>(r.kind)];
    if (r.kind == TReplyKind::Byte) {
        *os << ' ' << static_cast<int>(r.byte);
    }
}

}  // namespace zp
