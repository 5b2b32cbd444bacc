// Feeds any byte stream to the reply parser and checks it against a small
// model of the framing: outside a frame ACK and NAK stand alone, anything
// else starts an 18-byte block that ends complete (good) or malformed, and
// the byte after a block is handed back unless the caller resets at once.
// The first input byte chooses whether the caller resets after each block,
// as the receive dispatch does.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/reply_parser.h"

namespace {

void Check(bool ok, const char* what, size_t at) {
    if (!ok) {
        std::fprintf(stderr, "reply parser invariant broken at byte %zu: %s\n", at, what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool resetAfterBlock = (data[0] & 1) != 0;
    ++data;
    --size;

    zp::TReplyParser p;
    enum { Hunting, InBlock, PassThrough } model = Hunting;
    size_t blockStart = 0;

    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = data[i];
        const zp::TReplyResult r = p.FeedReplyByte(b);
        Check(p.ReplyLength >= 0 && p.ReplyLength <= zp::kReplyStored, "length out of range", i);

        switch (model) {
            case Hunting:
                if (b == zp::kACK || b == zp::kNAK) {
                    Check(r.kind == (b == zp::kACK ? zp::TReplyKind::Ack : zp::TReplyKind::Nak) &&
                              r.byte == b,
                          "control byte not reported", i);
                } else {
                    Check(r == zp::kReplyNothing, "block start reported", i);
                    model = InBlock;
                    blockStart = i;
                }
                break;
            case InBlock: {
                const size_t pos = i - blockStart;
                if (pos < 17) {
                    Check(r == zp::kReplyNothing, "result inside a block", i);
                    break;
                }
                const uint8_t* block = data + blockStart;
                const bool good = block[0] == zp::kSTX && block[16] == zp::kETX;
                Check(r == (good ? zp::kReplyComplete : zp::kReplyMalformed),
                      "block did not end after exactly 18 bytes", i);
                if (good) {
                    Check(std::memcmp(p.ReplyFrame.data(), block, zp::kReplyStored) == 0,
                          "reply buffer differs from the frame", i);
                }
                if (resetAfterBlock) {
                    p.Reset();
                    model = Hunting;
                } else {
                    model = PassThrough;
                }
                break;
            }
            case PassThrough:
                Check(r.byte == b, "pass-through byte not handed back", i);
                Check((r.kind == zp::TReplyKind::Ack) == (b == zp::kACK) &&
                          (r.kind == zp::TReplyKind::Nak) == (b == zp::kNAK) &&
                          (r.kind == zp::TReplyKind::Byte) == (b != zp::kACK && b != zp::kNAK),
                      "pass-through byte of the wrong kind", i);
                Check(p.ParserState == zp::TParserState::Hunting, "not hunting after pass-through",
                      i);
                model = Hunting;
                break;
        }
    }
    return 0;
}
