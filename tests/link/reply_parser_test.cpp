#include "link/reply_parser.h"

#include <gtest/gtest.h>

#include "tests/support/link_fakes.h"

namespace zp {
namespace {

using test::Bytes;
using test::Hex;

using Results = std::vector<TReplyResult>;

Results Feed(TReplyParser& p, const Bytes& bytes) {
    Results out;
    for (uint8_t b : bytes) {
        out.push_back(p.FeedReplyByte(b));
    }
    return out;
}

// n times nothing, then the given tail.
Results Nothing(int n, Results tail = {}) {
    Results out(static_cast<size_t>(n), kReplyNothing);
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

Results Concat(Results a, const Results& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A byte handed back as itself.
TReplyResult Passed(uint8_t b) {
    return {TReplyKind::Byte, b};
}

const TReplyResult kDone = kReplyComplete;
const TReplyResult kBad = kReplyMalformed;

TEST(FeedReplyByte, ResultSequences) {
    struct Case {
        const char* name;
        Bytes input;
        Results results;
        TParserState after;
    };
    const Case cases[] = {
        {"good frame", kGood, Nothing(17, {kDone}), TParserState::PassThrough},
        {"wrong checksum still delivered", With(kGood, 17, 0x77), Nothing(17, {kDone}),
         TParserState::PassThrough},
        {"wrong end byte", With(kGood, 16, 0x04), Nothing(17, {kBad}), TParserState::PassThrough},
        {"stray first byte", With(kGood, 0, 0x41), Nothing(17, {kBad}), TParserState::PassThrough},
        {"ACK while hunting", Hex("06"), {kReplyAck}, TParserState::Hunting},
        {"NAK while hunting", Hex("15"), {kReplyNak}, TParserState::Hunting},
        {"ACK NAK ACK", Hex("06 15 06"), {kReplyAck, kReplyNak, kReplyAck}, TParserState::Hunting},
        {"pass-through after a frame", Concat(kGood, Hex("06")), Nothing(17, {kDone, kReplyAck}),
         TParserState::Hunting},
        {"pass-through hands back any byte", Concat(kGood, Hex("C5")),
         Nothing(17, {kDone, Passed(0xC5)}), TParserState::Hunting},
        {"pass-through after a malformed frame", Concat(With(kGood, 16, 0), Hex("15 06")),
         Nothing(17, {kBad, kReplyNak, kReplyAck}), TParserState::Hunting},
        // The second frame's start byte is handed back; its other 17 bytes are
        // skipped and the byte after them reports the malformed frame.
        {"frame starting on the pass-through position", Concat(Concat(kGood, kGood), Hex("06")),
         Concat(Nothing(17, {kDone, Passed(kSTX)}), Nothing(17, {kBad})),
         TParserState::PassThrough},
        {"ACK inside a frame is data", With(kGood, 5, 0x06), Nothing(17, {kDone}),
         TParserState::PassThrough},
    };
    for (const Case& c : cases) {
        TReplyParser p;
        Results got = Feed(p, c.input);
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
        EXPECT_EQ(Feed(p, frame), Nothing(17, {kDone}));
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
        Results r = Feed(p, b);
        ASSERT_EQ(r.size(), 18u);
        EXPECT_EQ(r.back(), kReplyMalformed);
        p.Reset();
        EXPECT_EQ(Feed(p, kGood), Nothing(17, {kDone}));
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
