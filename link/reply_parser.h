// The camera's side of the line, byte by byte: control bytes, 18-byte reply
// frames and malformed frames that are skipped whole.
#pragma once

#include <array>
#include <cstdint>

namespace zp {

// Control bytes of the protocol.
constexpr uint8_t kSTX = 0x02;
constexpr uint8_t kETX = 0x03;
constexpr uint8_t kENQ = 0x05;
constexpr uint8_t kACK = 0x06;
constexpr uint8_t kNAK = 0x15;

constexpr int kFrameSize = 18;
// Bytes of a reply that are kept: start, payload 1 to 15, end; not the checksum.
constexpr int kReplyStored = 17;

// Results of FeedReplyByte besides a pass-through byte (0 to 255).
constexpr int32_t kReplyNothing = -1;
constexpr int32_t kReplyMalformed = -2;
constexpr int32_t kReplyComplete = 3;
constexpr int32_t kReplyAck = kACK;
constexpr int32_t kReplyNak = kNAK;

enum class TParserState {
    Hunting,
    Payload,
    EndExpected,
    ChecksumExpected,
    PassThrough,
    Skipping,
    ErrorPending,
};

// The reply parser with its one reply buffer. The checksum is neither stored
// nor verified: the camera's replies are taken as they come.
struct TReplyParser {
    std::array<uint8_t, kReplyStored> ReplyFrame{};
    TParserState ParserState = TParserState::Hunting;
    int32_t ReplyLength = 0;
    uint8_t SavedEnd = 0;

    // Advances by one received byte; returns -1, -2, 3, 6, 21 or, right after
    // a frame, the byte itself.
    int32_t FeedReplyByte(uint8_t b);

    // Back to hunting; ReplyLength and the buffer are left as they are.
    void Reset() { ParserState = TParserState::Hunting; }
};

}  // namespace zp
