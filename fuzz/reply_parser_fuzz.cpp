// Feeds any byte stream to the reply parser and checks it against a small
// model of the framing: outside a frame ACK and NAK stand alone, anything
// else starts an 18-byte block that ends complete (good) or malformed, and
// the byte after a block is handed back unless the caller resets at once.
// The first input byte chooses whether the caller resets after each block,
// as the receive dispatch does. The catalogue describes and decodes the whole
// input and every block: it must say something, never read past the bytes it
// is given, and a decoded value's text must read back as that value or fail.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <string>
#include <vector>

#include "link/catalogue.h"
#include "link/reply_parser.h"

namespace {

void Check(bool ok, const char* what, size_t at) {
    if (!ok) {
        std::fprintf(stderr, "reply parser invariant broken at byte %zu: %s\n", at, what);
        std::abort();
    }
}

bool StartsMalformed(const std::string& text) {
    return text.rfind("malformed:", 0) == 0;
}

// A value read back from its text is the value, or the text is refused; what
// reads back can be sent, and the frame it makes is described as a command.
void CheckValue(const zp::TDecoded& d, size_t at) {
    const zp::TSetting& s = *d.Setting;
    const std::string text = zp::ValueText(s, d.Value);
    zp::TValue back;
    std::string error;
    if (!zp::ParseValue(s, text, back, error)) {
        Check(!error.empty(), "a refused value text without an error", at);
        return;
    }
    if (s.Kind == zp::TSettingKind::Text) {
        Check(back.Text == d.Value.Text, "title text does not read back", at);
        return;
    }
    Check(back.Number == d.Value.Number && back.Area == d.Value.Area,
          "value text reads back as another value", at);
    if (s.Item < 0) {
        return;
    }
    const std::vector<uint8_t> payload = zp::EncodeSet(s, back);
    Check(payload.size() == static_cast<size_t>(s.PayloadLength), "readable value not sendable",
          at);
    std::vector<uint8_t> frame(zp::kFrameSize, 0);
    frame[0] = zp::kSTX;
    std::copy(payload.begin(), payload.end(), frame.begin() + 1);
    frame[16] = zp::kETX;
    uint8_t sum = 0;
    for (size_t i = 0; i < 17; ++i) {
        sum = static_cast<uint8_t>(sum + frame[i]);
    }
    frame[17] = static_cast<uint8_t>(0 - sum);
    Check(!StartsMalformed(zp::DescribeCommand(frame.data(), frame.size())),
          "an encoded set command described as malformed", at);
}

// Everything the catalogue says about bytes that may be anything.
void Describe(const uint8_t* bytes, size_t n, size_t at) {
    Check(!zp::DescribeCommand(bytes, n).empty(), "empty command description", at);
    Check(!zp::DescribeReply(bytes, n).empty(), "empty reply description", at);
    Check(StartsMalformed(zp::DescribeMalformed(bytes, n)), "malformed text", at);
    for (uint8_t kind : {zp::kQuery, zp::kSet}) {
        for (const zp::TDecoded& d : zp::DecodeReply(bytes, n, kind)) {
            Check(d.Setting != nullptr, "decoded without a setting", at);
            CheckValue(d, at);
        }
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
    Describe(data, size, 0);

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
                Describe(block, zp::kFrameSize, i);
                Check(StartsMalformed(zp::DescribeReply(block, zp::kFrameSize)) == !good,
                      "reply described against its framing", i);
                if (good) {
                    Check(std::memcmp(p.ReplyFrame.data(), block, zp::kReplyStored) == 0,
                          "reply buffer differs from the frame", i);
                    Describe(p.ReplyFrame.data(), zp::kReplyStored, i);
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
