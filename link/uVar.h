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

struct TLinkVars {
    // The one frame buffer: builders write bytes 1..n in place; it keeps its
    // content after sending, so reply handlers can read the request kind.
    TCommandFrame CommandFrame{};
    // An exchange is outstanding.
    bool SendBusy = false;
    TReplyParser Parser;
    TLinkState LinkState = TLinkState::Unchecked;
};

}  // namespace zp
