#include "camera/virtual_camera.h"

#include <algorithm>
#include <cstdio>

namespace zp::camera {

namespace {

// Stands in for STX in a frame with a stray first byte: not a control byte,
// so the panel skips the whole frame.
constexpr uint8_t kStrayStart = 0x7E;
constexpr uint8_t kBadEnd = 0x04;

bool KnownGroup(uint8_t g) {
    return GroupName(g)[0] != '\0';
}

std::string Hex(uint8_t b) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

void Put16(std::array<uint8_t, kFrameSize>& f, size_t at, uint16_t v) {
    f[at] = static_cast<uint8_t>(v >> 8);
    f[at + 1] = static_cast<uint8_t>(v & 0xFF);
}

uint16_t Get16(const std::array<uint8_t, kFrameSize>& f, size_t at) {
    return static_cast<uint16_t>((f[at] << 8) | f[at + 1]);
}

uint16_t TitleCode(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<uint16_t>(c - '0');
    }
    if (c >= 'A' && c <= 'Z') {
        return static_cast<uint16_t>(0x10 + (c - 'A'));
    }
    if (c >= 'a' && c <= 'z') {
        return static_cast<uint16_t>(0x30 + (c - 'a'));
    }
    return TTitleState::kSpace;
}

}  // namespace

const char* GroupName(uint8_t group) {
    switch (static_cast<TGroup>(group)) {
        case TGroup::Title:
            return "C.ID";
        case TGroup::Lens:
            return "Len";
        case TGroup::Gain:
            return "AGC";
        case TGroup::Exposure:
            return "ALC";
        case TGroup::BackLight:
            return "BLC";
        case TGroup::Colour:
            return "Col";
        case TGroup::Aperture:
            return "Ape";
        case TGroup::Motion:
            return "Mot";
        case TGroup::Position:
            return "Pos";
        case TGroup::Other:
            return "Oth";
    }
    return "";
}

void SealFrame(std::array<uint8_t, kFrameSize>& frame) {
    frame[16] = kETX;
    uint8_t sum = 0;
    for (size_t i = 0; i <= 16; ++i) {
        sum = static_cast<uint8_t>(sum + frame[i]);
    }
    frame[17] = static_cast<uint8_t>(0 - sum);
}

bool ChecksumOk(const std::array<uint8_t, kFrameSize>& frame) {
    uint8_t sum = 0;
    for (uint8_t b : frame) {
        sum = static_cast<uint8_t>(sum + b);
    }
    return sum == 0;
}

uint8_t TPositionRecord::Byte9() const {
    return static_cast<uint8_t>((alc & 1) | (aes & 1) << 1 | (blc & 1) << 2 | (wb & 1) << 3 |
                                (agcLevel & 0x0F) << 4);
}

uint8_t TPositionRecord::Byte10() const {
    return static_cast<uint8_t>((alcLevel & 0x0F) | (wbLevel & 0x0F) << 4);
}

void TPositionRecord::SetBytes9And10(uint8_t b9, uint8_t b10) {
    alc = b9 & 1;
    aes = (b9 >> 1) & 1;
    blc = (b9 >> 2) & 1;
    wb = (b9 >> 3) & 1;
    agcLevel = static_cast<uint8_t>(b9 >> 4);
    alcLevel = b10 & 0x0F;
    wbLevel = static_cast<uint8_t>(b10 >> 4);
}

bool TPositionRecord::operator==(const TPositionRecord& o) const {
    return zoom == o.zoom && focus == o.focus && Byte9() == o.Byte9() && Byte10() == o.Byte10();
}

std::array<uint16_t, 20> TitleCodes(const std::string& text) {
    std::array<uint16_t, 20> codes{};
    for (size_t i = 0; i < codes.size(); ++i) {
        codes[i] = i < text.size() ? TitleCode(text[i]) : TTitleState::kSpace;
    }
    return codes;
}

TCameraState::TCameraState() {
    title.codes = TitleCodes("CAMERA 1");
    // Every memory holds a usable position from the start, as a camera would.
    for (auto& r : position.records) {
        r = position.current;
    }
}

