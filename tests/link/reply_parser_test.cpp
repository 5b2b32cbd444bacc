#include "link/reply_parser.h"

#include <gtest/gtest.h>

#include "tests/link/fakes.h"

namespace zp {
namespace {

using test::Bytes;
using test::Hex;

std::vector<int32_t> Feed(TReplyParser& p, const Bytes& bytes) {
    std::vector<int32_t> out;
    for (uint8_t b : bytes) {
        out.push_back(p.FeedReplyByte(b));
    }
    return out;
}

// n times -1, then the given tail.
std::vector<int32_t> Nothing(int n, std::vector<int32_t> tail = {}) {
    std::vector<int32_t> out(static_cast<size_t>(n), kReplyNothing);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

const Bytes kGood = Hex("02 A0 1A 01 02 03 00 00 00 00 00 00 00 00 00 00 03 3B");

Bytes With(Bytes b, size_t index, uint8_t value) {
    b[index] = value;
    return b;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<int32_t> Concat32(std::vector<int32_t> a, const std::vector<int32_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(FeedReplyByte, ResultSequences) {
    struct Case {
        const char* name;
        Bytes input;
        std::vector<int32_t> results;
        TParserState after;
    };
    const Case cases[] = {
        {"good frame", kGood, Nothing(17, {3}), TParserState::PassThrough},
        {"wrong checksum still delivered", With(kGood, 17, 0x77), Nothing(17, {3}),
         TParserState::PassThrough},
        {"wrong end byte", With(kGood, 16, 0x04), Nothing(17, {-2}), TParserState::PassThrough},
        {"stray first byte", With(kGood, 0, 0x41), Nothing(17, {-2}), TParserState::PassThrough},
        {"ACK while hunting", Hex("06"), {6}, TParserState::Hunting},
        {"NAK while hunting", Hex("15"), {21}, TParserState::Hunting},
        {"ACK NAK ACK", Hex("06 15 06"), {6, 21, 6}, TParserState::Hunting},
        {"pass-through after a frame", Concat(kGood, Hex("06")), Nothing(17, {3, 6}),
         TParserState::Hunting},
        {"pass-through hands back any byte", Concat(kGood, Hex("C5")), Nothing(17, {3, 0xC5}),
         TParserState::Hunting},
        {"pass-through after a malformed frame", Concat(With(kGood, 16, 0), Hex("15 06")),
         Nothing(17, {-2, 0x15, 6}), TParserState::Hunting},
        // The second frame's start byte is handed back; its other 17 bytes are
        // skipped and the byte after them reports the malformed frame.
        {"frame starting on the pass-through position", Concat(Concat(kGood, kGood), Hex("06")),
         Concat32(Nothing(17, {3, 2}), Nothing(17, {-2})), TParserState::PassThrough},
        {"ACK inside a frame is data", With(kGood, 5, 0x06), Nothing(17, {3}),
         TParserState::PassThrough},
    };
    for (const Case& c : cases) {
        TReplyParser p;
        std::vector<int32_t> got = Feed(p, c.input);
        EXPECT_EQ(got, c.results) << c.name;
        EXPECT_EQ(p.ParserState, c.after) << c.name;
    }
}

TEST(FeedReplyByte, GoodFrameFillsTheBufferWithoutTheChecksum) {
    // Start, ACK and NAK inside a frame are data like any other byte.
    const Bytes frames[] = {kGood, With(kGood, 5, kACK), With(kGood, 3, kSTX),
                            With(kGood, 15, kNAK)};
    for (const Bytes& frame : frames) {
        TReplyParser p;
        EXPECT_EQ(Feed(p, frame), Nothing(17, {3}));
        for (size_t i = 0; i < kReplyStored; ++i) {
            EXPECT_EQ(p.ReplyFrame[i], frame[i]) << i;
        }
        EXPECT_EQ(p.SavedEnd, kETX);
        EXPECT_EQ(p.ReplyLength, 17);
    }
}

TEST(FeedReplyByte, MalformedFrameOverwritesInPlace) {
    TReplyParser p;
    Feed(p, kGood);
    p.Reset();
    Bytes bad = Hex("02 A0 1B 07 07 07 07 07 07 07 07 07 07 07 07 07 99 00");
    EXPECT_EQ(Feed(p, bad).back(), kReplyMalformed);
    // Bytes 0..15 are the new frame's; the end byte was not stored.
    EXPECT_EQ(p.ReplyFrame[2], 0x1B);
    EXPECT_EQ(p.ReplyFrame[16], kETX);
}

TEST(FeedReplyByte, MalformedFrameCostsExactlyEighteenBytes) {
    // After each kind of malformed frame, reset as the dispatch does, then a
    // good frame must parse on its own 18 bytes.
    const Bytes bad[] = {With(kGood, 0, 0x41), With(kGood, 16, 0x04), Bytes(18, 0xFF),
                         With(With(kGood, 0, 0x15 + 1), 16, 0x02)};
    for (const Bytes& b : bad) {
        TReplyParser p;
        std::vector<int32_t> r = Feed(p, b);
        ASSERT_EQ(r.size(), 18u);
        EXPECT_EQ(r.back(), kReplyMalformed);
        p.Reset();
        EXPECT_EQ(Feed(p, kGood), Nothing(17, {3}));
    }
}

TEST(FeedReplyByte, ResetLeavesLengthAndBuffer) {
    TReplyParser p;
    Feed(p, Hex("02 A0 1A 05"));
    p.Reset();
    EXPECT_EQ(p.ParserState, TParserState::Hunting);
    EXPECT_EQ(p.ReplyLength, 4);
    EXPECT_EQ(p.ReplyFrame[3], 0x05);
    EXPECT_EQ(p.FeedReplyByte(kACK), kReplyAck);
}

}  // namespace
}  // namespace zp
