// The virtual camera's engine, exchange by exchange: bytes in, bytes out.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>

#include "camera/virtual_camera.h"
#include "tests/support/frames.h"

namespace zp::camera {
namespace {

using test::Hex;
using test::Sealed;
using test::ToHex;

uint8_t Sum(const TBytes& bytes, size_t from, size_t count) {
    uint8_t sum = 0;
    for (size_t i = from; i < from + count; ++i) {
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    return sum;
}

// The reply part of an ACK-then-reply answer.
TBytes ReplyOf(const TBytes& answer) {
    EXPECT_EQ(answer.size(), 1 + kFrameSize) << ToHex(answer);
    if (answer.size() != 1 + kFrameSize) {
        return TBytes(kFrameSize, 0);
    }
    EXPECT_EQ(answer[0], kACK);
    return TBytes(answer.begin() + 1, answer.end());
}

void ExpectWellFormedReply(const TBytes& reply, uint8_t group) {
    ASSERT_EQ(reply.size(), kFrameSize);
    EXPECT_EQ(reply[0], kSTX);
    EXPECT_EQ(reply[1], kDataReply);
    EXPECT_EQ(reply[2], group);
    EXPECT_EQ(reply[16], kETX);
    EXPECT_EQ(Sum(reply, 0, kFrameSize), 0) << ToHex(reply);
}

TEST(CameraEngine, Framing) {
    struct Case {
        const char* name;
        TBytes in;
        TBytes out;
    };
    TBytes badSum = Sealed({0x31, 0x1B});
    badSum[17] ^= 0x01;
    TBytes badEnd = Sealed({0x31, 0x1B});
    badEnd[16] = 0x04;
    const Case cases[] = {
        {"ENQ gets ACK", {kENQ}, {kACK}},
        {"lone ACK gets nothing", {kACK}, {}},
        {"NAK from the panel is ignored", {kNAK}, {}},
        {"stray byte is ignored", {0x41}, {}},
        {"bad checksum gets NAK", badSum, {kNAK}},
        {"bad end byte gets NAK", badEnd, {kNAK}},
        {"unknown group gets NAK", Sealed({0x31, 0x99}), {kNAK}},
        {"unknown request kind gets NAK", Sealed({0x41, 0x1B}), {kNAK}},
        {"title part 4 gets NAK", Sealed({0x31, 0x10, 0x01, 0x04}), {kNAK}},
        {"colour query gets ACK and the reply",
         Hex("02 31 1B 00 00 00 00 00 00 00 00 00 00 00 00 00 03 AF"),
         Hex("06 02 A0 1B 00 00 00 04 04 04 04 00 00 00 00 00 00 03 30")},
    };
    for (const auto& c : cases) {
        TVirtualCamera cam;
        EXPECT_EQ(ToHex(cam.Answer(c.in)), ToHex(c.out)) << c.name;
        EXPECT_TRUE(cam.BetweenFrames()) << c.name;
    }
}

TEST(CameraEngine, EveryQueryGetsItsGroupsReply) {
    const uint8_t groups[] = {0x10, 0x21, 0x1A, 0x48, 0x18, 0x1B, 0x47, 0x23, 0x52, 0x54};
    for (uint8_t g : groups) {
        TVirtualCamera cam;
        const uint8_t item = g == 0x10 ? 0x01 : 0x00;  // the title query asks for part 0
        const TBytes reply = ReplyOf(cam.Answer(Sealed({kQuery, g, item, 0x00})));
        SCOPED_TRACE(GroupName(g));
        ExpectWellFormedReply(reply, g);
        EXPECT_EQ(reply[3], item);
    }
}

// Every frame the pages spell out is a good frame to the camera: answered,
// never refused.
TEST(CameraEngine, SpelledOutFramesAreAccepted) {
    const char* frames[] = {
        "02 31 10 01 00 00 00 00 00 00 00 00 00 00 00 00 03 B9",
        "02 31 10 00 00 00 00 00 00 00 00 00 00 00 00 00 03 BA",
        "02 21 10 01 00 00 12 00 10 00 1C 00 01 01 FE 00 03 8B",
        "02 21 10 01 01 01 FE 01 FE 01 FE 01 FE 01 FE 00 03 CD",
        "02 21 10 00 01 00 00 00 00 00 00 00 00 00 00 00 03 C9",
        "02 21 10 03 01 00 00 00 00 00 00 00 00 00 00 00 03 C6",
        "02 21 21 01 00 00 00 00 00 00 00 00 00 00 00 00 03 B8",
        "02 21 21 02 00 00 00 00 00 00 00 00 00 00 00 00 03 B7",
        "02 21 21 0A FF FF 00 00 00 00 00 00 00 00 00 00 03 B1",
        "02 21 1A 04 01 00 00 00 00 00 00 00 00 00 00 00 03 BB",
        "02 21 48 05 07 00 00 00 00 00 00 00 00 00 00 00 03 86",
        "02 21 18 02 01 00 00 00 00 00 00 00 00 00 00 00 03 BF",
        "02 21 18 01 05 00 00 00 00 00 00 00 00 00 00 00 03 BC",
        "02 21 1B 00 01 00 00 00 00 00 00 00 00 00 00 00 03 BE",
        "02 21 1B 03 08 00 00 00 00 00 00 00 00 00 00 00 03 B4",
        "02 21 47 01 03 00 00 00 00 00 00 00 00 00 00 00 03 8F",
        "02 21 23 02 01 00 00 00 00 00 00 00 00 00 00 00 03 B4",
        "02 21 52 01 03 00 7B FF FF 2D 48 00 00 00 00 00 03 96",
        "02 21 54 06 08 00 00 00 00 00 00 00 00 00 00 00 03 78",
    };
    for (const char* f : frames) {
        TVirtualCamera cam;
        const TBytes in = Hex(f);
        const TBytes reply = ReplyOf(cam.Answer(in));
        ExpectWellFormedReply(reply, in[2]);
    }
}

// Every set item changes the state; where the page reads it back, both the
// answer to the set and a later query report it.
TEST(CameraEngine, EverySetItemChangesTheState) {
    using Get = std::function<int(const TCameraState&)>;
    struct Case {
        TBytes frame;
        Get get;
        int expected;
        int replyByte;  // -1: not in the group's reply
    };
    const Case cases[] = {
        {Sealed({0x21, 0x10, 0x00, 0x01}), [](auto& s) { return s.title.display; }, 1, 5},
        {Sealed({0x21, 0x10, 0x03, 0x01}), [](auto& s) { return s.title.position; }, 1, 6},
        {Sealed({0x21, 0x21, 0x00}), [](auto& s) { return int(s.lens.zoomMotion); },
         int(TMotion::Wide), -1},
        {Sealed({0x21, 0x21, 0x01}), [](auto& s) { return int(s.lens.zoomMotion); },
         int(TMotion::Tele), -1},
        {Sealed({0x21, 0x21, 0x03}), [](auto& s) { return int(s.lens.focusMotion); },
         int(TMotion::Near), -1},
        {Sealed({0x21, 0x21, 0x04}), [](auto& s) { return int(s.lens.focusMotion); },
         int(TMotion::Far), -1},
        {Sealed({0x21, 0x21, 0x06, 0xC8}), [](auto& s) { return s.lens.zoomPosition; }, 0xC8, 11},
        {Sealed({0x21, 0x21, 0x07, 0x07}), [](auto& s) { return s.lens.focusPosition; }, 7, 12},
        {Sealed({0x21, 0x21, 0x08, 0x01}), [](auto& s) { return s.lens.digitalZoom; }, 1, 9},
        {Sealed({0x21, 0x21, 0x09, 0x00}), [](auto& s) { return s.lens.autoFocus; }, 0, 10},
        {Sealed({0x21, 0x21, 0x0A, 0xFF, 0xFB}), [](auto& s) { return s.lens.zoomStep; }, 0xFFFB,
         5},
        {Sealed({0x21, 0x21, 0x0B, 0x01, 0x23}), [](auto& s) { return s.lens.focusStep; }, 0x0123,
         7},
        {Sealed({0x21, 0x21, 0x0D, 0x01}), [](auto& s) { return s.lens.afAfterTracking; }, 1, -1},
        {Sealed({0x21, 0x21, 0x0E}), [](auto& s) { return s.lens.onePushCount; }, 1, -1},
        {Sealed({0x21, 0x1A, 0x04, 0x01}), [](auto& s) { return s.gain.priority; }, 1, 5},
        {Sealed({0x21, 0x1A, 0x01, 0x05}), [](auto& s) { return s.gain.agcLevel; }, 5, 6},
        {Sealed({0x21, 0x1A, 0x02, 0x08}), [](auto& s) { return s.gain.sensLevel; }, 8, 7},
        {Sealed({0x21, 0x48, 0x00, 0x01}), [](auto& s) { return s.exposure.alc; }, 1, 5},
        {Sealed({0x21, 0x48, 0x01, 0x07}), [](auto& s) { return s.exposure.alcAutoLevel; }, 7, 6},
        {Sealed({0x21, 0x48, 0x02, 0x08}), [](auto& s) { return s.exposure.alcFixLevel; }, 8, 7},
        {Sealed({0x21, 0x48, 0x03, 0x00}), [](auto& s) { return s.exposure.aes; }, 0, 8},
        {Sealed({0x21, 0x48, 0x04, 0x02}), [](auto& s) { return s.exposure.aesAutoLevel; }, 2, 9},
        {Sealed({0x21, 0x48, 0x05, 0x07}), [](auto& s) { return s.exposure.aesFixLevel; }, 7, 10},
        {Sealed({0x21, 0x18, 0x00, 0x01}), [](auto& s) { return s.backLight.on; }, 1, 5},
        {Sealed({0x21, 0x18, 0x01, 0x05}), [](auto& s) { return s.backLight.level; }, 5, 6},
        {Sealed({0x21, 0x18, 0x02, 0x01, 0, 0, 0, 0, 0x80}),
         [](auto& s) { return s.backLight.mask[5]; }, 0x80, 12},
        {Sealed({0x21, 0x1B, 0x00, 0x01}), [](auto& s) { return s.colour.mode; }, 1, 5},
        {Sealed({0x21, 0x1B, 0x01, 0x00}), [](auto& s) { return s.colour.autoLevel; }, 0, 6},
        {Sealed({0x21, 0x1B, 0x02, 0x08}), [](auto& s) { return s.colour.onePushLevel; }, 8, 7},
        {Sealed({0x21, 0x1B, 0x03, 0x08}), [](auto& s) { return s.colour.ryGain; }, 8, 8},
        {Sealed({0x21, 0x1B, 0x04, 0x02}), [](auto& s) { return s.colour.byGain; }, 2, 9},
        {Sealed({0x21, 0x47, 0x00, 0x0C}), [](auto& s) { return s.aperture.hGain; }, 12, 5},
        {Sealed({0x21, 0x47, 0x01, 0x03}), [](auto& s) { return s.aperture.vGain; }, 3, 6},
        {Sealed({0x21, 0x23, 0x00, 0x01}), [](auto& s) { return s.motion.detect; }, 1, 5},
        {Sealed({0x21, 0x23, 0x01, 0x09}), [](auto& s) { return s.motion.level; }, 9, 6},
        {Sealed({0x21, 0x23, 0x02, 0x01, 0, 0, 0, 0, 0}), [](auto& s) { return s.motion.mask[0]; },
         0x01, 7},
        {Sealed({0x21, 0x23, 0x03, 0x02}), [](auto& s) { return s.motion.time; }, 2, 13},
        {Sealed({0x21, 0x23, 0x04, 0x01}), [](auto& s) { return s.motion.osd; }, 1, 14},
        {Sealed({0x21, 0x52, 0x02, 0x07}), [](auto& s) { return s.position.load; }, 7, 5},
        {Sealed({0x21, 0x52, 0x03, 0x09}), [](auto& s) { return s.position.alarmNumber; }, 9, 7},
        {Sealed({0x21, 0x52, 0x09, 0x01}), [](auto& s) { return s.position.osd; }, 1, -1},
        {Sealed({0x21, 0x54, 0x00, 0x01}), [](auto& s) { return s.other.preset; }, 1, 5},
        {Sealed({0x21, 0x54, 0x01, 0x01}), [](auto& s) { return s.other.initial; }, 1, 6},
        {Sealed({0x21, 0x54, 0x02, 0x01}), [](auto& s) { return s.other.hReverse; }, 1, 7},
        {Sealed({0x21, 0x54, 0x03, 0x01}), [](auto& s) { return s.other.vReverse; }, 1, 8},
        {Sealed({0x21, 0x54, 0x04, 0x01}), [](auto& s) { return s.other.negative; }, 1, 9},
        {Sealed({0x21, 0x54, 0x05, 0x01}), [](auto& s) { return s.other.phase; }, 1, 10},
        {Sealed({0x21, 0x54, 0x06, 0x73}), [](auto& s) { return s.other.phaseLevel; }, 0x73, 11},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToHex(c.frame));
        TVirtualCamera cam;
        ASSERT_NE(c.get(cam.State()), c.expected) << "the start value must differ";
        const TBytes reply = ReplyOf(cam.Answer(c.frame));
        ExpectWellFormedReply(reply, c.frame[2]);
        EXPECT_EQ(c.get(cam.State()), c.expected);
        if (c.replyByte >= 0) {
            const TBytes query = ReplyOf(cam.Answer(Sealed({kQuery, c.frame[2]})));
            // Values above a byte are 16-bit, high byte first.
            auto at = [&](const TBytes& r) {
                const size_t b = size_t(c.replyByte);
                return c.expected > 0xFF ? r[b] << 8 | r[b + 1] : int(r[b]);
            };
            EXPECT_EQ(at(reply), c.expected);
            EXPECT_EQ(at(query), c.expected);
        }
    }
}

TEST(CameraEngine, StopsEndMotion) {
    TVirtualCamera cam;
    cam.Answer(Sealed({0x21, 0x21, 0x01}));
    cam.Answer(Sealed({0x21, 0x21, 0x04}));
    cam.Answer(Sealed({0x21, 0x21, 0x02}));
    EXPECT_EQ(cam.State().lens.zoomMotion, TMotion::Stopped);
    EXPECT_EQ(cam.State().lens.focusMotion, TMotion::Far);
    cam.Answer(Sealed({0x21, 0x21, 0x05}));
    EXPECT_EQ(cam.State().lens.focusMotion, TMotion::Stopped);
}

TEST(CameraEngine, TitleWrittenInFourPartsReadsBack) {
    TVirtualCamera cam;
    // "CAM1" and sixteen spaces, as the title page writes it.
    const TBytes part0 = Hex("02 21 10 01 00 00 12 00 10 00 1C 00 01 01 FE 00 03 8B");
    TBytes answer = ReplyOf(cam.Answer(part0));
    EXPECT_EQ(answer[3], 0x01);
    EXPECT_EQ(answer[4], 0x00);  // the page writes part 1 next
    for (uint8_t p = 1; p <= 3; ++p) {
        answer = ReplyOf(cam.Answer(Sealed(
            {0x21, 0x10, 0x01, p, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE})));
        EXPECT_EQ(answer[3], 0x01);
        EXPECT_EQ(answer[4], p);
    }
    EXPECT_EQ(cam.State().title.codes, TitleCodes("CAM1"));

    const TBytes read0 =
        ReplyOf(cam.Answer(Hex("02 31 10 01 00 00 00 00 00 00 00 00 00 00 00 00 03 B9")));
    EXPECT_EQ(ToHex(TBytes(read0.begin() + 3, read0.begin() + 15)),
              "01 00 00 12 00 10 00 1C 00 01 01 FE");
    for (uint8_t p = 1; p <= 3; ++p) {
        const TBytes read = ReplyOf(cam.Answer(Sealed({0x31, 0x10, 0x01, p})));
        EXPECT_EQ(read[4], p);
        for (size_t i = 0; i < 5; ++i) {
            EXPECT_EQ((read[5 + 2 * i] << 8) | read[6 + 2 * i], TTitleState::kSpace);
        }
    }
    // Display and position: byte 3 = 0 tells the page which reply it is.
    cam.Answer(Sealed({0x21, 0x10, 0x00, 0x01}));
    const TBytes dp =
        ReplyOf(cam.Answer(Hex("02 31 10 00 00 00 00 00 00 00 00 00 00 00 00 00 03 BA")));
    EXPECT_EQ(dp[3], 0x00);
    EXPECT_EQ(dp[5], 0x01);
    EXPECT_EQ(dp[6], 0x00);
    // The position command's answer has the display-and-position layout too.
    EXPECT_EQ(ReplyOf(cam.Answer(Sealed({0x21, 0x10, 0x03, 0x01})))[3], 0x00);
}

TEST(CameraEngine, PositionRecordSavedReadsBack) {
    TVirtualCamera cam;
    const TBytes save = Hex("02 21 52 01 03 00 7B FF FF 2D 48 00 00 00 00 00 03 96");
    const TBytes general = ReplyOf(cam.Answer(save));
    EXPECT_EQ(general[3], 0x00);  // a command's answer is the general state
    EXPECT_EQ(general[6], 0x03);  // the number saved to

    const TPositionRecord& r = cam.State().position.records[3];
    EXPECT_EQ(r.zoom, 0x007B);
    EXPECT_EQ(r.focus, 0xFFFF);
    EXPECT_EQ(r.alc, 1);
    EXPECT_EQ(r.aes, 0);
    EXPECT_EQ(r.blc, 1);
    EXPECT_EQ(r.wb, 1);
    EXPECT_EQ(r.agcLevel, 2);
    EXPECT_EQ(r.alcLevel, 8);
    EXPECT_EQ(r.wbLevel, 4);

    const TBytes read = ReplyOf(cam.Answer(Sealed({0x31, 0x52, 0x01, 0x03})));
    EXPECT_EQ(ToHex(TBytes(read.begin() + 3, read.begin() + 11)), "01 03 00 7B FF FF 2D 48");
    // Another number still holds the factory record.
    EXPECT_NE(ReplyOf(cam.Answer(Sealed({0x31, 0x52, 0x01, 0x04})))[6], 0x7B);

    // Loading it makes it the current settings.
    EXPECT_EQ(ReplyOf(cam.Answer(Sealed({0x21, 0x52, 0x02, 0x03})))[5], 0x03);
    const TBytes now = ReplyOf(cam.Answer(Sealed({0x31, 0x52, 0x02, 0x01})));
    EXPECT_EQ(ToHex(TBytes(now.begin() + 3, now.begin() + 11)), "02 01 00 7B FF FF 2D 48");
}

TEST(CameraEngine, PositionNumbersWithoutMemory) {
    TVirtualCamera cam;
    const TCameraState before = cam.State();
    // Saving to 101 stores nothing; reading it gets the general state.
    ReplyOf(cam.Answer(Sealed({0x21, 0x52, 0x01, 101, 0x12, 0x34, 0, 0, 0, 0})));
    EXPECT_EQ(cam.State().position.saveNumber, before.position.saveNumber);
    EXPECT_EQ(ReplyOf(cam.Answer(Sealed({0x31, 0x52, 0x01, 101})))[3], 0x00);
    EXPECT_EQ(ReplyOf(cam.Answer(Sealed({0x31, 0x52, 0x01, 100})))[3], 0x01);
}

TEST(CameraEngine, RecordBitFieldsRoundTrip) {
    for (int b9 = 0; b9 < 256; b9 += 17) {
        for (int b10 = 0; b10 < 256; b10 += 51) {
            TPositionRecord r;
            r.SetBytes9And10(uint8_t(b9), uint8_t(b10));
            EXPECT_EQ(r.Byte9(), b9);
            EXPECT_EQ(r.Byte10(), b10);
        }
    }
}

TEST(CameraEngine, FaultModes) {
    const TBytes query = Sealed({kQuery, 0x1B});
    TVirtualCamera plain;
    const TBytes normal = plain.Answer(query);
    const TBytes reply(normal.begin() + 1, normal.end());

    struct Case {
        TFault fault;
        std::function<void(const TBytes& frameAnswer, const TBytes& enqAnswer)> check;
    };
    const Case cases[] = {
        {TFault::Silent,
         [](auto& f, auto& e) {
             EXPECT_TRUE(f.empty());
             EXPECT_TRUE(e.empty());
         }},
        {TFault::Nak,
         [](auto& f, auto& e) {
             EXPECT_EQ(f, TBytes{kNAK});
             EXPECT_EQ(e, TBytes{kNAK});
         }},
        {TFault::MalformedStart,
         [&](auto& f, auto& e) {
             TBytes bad = reply;
             bad[0] = 0x7E;
             EXPECT_EQ(ToHex(ReplyOf(f)), ToHex(bad));
             ASSERT_EQ(e.size(), kFrameSize);  // a frame instead of the ACK
             EXPECT_NE(e[0], kSTX);
         }},
        {TFault::MalformedEnd,
         [&](auto& f, auto& e) {
             const TBytes bad = ReplyOf(f);
             EXPECT_EQ(bad[0], kSTX);
             EXPECT_NE(bad[16], kETX);
             ASSERT_EQ(e.size(), kFrameSize);
             EXPECT_NE(e[16], kETX);
         }},
        {TFault::WrongGroup,
         [&](auto& f, auto& e) {
             const TBytes r = ReplyOf(f);
             EXPECT_EQ(r[1], kDataReply);
             EXPECT_NE(r[2], 0x1B);
             EXPECT_EQ(Sum(r, 0, kFrameSize), 0);
             EXPECT_EQ(e, TBytes{kACK});  // waits for a frame
         }},
        {TFault::WrongKind,
         [&](auto& f, auto& e) {
             const TBytes r = ReplyOf(f);
             EXPECT_NE(r[1], kDataReply);
             EXPECT_EQ(r[2], 0x1B);
             EXPECT_EQ(Sum(r, 0, kFrameSize), 0);
             EXPECT_EQ(e, TBytes{kACK});
         }},
        {TFault::AckInsteadOfReply,
         [](auto& f, auto& e) {
             EXPECT_EQ(f, (TBytes{kACK, kACK}));
             EXPECT_EQ(e, TBytes{kACK});
         }},
        {TFault::StrayBytes,
         [&](auto& f, auto& e) {
             TBytes expected{0x00, 0xFF, 0x55};
             expected.insert(expected.end(), normal.begin(), normal.end());
             EXPECT_EQ(ToHex(f), ToHex(expected));
             EXPECT_EQ(ToHex(e), "00 FF 55 06");
         }},
        {TFault::HangUp,
         [](auto& f, auto& e) {
             EXPECT_TRUE(f.empty());
             EXPECT_TRUE(e.empty());
         }},
        {TFault::MalformedShort,
         [&](auto& f, auto& e) {
             TBytes half{kACK};
             half.insert(half.end(), reply.begin(), reply.begin() + kFrameSize / 2);
             EXPECT_EQ(ToHex(f), ToHex(half));
             EXPECT_EQ(e.size(), kFrameSize / 2);  // half a frame instead of the ACK
         }},
        {TFault::Split,
         [&](auto& f, auto& e) {
             EXPECT_EQ(f, normal);  // the bytes are right; only their timing is not
             EXPECT_EQ(e, TBytes{kACK});
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(FaultName(c.fault));
        TVirtualCamera frameCam;
        frameCam.SetFault(c.fault);
        const auto frameEx = frameCam.Feed(query);
        ASSERT_EQ(frameEx.size(), 1u);
        EXPECT_EQ(frameEx[0].hangUp, c.fault == TFault::HangUp);
        // Split mid-reply: the ACK and part of the frame, then the rest.
        EXPECT_EQ(frameEx[0].splitAt, c.fault == TFault::Split ? 10u : 0u);

        TVirtualCamera enqCam;
        enqCam.SetFault(c.fault);
        const TBytes enqAnswer = enqCam.Answer({kENQ});
        c.check(frameEx[0].out, enqAnswer);

        // One exchange only, then back to normal.
        EXPECT_EQ(frameCam.Fault(), TFault::None);
        frameCam.Answer({kACK});  // whatever the panel answers first
        EXPECT_EQ(frameCam.Answer(query), normal);
    }
}

TEST(CameraEngine, FaultCountsAndWhatASetCommandDoes) {
    TVirtualCamera cam;
    const TBytes enq{kENQ};
    cam.SetFault(TFault::Nak, 2);
    EXPECT_EQ(cam.Answer(enq), TBytes{kNAK});
    EXPECT_EQ(cam.Answer(enq), TBytes{kNAK});
    EXPECT_EQ(cam.Answer(enq), TBytes{kACK});

    cam.SetFault(TFault::Silent, -1);  // until changed
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(cam.Answer(enq).empty());
    }
    cam.SetFault(TFault::None);
    EXPECT_EQ(cam.Answer(enq), TBytes{kACK});

    // A command the camera did not hear, or refused, changes nothing; one
    // whose answer got garbled on the way did change the state.
    struct Case {
        TFault fault;
        bool applied;
    };
    const Case cases[] = {
        {TFault::Silent, false},        {TFault::Nak, false},
        {TFault::HangUp, false},        {TFault::MalformedStart, true},
        {TFault::MalformedEnd, true},   {TFault::WrongGroup, true},
        {TFault::WrongKind, true},      {TFault::AckInsteadOfReply, true},
        {TFault::StrayBytes, true},     {TFault::Split, true},
        {TFault::MalformedShort, true},
    };
    for (const auto& c : cases) {
        TVirtualCamera set;
        set.SetFault(c.fault);
        set.Answer(Sealed({0x21, 0x47, 0x00, 0x0C}));
        EXPECT_EQ(set.State().aperture.hGain == 0x0C, c.applied) << FaultName(c.fault);
    }
}

TEST(CameraEngine, AfterAMalformedAnswerThePanelsAckGetsAck) {
    TVirtualCamera cam;
    cam.SetFault(TFault::MalformedEnd);
    cam.Answer(Sealed({kQuery, 0x1B}));
    EXPECT_EQ(cam.Answer({kACK}), TBytes{kACK});
    EXPECT_TRUE(cam.Answer({kACK}).empty());  // only the first
}

TEST(CameraEngine, ReplyFaultsWaitForAFrame) {
    TVirtualCamera cam;
    cam.SetFault(TFault::WrongKind);
    EXPECT_EQ(cam.Answer({kENQ}), TBytes{kACK});
    TBytes bad = Sealed({kQuery, 0x1B});
    bad[17] ^= 0xFF;
    EXPECT_EQ(cam.Answer(bad), TBytes{kNAK});
    EXPECT_EQ(cam.Fault(), TFault::WrongKind);
    EXPECT_EQ(ReplyOf(cam.Answer(Sealed({kQuery, 0x1B})))[1], kWrongReplyKind);
}

// A fault aimed at one command waits for it among the other traffic.
TEST(CameraEngine, FaultTriggerWaitsForItsFrame) {
    const TBytes start = Sealed({kSet, 0x21, 0x01});
    const TBytes stop = Sealed({kSet, 0x21, 0x02});
    TVirtualCamera cam;
    cam.SetFault(TFault::MalformedStart);
    cam.SetFaultTrigger({kSTX, kSet, 0x21, 0x01});
    EXPECT_EQ(cam.Answer({kENQ}), TBytes{kACK});
    TBytes bad = start;
    bad[17] ^= 0xFF;
    EXPECT_EQ(cam.Answer(bad), TBytes{kNAK});  // not well-formed: not the one
    ExpectWellFormedReply(ReplyOf(cam.Answer(stop)), 0x21);
    EXPECT_EQ(ReplyOf(cam.Answer(start))[0], 0x7E);
    cam.Answer({kACK});
    ExpectWellFormedReply(ReplyOf(cam.Answer(start)), 0x21);  // once only
}

TEST(CameraEngine, ChaosFaultsAboutOneExchangeInN) {
    const TBytes query = Sealed({kQuery, 0x1B});
    // Faults among `count` exchanges of one kind, and the modes seen.
    auto run = [&](int oneIn, uint32_t seed, const TBytes& in, int count) {
        TVirtualCamera cam;
        cam.SetChaos(oneIn, seed);
        std::vector<TFault> seen;
        for (int i = 0; i < count; ++i) {
            for (const auto& ex : cam.Feed(in)) {
                seen.push_back(ex.fault);
            }
            cam.Answer({kACK});  // settles a malformed answer
        }
        return seen;
    };
    struct Case {
        const char* name;
        int oneIn;
        TBytes in;
        int minFaults, maxFaults;  // of 800
    };
    const Case cases[] = {
        {"off", 0, query, 0, 0},
        {"every one", 1, query, 800, 800},
        {"one in eight", 8, query, 60, 140},
        {"one in eight, ENQ", 8, {kENQ}, 60, 140},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto seen = run(c.oneIn, 7, c.in, 800);
        ASSERT_EQ(seen.size(), 800u);
        std::set<TFault> modes;
        for (TFault f : seen) {
            if (f != TFault::None) {
                modes.insert(f);
            }
        }
        const auto faults =
            std::count_if(seen.begin(), seen.end(), [](TFault f) { return f != TFault::None; });
        EXPECT_GE(faults, c.minFaults);
        EXPECT_LE(faults, c.maxFaults);
        if (c.oneIn == 1) {
            // Every mode turns up; the reply-only ones only for a frame.
            EXPECT_EQ(modes.size(), 7u);
        }
        if (c.in.size() == 1) {
            EXPECT_EQ(modes.count(TFault::Split) + modes.count(TFault::WrongGroup), 0u);
        }
    }
    EXPECT_EQ(run(8, 3, query, 200), run(8, 3, query, 200));  // repeatable
    EXPECT_NE(run(8, 3, query, 200), run(8, 4, query, 200));
}

TEST(CameraEngine, InputSplitAnywhere) {
    TBytes stream{kENQ};
    for (const TBytes& part :
         {Sealed({kQuery, 0x1B}), TBytes{kACK}, Sealed({0x21, 0x1B, 0x03, 0x08}), TBytes{kACK},
          Sealed({kQuery, 0x10, 0x01, 0x02})}) {
        stream.insert(stream.end(), part.begin(), part.end());
    }
    TVirtualCamera whole;
    const TBytes expected = whole.Answer(stream);
    ASSERT_EQ(expected.size(), 1u + 3 * (1 + kFrameSize));

    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        TVirtualCamera cam;
        TBytes out = cam.Answer(TBytes(stream.begin(), stream.begin() + long(cut)));
        const TBytes rest = cam.Answer(TBytes(stream.begin() + long(cut), stream.end()));
        out.insert(out.end(), rest.begin(), rest.end());
        EXPECT_EQ(out, expected) << "cut at " << cut;
    }
    TVirtualCamera bytewise;
    TBytes out;
    for (uint8_t b : stream) {
        const TBytes o = bytewise.Answer({b});
        out.insert(out.end(), o.begin(), o.end());
    }
    EXPECT_EQ(out, expected);
}

TEST(CameraEngine, PartialFrameIsDroppedWhenTheLineGoesQuiet) {
    TVirtualCamera cam;
    EXPECT_FALSE(cam.LineIdle().has_value());
    const TBytes query = Sealed({kQuery, 0x1B});
    cam.Answer(TBytes(query.begin(), query.begin() + 7));
    EXPECT_FALSE(cam.BetweenFrames());
    const auto ex = cam.LineIdle();
    ASSERT_TRUE(ex.has_value());
    EXPECT_EQ(ex->in.size(), 7u);
    EXPECT_EQ(ex->out, TBytes{kNAK});
    EXPECT_TRUE(cam.BetweenFrames());
    EXPECT_EQ(cam.Answer(query).size(), 1 + kFrameSize);
}

TEST(CameraEngine, FaultNamesRoundTrip) {
    for (TFault f :
         {TFault::None, TFault::Silent, TFault::Nak, TFault::MalformedStart, TFault::MalformedEnd,
          TFault::WrongGroup, TFault::WrongKind, TFault::AckInsteadOfReply, TFault::StrayBytes,
          TFault::HangUp, TFault::Split, TFault::MalformedShort}) {
        EXPECT_EQ(ParseFault(FaultName(f)), f);
    }
    EXPECT_FALSE(ParseFault("loud").has_value());
}

}  // namespace
}  // namespace zp::camera
