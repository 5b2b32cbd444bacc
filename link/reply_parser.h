// The camera's side of the line, byte by byte: control bytes, 18-byte reply
// frames and malformed frames that are skipped whole.
#pragma once

#include <array>
#include <cstdint>

namespace zp {

// Control bytes of the protocol.
constexpr uint8_t kSTX = 0x02, kETX = 0x03, kENQ = 0x05, kACK = 0x06, kNAK = 0x15;

constexpr int kFrameSize = 18;
// Bytes of a reply that are kept: start, payload 1 to 15, end; not the checksum.
constexpr int kReplyStored = 17;

// What one received byte completed.
enum class TReplyKind : uint8_t {
    Nothing,    // the byte was taken, nothing is complete yet
    Malformed,  // a malformed frame has been skipped whole
    Complete,   // a reply frame is in the reply buffer
    Ack,        // an ACK, between frames or handed back after one
    Nak,        // a NAK, likewise
    Byte,       // any other byte handed back right after a frame
};

// The parser's answer to one byte. A byte handed back keeps its kind apart
// from the frame results, so a stray 0x03 is never taken for a reply.
struct TReplyResult {
    TReplyKind kind = TReplyKind::Nothing;
    // The byte handed back (Ack, Nak, Byte); 0 for the other kinds.
    uint8_t byte = 0;

    friend constexpr bool operator==(const TReplyResult& a, const TReplyResult& b) {
        return a.kind == b.kind && a.byte == b.byte;
    }
    friend constexpr bool operator!=(const TReplyResult& a, const TReplyResult& b) {
        return !(a == b);
    }
};

constexpr TReplyResult kReplyNothing{TReplyKind::Nothing, 0};
constexpr TReplyResult kReplyMalformed{TReplyKind::Malformed, 0};
constexpr TReplyResult kReplyComplete{TReplyKind::Complete, 0};
constexpr TReplyResult kReplyAck{TReplyKind::Ack, kACK};
constexpr TReplyResult kReplyNak{TReplyKind::Nak, kNAK};

// A byte handed back: ACK and NAK by their kind, any other as itself.
constexpr TReplyResult HandedBack(uint8_t b) {
    if (b == kACK) {
        return kReplyAck;
    }
    if (b == kNAK) {
        return kReplyNak;
    }
    return {TReplyKind::Byte, b};
}

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

    // Advances by one received byte and tells what it completed.
    TReplyResult FeedReplyByte(uint8_t b);

    // Back to hunting; ReplyLength and the buffer are left as they are.
    void Reset() { ParserState = TParserState::Hunting; }
};

}  // namespace zp