const char* FaultName(TFault fault) {
    switch (fault) {
        case TFault::None:
            return "none";
        case TFault::Silent:
            return "silent";
        case TFault::Nak:
            return "nak";
        case TFault::MalformedStart:
            return "malformed-start";
        case TFault::MalformedEnd:
            return "malformed-end";
        case TFault::WrongGroup:
            return "wrong-group";
        case TFault::WrongKind:
            return "wrong-kind";
        case TFault::AckInsteadOfReply:
            return "ack-instead";
        case TFault::StrayBytes:
            return "stray-bytes";
        case TFault::HangUp:
            return "hang-up";
        case TFault::Split:
            return "split";
        case TFault::MalformedShort:
            return "malformed-short";
    }
    return "?";
}

std::optional<TFault> ParseFault(const std::string& name) {
    for (TFault f :
         {TFault::None, TFault::Silent, TFault::Nak, TFault::MalformedStart, TFault::MalformedEnd,
          TFault::WrongGroup, TFault::WrongKind, TFault::AckInsteadOfReply, TFault::StrayBytes,
          TFault::HangUp, TFault::Split, TFault::MalformedShort}) {
        if (name == FaultName(f)) {
            return f;
        }
    }
    return std::nullopt;
}

// ---- Engine --------------------------------------------------------------

TVirtualCamera::TVirtualCamera() : stray_{0x00, 0xFF, 0x55} {}

void TVirtualCamera::SetFault(TFault mode, int count) {
    fault_ = count == 0 ? TFault::None : mode;
    faultCount_ = fault_ == TFault::None ? 0 : count;
}

namespace {

// Faults that distort a reply, so they need a frame to answer.
bool ReplyOnly(TFault f) {
    return f == TFault::WrongGroup || f == TFault::WrongKind || f == TFault::AckInsteadOfReply ||
           f == TFault::Split;
}

}  // namespace

void TVirtualCamera::SetChaos(int oneIn, uint32_t seed) {
    chaos_ = oneIn < 0 ? 0 : oneIn;
    random_.seed(seed);
}

TFault TVirtualCamera::DrawChaos(bool wellFormedFrame) {
    static constexpr TFault kModes[] = {
        TFault::Silent,     TFault::Nak,        TFault::MalformedStart, TFault::MalformedEnd,
        TFault::StrayBytes, TFault::WrongGroup, TFault::Split};
    // The last two need a frame; without one the draw is among the others.
    constexpr uint32_t kAll = sizeof kModes / sizeof kModes[0];
    const uint32_t choices = wellFormedFrame ? kAll : kAll - 2;
    if (chaos_ <= 0 || random_() % static_cast<uint32_t>(chaos_) != 0) {
        return TFault::None;
    }
    return kModes[random_() % choices];
}

TFault TVirtualCamera::TakeFault(const TFrame* frame) {
    if (fault_ == TFault::None) {
        return DrawChaos(frame != nullptr);
    }
    if (ReplyOnly(fault_) && frame == nullptr) {
        return TFault::None;
    }
    if (!trigger_.empty() && (frame == nullptr || trigger_.size() > frame->size() ||
                              !std::equal(trigger_.begin(), trigger_.end(), frame->begin()))) {
        return TFault::None;
    }
    const TFault taken = fault_;
    if (faultCount_ > 0 && --faultCount_ == 0) {
        fault_ = TFault::None;
    }
    return taken;
}

std::vector<TExchange> TVirtualCamera::Feed(const uint8_t* data, size_t count) {
    std::vector<TExchange> done;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = data[i];
        if (!pending_.empty()) {
            pending_.push_back(b);
            if (pending_.size() < kFrameSize) {
                continue;
            }
            TFrame frame;
            std::copy(pending_.begin(), pending_.end(), frame.begin());
            pending_.clear();
            if (frame[16] != kETX) {
                done.push_back(OnBadFrame(TBytes(frame.begin(), frame.end()), "bad end byte"));
            } else if (!ChecksumOk(frame)) {
                done.push_back(OnBadFrame(TBytes(frame.begin(), frame.end()), "bad checksum"));
            } else {
                done.push_back(OnFrame(frame));
            }
            continue;
        }
        switch (b) {
            case kSTX:
                pending_.push_back(b);
                break;
            case kENQ:
                done.push_back(OnEnq());
                break;
            case kACK:
                done.push_back(OnLoneAck());
                break;
            default: {
                TExchange ex;
                ex.kind = TExchange::TKind::Noise;
                ex.in = {b};
                ex.note = b == kNAK ? "NAK from panel, ignored" : "stray byte, ignored";
                done.push_back(std::move(ex));
                break;
            }
        }
    }
    return done;
}

