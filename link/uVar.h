// The camera link's program-wide state: one object, so every test can start
// from a fresh one.
#pragma once

#include <array>
#include <cstdint>

#include "link/reply_parser.h"

namespace zp {

using TCommandFrame = std::array<uint8_t, kFrameSize>;

enum class TLinkState : uint8_t {
    Unchecked = 0,
    AwaitingLinkAck = 1,
    Ready = 2,
    AwaitingReply = 3,
};

// Request kinds in byte 1 of a command frame.
constexpr uint8_t kQuery = 0x31;
constexpr uint8_t kSet = 0x21;
// Reply kind of a data reply, in reply byte 1.
constexpr uint8_t kDataReply = 0xA0;

class TCameraLink;
// Lets a test put the link into a state it would otherwise have to play out.
struct TLinkTestAccess;

// A part of the link's state that only the link changes; everyone else
// reads it as a plain value.
template <typename T>
class TLinkOwned {
  public:
    TLinkOwned() = default;
    TLinkOwned(const TLinkOwned&) = delete;

    operator T() const { return value_; }
    friend bool operator==(const TLinkOwned& a, T b) { return a.value_ == b; }
    friend bool operator==(T a, const TLinkOwned& b) { return a == b.value_; }
    friend bool operator!=(const TLinkOwned& a, T b) { return a.value_ != b; }
    friend bool operator!=(T a, const TLinkOwned& b) { return a != b.value_; }

  private:
    friend class TCameraLink;
    friend struct TLinkTestAccess;

    TLinkOwned& operator=(T v) {
        value_ = v;
        return *this;
    }
    TLinkOwned& operator=(const TLinkOwned&) = default;

    T value_{};
};

struct TLinkVars {
    // The one frame buffer: builders write bytes 1..n in place; it keeps its
    // content after sending, so reply handlers can read the request kind.
    TCommandFrame CommandFrame{};
    // An exchange is outstanding. Pages free it with TCameraLink::ReleaseLink.
    TLinkOwned<bool> SendBusy;
    TReplyParser Parser;
    TLinkOwned<TLinkState> LinkState;  // starts Unchecked
};

}  // namespace zp
