// The reply parser: one received byte at a time, by the state it is in.
#include "link/reply_parser.h"

#include <cstddef>

namespace zp {

TReplyResult TReplyParser::FeedReplyByte(uint8_t b) {
    TReplyResult result = kReplyNothing;
    switch (ParserState) {
        case TParserState::Hunting:
            if (b == kSTX) {
                ReplyLength = 0;
                ReplyFrame[0] = b;
                ReplyLength = 1;
                ParserState = TParserState::Payload;
            } else if (b == kACK || b == kNAK) {
                result = HandedBack(b);
            } else {
                ReplyLength = 0;
                ParserState = TParserState::Skipping;
            }
            break;
        case TParserState::Payload:
            ReplyFrame[static_cast<std::size_t>(ReplyLength)] = b;
            ++ReplyLength;
            if (ReplyLength == 16) {
                ParserState = TParserState::EndExpected;
            }
            break;
        case TParserState::EndExpected:
            if (b == kETX) {
                ReplyFrame[16] = b;
                ReplyLength = 17;
                SavedEnd = b;
                ParserState = TParserState::ChecksumExpected;
            } else {
                ParserState = TParserState::ErrorPending;
            }
            break;
        case TParserState::ChecksumExpected:
            result = kReplyComplete;
            ParserState = TParserState::PassThrough;
            break;
        case TParserState::PassThrough:
            result = HandedBack(b);
            ParserState = TParserState::Hunting;
            break;
        case TParserState::Skipping:
            ++ReplyLength;
            if (ReplyLength == 16) {
                ParserState = TParserState::ErrorPending;
            }
            break;
        case TParserState::ErrorPending:
            result = kReplyMalformed;
            ParserState = TParserState::PassThrough;
            break;
    }
    return result;
}

}  // namespace zp