TBytes TVirtualCamera::Answer(const TBytes& data) {
    TBytes out;
    for (const auto& ex : Feed(data)) {
        out.insert(out.end(), ex.out.begin(), ex.out.end());
    }
    return out;
}

std::optional<TExchange> TVirtualCamera::LineIdle() {
    if (pending_.empty()) {
        return std::nullopt;
    }
    TBytes in;
    in.swap(pending_);
    return OnBadFrame(std::move(in), "partial frame");
}

void TVirtualCamera::ApplyAnswerFault(TExchange& ex, TFault fault, const TBytes& normal,
                                      bool isReply) {
    ex.fault = fault;
    resyncPending_ = false;
    // The frame that a malformed answer distorts: the reply, or else a reply
    // of no group.
    TFrame base{};
    if (isReply) {
        std::copy(normal.begin() + 1, normal.end(), base.begin());
    } else {
        base[0] = kSTX;
        base[1] = kDataReply;
        SealFrame(base);
    }
    const TBytes lead = isReply ? TBytes{kACK} : TBytes{};
    switch (fault) {
        case TFault::None:
            ex.out = normal;
            return;
        case TFault::Silent:
            ex.out.clear();
            return;
        case TFault::Nak:
            ex.out = {kNAK};
            return;
        case TFault::MalformedStart:
        case TFault::MalformedEnd:
            if (fault == TFault::MalformedStart) {
                base[0] = kStrayStart;
            } else {
                base[16] = kBadEnd;
            }
            ex.out = lead;
            ex.out.insert(ex.out.end(), base.begin(), base.end());
            resyncPending_ = true;
            return;
        case TFault::WrongGroup:
            base[2] = base[2] == static_cast<uint8_t>(TGroup::Title)
                          ? static_cast<uint8_t>(TGroup::Lens)
                          : static_cast<uint8_t>(TGroup::Title);
            SealFrame(base);
            ex.out = lead;
            ex.out.insert(ex.out.end(), base.begin(), base.end());
            return;
        case TFault::WrongKind:
            base[1] = kWrongReplyKind;
            SealFrame(base);
            ex.out = lead;
            ex.out.insert(ex.out.end(), base.begin(), base.end());
            return;
        case TFault::AckInsteadOfReply:
            ex.out = {kACK, kACK};
            return;
        case TFault::StrayBytes:
            ex.out = stray_;
            ex.out.insert(ex.out.end(), normal.begin(), normal.end());
            return;
        case TFault::HangUp:
            ex.out.clear();
            ex.hangUp = true;
            return;
        case TFault::MalformedShort:
            ex.out = lead;
            ex.out.insert(ex.out.end(), base.begin(), base.begin() + kFrameSize / 2);
            return;
        case TFault::Split:
            // Mid-reply, after the ACK and half the frame.
            ex.out = normal;
            ex.splitAt = normal.size() > 1 ? 1 + normal.size() / 2 : 0;
            return;
    }
}

TExchange TVirtualCamera::OnEnq() {
    TExchange ex;
    ex.kind = TExchange::TKind::Enq;
    ex.in = {kENQ};
    ex.note = "ENQ";
    ApplyAnswerFault(ex, TakeFault(nullptr), {kACK}, false);
    return ex;
}

TExchange TVirtualCamera::OnLoneAck() {
    TExchange ex;
    ex.kind = TExchange::TKind::Ack;
    ex.in = {kACK};
    if (resyncPending_) {
        // The panel answers a garbled frame with ACK and waits for ours.
        resyncPending_ = false;
        ex.out = {kACK};
        ex.note = "ACK after a malformed answer";
    } else {
        ex.note = "ACK";
    }
    return ex;
}

