// What the link reports of the line: every transmission and reception and
// what became of each exchange, time-stamped, to its observers (the traffic
// view, the traffic log); and the one text of such an event that the view and
// the log share.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace zp {

enum class TTrafficKind : uint8_t {
    Frame,        // a command frame sent
    Resend,       // the same frame or control byte sent again
    Control,      // ENQ, ACK or NAK sent
    Reply,        // a reply frame received
    Answer,       // ACK or NAK received
    Malformed,    // bytes that came as a frame and are not one
    Discarded,    // bytes dropped while looking for a frame
    Timeout,      // an exchange went unanswered for its time
    GiveUp,       // the link stopped waiting and is free again
    WriteFailed,  // the port refused a write
    LineOpened,   // a port was opened
    LineLost,     // the port went away (hang-up)
};

enum class TDirection : uint8_t { ToCamera, FromCamera, Link };

struct TTrafficEvent {
    std::chrono::steady_clock::time_point at;
    std::chrono::system_clock::time_point wall;
    TTrafficKind kind = TTrafficKind::Frame;
    TDirection direction = TDirection::Link;
    std::vector<uint8_t> bytes;
    // Resend: which send of how many; Timeout: the time waited in ms.
    int count = 0;
    int of = 0;
    // What the link said: a status text, a port's error, the port's name.
    std::string note;
};

class ITrafficObserver {
  public:
    virtual ~ITrafficObserver() = default;
    virtual void OnTraffic(const TTrafficEvent& e) = 0;
};

// Errors, NAKs, time-outs, resends, give-ups and lost lines: what a view
// makes stand out.
bool IsTrouble(const TTrafficEvent& e);
// "to camera", "from camera", "link".
const char* DirectionText(TDirection d);
// "frame", "resend", "answer", "time-out", ...
const char* KindText(TTrafficKind kind);
// What the event means, in the catalogue's words: "Col · White Balance :=
// AUTO", "reply Col: ...", "resend 1 of 2: ...", "malformed: end byte 04".
std::string TrafficMeaning(const TTrafficEvent& e);
// The page an event concerns (its command group), 0 when none.
uint8_t TrafficGroup(const TTrafficEvent& e);
// Seconds since origin, to the millisecond: "12.345".
std::string RelativeTime(const TTrafficEvent& e, std::chrono::steady_clock::time_point origin);
// The wall clock in local time: "14:02:03.123".
std::string WallTime(const TTrafficEvent& e);
// One line, tab-separated: relative time, wall clock, direction, kind,
// bytes, meaning. The view copies and saves these, the log writes them.
std::string TrafficLine(const TTrafficEvent& e, std::chrono::steady_clock::time_point origin);

// Writes each event as a line to a file and flushes it at once, so a program
// that is killed leaves every line it had written.
class TTrafficLog : public ITrafficObserver {
  public:
    explicit TTrafficLog(std::chrono::steady_clock::time_point origin) : origin_(origin) {}
    ~TTrafficLog() override { Close(); }
    TTrafficLog(const TTrafficLog&) = delete;
    TTrafficLog& operator=(const TTrafficLog&) = delete;

    // Appends to the file; false with the reason when it cannot be written.
    bool Open(const std::string& path, std::string& error);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }
    // Told once when a write fails; the log is closed then.
    std::function<void(const std::string& error)> OnError;

    void OnTraffic(const TTrafficEvent& e) override;

  private:
    std::chrono::steady_clock::time_point origin_;
    std::FILE* file_ = nullptr;
    std::string path_;
};

}  // namespace zp