TExchange TVirtualCamera::OnBadFrame(TBytes in, const char* why) {
    TExchange ex;
    ex.kind = TExchange::TKind::BadFrame;
    ex.in = std::move(in);
    ex.note = why;
    ApplyAnswerFault(ex, TakeFault(nullptr), {kNAK}, false);
    return ex;
}

TExchange TVirtualCamera::OnFrame(const TFrame& frame) {
    TExchange ex;
    ex.kind = TExchange::TKind::Frame;
    ex.in.assign(frame.begin(), frame.end());
    const uint8_t kind = frame[1];
    const uint8_t group = frame[2];
    const uint8_t item = frame[3];

    const bool known = KnownGroup(group) && (kind == kQuery || kind == kSet);
    std::optional<TFrame> reply;
    if (known) {
        reply = BuildReply(frame);  // refusals do not depend on the state
    }
    if (!reply) {
        ex.kind = TExchange::TKind::BadFrame;
        ex.note = !KnownGroup(group) ? "unknown group " + Hex(group)
                  : known            ? std::string("argument out of range")
                                     : "unknown request kind " + Hex(kind);
        ApplyAnswerFault(ex, TakeFault(nullptr), {kNAK}, false);
        return ex;
    }

    const TFault fault = TakeFault(&frame);
    ex.note = std::string(kind == kQuery ? "query " : "set ") + GroupName(group) + " item " +
              Hex(item) + (kind == kSet ? " = " + Hex(frame[4]) : "");
    const bool heard = fault != TFault::Silent && fault != TFault::Nak && fault != TFault::HangUp;
    if (heard && kind == kSet) {
        if (!ApplySet(frame)) {
            ex.note += " (nothing to change)";
        }
        reply = BuildReply(frame);  // it reports the new state
    }
    TBytes normal{kACK};
    normal.insert(normal.end(), reply->begin(), reply->end());
    ApplyAnswerFault(ex, fault, normal, true);
    return ex;
}

bool TVirtualCamera::Locked(uint8_t group, uint8_t item) const {
    if (!interlocks_) {
        return false;
    }
    const TCameraState& s = state_;
    switch (static_cast<TGroup>(group)) {
        case TGroup::Exposure:
            return (item == 0x01 && s.exposure.alc != 0) || (item == 0x02 && s.exposure.alc == 0) ||
                   (item == 0x04 && s.exposure.aes != 0) || (item == 0x05 && s.exposure.aes == 0);
        case TGroup::Colour:
            return (item == 0x01 && s.colour.mode != 0) || (item == 0x02 && s.colour.mode == 0);
        case TGroup::BackLight:
            return (item == 0x01 || item == 0x02) && s.backLight.on == 0;
        case TGroup::Motion:
            return item >= 0x01 && item <= 0x03 && s.motion.detect == 0;
        case TGroup::Other:
            return item == 0x06 && s.other.phase == 0;
        default:
            return false;
    }
}

bool TVirtualCamera::ApplySet(const TFrame& f) {
    const uint8_t item = f[3];
    const uint8_t v = f[4];
    TCameraState& s = state_;
    if (Locked(f[2], item)) {
        return false;
    }
    switch (static_cast<TGroup>(f[2])) {
        case TGroup::Title:
            switch (item) {
                case 0x00:
                    s.title.display = v;
                    return true;
                case 0x01:
                    if (v > 3) {
                        return false;
                    }
                    for (size_t i = 0; i < 5; ++i) {
                        s.title.codes[5 * v + i] = Get16(f, 5 + 2 * i);
                    }
                    return true;
                case 0x03:
                    s.title.position = v;
                    return true;
            }
            return false;
        case TGroup::Lens:
            switch (item) {
                case 0x00:
                    s.lens.zoomMotion = TMotion::Wide;
                    return true;
                case 0x01:
                    s.lens.zoomMotion = TMotion::Tele;
                    return true;
                case 0x02:
                    s.lens.zoomMotion = TMotion::Stopped;
                    return true;
                case 0x03:
                    s.lens.focusMotion = TMotion::Near;
                    return true;
                case 0x04:
                    s.lens.focusMotion = TMotion::Far;
                    return true;
                case 0x05:
                    s.lens.focusMotion = TMotion::Stopped;
                    return true;
                case 0x06:
                    s.lens.zoomPosition = v;
                    return true;
                case 0x07:
                    s.lens.focusPosition = v;
                    return true;
                case 0x08:
                    s.lens.digitalZoom = v;
                    return true;
                case 0x09:
                    s.lens.autoFocus = v;
                    return true;
                case 0x0A:
                    s.lens.zoomStep = Get16(f, 4);
                    return true;
                case 0x0B:
                    s.lens.focusStep = Get16(f, 4);
                    return true;
                case 0x0D:
                    s.lens.afAfterTracking = v;
                    return true;
                case 0x0E:
                    ++s.lens.onePushCount;
                    return true;
            }
            return false;
        case TGroup::Gain:
            switch (item) {
                case 0x04:
                    s.gain.priority = v;
                    return true;
                case 0x01:
                    s.gain.agcLevel = v;
                    return true;
                case 0x02:
                    s.gain.sensLevel = v;
                    return true;
            }
            return false;
        case TGroup::Exposure: {
            uint8_t* fields[] = {&s.exposure.alc,          &s.exposure.alcAutoLevel,
                                 &s.exposure.alcFixLevel,  &s.exposure.aes,
                                 &s.exposure.aesAutoLevel, &s.exposure.aesFixLevel};
            if (item < 6) {
                *fields[item] = v;
                return true;
            }
            return false;
        }
        case TGroup::BackLight:
            switch (item) {
                case 0x00:
                    s.backLight.on = v;
                    return true;
                case 0x01:
                    s.backLight.level = v;
                    return true;
                case 0x02:
                    std::copy(f.begin() + 4, f.begin() + 10, s.backLight.mask.begin());
                    return true;
            }
            return false;
        case TGroup::Colour: {
            uint8_t* fields[] = {&s.colour.mode, &s.colour.autoLevel, &s.colour.onePushLevel,
                                 &s.colour.ryGain, &s.colour.byGain};
            if (item < 5) {
                *fields[item] = v;
                return true;
            }
            return false;
        }
        case TGroup::Aperture:
            if (item == 0x00) {
                s.aperture.hGain = v;
                return true;
            }
            if (item == 0x01) {
                s.aperture.vGain = v;
                return true;
            }
            return false;
        case TGroup::Motion:
            switch (item) {
                case 0x00:
                    s.motion.detect = v;
                    return true;
                case 0x01:
                    s.motion.level = v;
                    return true;
                case 0x02:
                    std::copy(f.begin() + 4, f.begin() + 10, s.motion.mask.begin());
                    return true;
                case 0x03:
                    s.motion.time = v;
                    return true;
                case 0x04:
                    s.motion.osd = v;
                    return true;
            }
            return false;
        case TGroup::Position: {
            TPositionState& p = s.position;
            if (item == 0x09) {
                p.osd = v;
                return true;
            }
            // Numbers the camera has no memory for change nothing.
            if (v > kMaxPositionNumber) {
                return false;
            }
            switch (item) {
                case 0x01: {
                    TPositionRecord& r = p.records[v];
                    r.zoom = Get16(f, 5);
                    r.focus = Get16(f, 7);
                    r.SetBytes9And10(f[9], f[10]);
                    p.saveNumber = v;
                    return true;
                }
                case 0x02:
                    p.load = v;
                    if (v > 0) {
                        p.current = p.records[v];
                    }
                    return true;
                case 0x03:
                    p.alarmNumber = v;
                    return true;
            }
            return false;
        }
        case TGroup::Other: {
            uint8_t* fields[] = {&s.other.preset,    &s.other.initial,  &s.other.hReverse,
                                 &s.other.vReverse,  &s.other.negative, &s.other.phase,
                                 &s.other.phaseLevel};
            if (item < 7) {
                *fields[item] = v;
                return true;
            }
            return false;
        }
    }
    return false;
}

std::optional<TVirtualCamera::TFrame> TVirtualCamera::BuildReply(const TFrame& request) const {
    const uint8_t kind = request[1];
    const uint8_t group = request[2];
    const uint8_t item = request[3];
    const uint8_t arg = request[4];
    const TCameraState& s = state_;
    TFrame r{};
    r[0] = kSTX;
    r[1] = kDataReply;
    r[2] = group;
    r[3] = item;
    switch (static_cast<TGroup>(group)) {
        case TGroup::Title:
            if (item == 0x01) {
                // Four parts only: there is no layout for a fifth.
                if (arg > 3) {
                    return std::nullopt;
                }
                r[4] = arg;
                for (size_t i = 0; i < 5; ++i) {
                    Put16(r, 5 + 2 * i, s.title.codes[5 * arg + i]);
                }
            } else {
                r[3] = 0x00;
                r[5] = s.title.display;
                r[6] = s.title.position;
            }
            break;
        case TGroup::Lens:
            Put16(r, 5, s.lens.zoomStep);
            Put16(r, 7, s.lens.focusStep);
            r[9] = s.lens.digitalZoom;
            r[10] = s.lens.autoFocus;
            r[11] = s.lens.zoomPosition;
            r[12] = s.lens.focusPosition;
            break;
        case TGroup::Gain:
            r[5] = s.gain.priority;
            r[6] = s.gain.agcLevel;
            r[7] = s.gain.sensLevel;
            break;
        case TGroup::Exposure:
            r[5] = s.exposure.alc;
            r[6] = s.exposure.alcAutoLevel;
            r[7] = s.exposure.alcFixLevel;
            r[8] = s.exposure.aes;
            r[9] = s.exposure.aesAutoLevel;
            r[10] = s.exposure.aesFixLevel;
            break;
        case TGroup::BackLight:
            r[5] = s.backLight.on;
            r[6] = s.backLight.level;
            std::copy(s.backLight.mask.begin(), s.backLight.mask.end(), r.begin() + 7);
            break;
        case TGroup::Colour:
            r[5] = s.colour.mode;
            r[6] = s.colour.autoLevel;
            r[7] = s.colour.onePushLevel;
            r[8] = s.colour.ryGain;
            r[9] = s.colour.byGain;
            break;
        case TGroup::Aperture:
            r[5] = s.aperture.hGain;
            r[6] = s.aperture.vGain;
            break;
        case TGroup::Motion:
            r[5] = s.motion.detect;
            r[6] = s.motion.level;
            std::copy(s.motion.mask.begin(), s.motion.mask.end(), r.begin() + 7);
            r[13] = s.motion.time;
            r[14] = s.motion.osd;
            break;
        case TGroup::Position: {
            const TPositionState& p = s.position;
            const bool recordRead = kind == kQuery && (item == 0x01 || item == 0x02);
            // A read of a number without a memory gets the general state,
            // which the page tells apart by byte 3 = 0.
            if (recordRead && (item == 0x02 || arg <= kMaxPositionNumber)) {
                const TPositionRecord& rec = item == 0x01 ? p.records[arg] : p.current;
                r[4] = arg;
                Put16(r, 5, rec.zoom);
                Put16(r, 7, rec.focus);
                r[9] = rec.Byte9();
                r[10] = rec.Byte10();
            } else {
                r[3] = 0x00;
                r[5] = p.load;
                r[6] = p.saveNumber;
                r[7] = p.alarmNumber;
            }
            break;
        }
        case TGroup::Other:
            r[5] = s.other.preset;
            r[6] = s.other.initial;
            r[7] = s.other.hReverse;
            r[8] = s.other.vReverse;
            r[9] = s.other.negative;
            r[10] = s.other.phase;
            r[11] = s.other.phaseLevel;
            break;
        default:
            return std::nullopt;
    }
    SealFrame(r);
    return r;
}

TBytes TVirtualCamera::ReplyFor(uint8_t group, uint8_t item, uint8_t arg) const {
    TFrame q{};
    q[0] = kSTX;
    q[1] = kQuery;
    q[2] = group;
    q[3] = item;
    q[4] = arg;
    SealFrame(q);
    const auto r = BuildReply(q);
    return r ? TBytes(r->begin(), r->end()) : TBytes{};
}

}  // namespace zp::camera
