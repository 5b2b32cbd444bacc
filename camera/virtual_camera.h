// The virtual camera's protocol engine: the camera's side of the line, with
// no I/O and no threads. Bytes from the panel go in; the bytes the camera
// sends back come out, one exchange at a time.
//
// On the line:
//   ENQ                  -> ACK
//   good 18-byte frame   -> ACK, then an 18-byte reply (kind 0xA0, the group,
//                           the group's state in its reply layout)
//   bad checksum or end  -> NAK
//   unknown group/kind   -> NAK
//   lone ACK             -> nothing (it acknowledges a reply), except right
//                           after a malformed answer: the panel's ACK then asks
//                           whether the camera is there, and gets ACK
//   anything else idle   -> ignored (line noise)
//
// Framing state is kept across calls, so input may be split anywhere.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace zp::camera {

using TBytes = std::vector<uint8_t>;

constexpr uint8_t kSTX = 0x02;
constexpr uint8_t kETX = 0x03;
constexpr uint8_t kENQ = 0x05;
constexpr uint8_t kACK = 0x06;
constexpr uint8_t kNAK = 0x15;
constexpr size_t kFrameSize = 18;
constexpr uint8_t kQuery = 0x31;
constexpr uint8_t kSet = 0x21;
constexpr uint8_t kDataReply = 0xA0;

// The reply kind sent by the wrong-kind fault.
constexpr uint8_t kWrongReplyKind = 0xA1;
// Highest position record number the camera stores.
constexpr int kMaxPositionNumber = 100;

enum class TGroup : uint8_t {
    Title = 0x10,
    Lens = 0x21,
    Gain = 0x1A,
    Exposure = 0x48,
    BackLight = 0x18,
    Colour = 0x1B,
    Aperture = 0x47,
    Motion = 0x23,
    Position = 0x52,
    Other = 0x54,
};

// The tab caption of a group ("C.ID", "Len", ...), or "" for an unknown byte.
const char* GroupName(uint8_t group);

// Byte 16 (ETX) and byte 17 (two's complement of the sum of bytes 0..16).
void SealFrame(std::array<uint8_t, kFrameSize>& frame);
bool ChecksumOk(const std::array<uint8_t, kFrameSize>& frame);

// ---- The state per command group, as the pages see it -------------------

// Six bytes, one per grid row, top row first; bit 0 is the leftmost area.
using TAreaMask = std::array<uint8_t, 6>;

struct TTitleState {
    static constexpr uint16_t kSpace = 0x01FE;
    std::array<uint16_t, 20> codes{};  // four parts of five, as stored
    uint8_t display = 0;               // 0 "OFF", 1 "ON"
    uint8_t position = 0;              // 0 "UP", 1 "DOWN"
};

enum class TMotion : uint8_t { Stopped, Wide, Tele, Near, Far };

struct TLensState {
    uint16_t zoomStep = 0;
    uint16_t focusStep = 0;
    uint8_t digitalZoom = 0;
    uint8_t autoFocus = 1;
    uint8_t zoomPosition = 0;     // bar position byte
    uint8_t focusPosition = 115;  // about the middle of the focus range
    uint8_t afAfterTracking = 0;
    TMotion zoomMotion = TMotion::Stopped;
    TMotion focusMotion = TMotion::Stopped;
    int onePushCount = 0;  // one-push focus runs (item 0x0E)
};

struct TGainState {
    uint8_t priority = 0;  // 0 "AGC", 1 "SENS"
    uint8_t agcLevel = 0;
    uint8_t sensLevel = 0;
};

struct TExposureState {
    uint8_t alc = 0;  // 0 "AUTO", 1 "FIX"
    uint8_t alcAutoLevel = 4;
    uint8_t alcFixLevel = 4;
    uint8_t aes = 1;
    uint8_t aesAutoLevel = 4;
    uint8_t aesFixLevel = 0;  // "OFF": no electronic shutter
};

struct TBackLightState {
    uint8_t on = 0;
    uint8_t level = 3;
    TAreaMask mask{0x00, 0x00, 0x3C, 0x3C, 0x00, 0x00};  // the centre
};

struct TColourState {
    uint8_t mode = 0;  // 0 "AUTO", 1 "ONE PUSH"
    uint8_t autoLevel = 4;
    uint8_t onePushLevel = 4;
    uint8_t ryGain = 4;
    uint8_t byGain = 4;
};

struct TApertureState {
    uint8_t hGain = 6;
    uint8_t vGain = 6;
};

struct TMotionState {
    uint8_t detect = 0;
    uint8_t level = 5;
    TAreaMask mask{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    uint8_t time = 0;  // 0 "10sec", 1 "30sec", 2 "60sec"
    uint8_t osd = 0;
};

// One stored position: zoom and focus as 16-bit values, and the bit fields of
// record bytes 9 and 10.
struct TPositionRecord {
    uint16_t zoom = 0;
    uint16_t focus = 0;
    uint8_t alc = 0;
    uint8_t aes = 1;
    uint8_t blc = 0;
    uint8_t wb = 0;
    uint8_t agcLevel = 0;  // 0..15
    uint8_t alcLevel = 4;  // 0..15
    uint8_t wbLevel = 4;   // 0..15

    uint8_t Byte9() const;
    uint8_t Byte10() const;
    void SetBytes9And10(uint8_t b9, uint8_t b10);
    bool operator==(const TPositionRecord& o) const;
    bool operator!=(const TPositionRecord& o) const { return !(*this == o); }
};

struct TPositionState {
    uint8_t load = 0;         // last position recalled, 0 = none ("OFF")
    uint8_t saveNumber = 1;   // last number saved to or read
    uint8_t alarmNumber = 1;  // position taken on alarm
    uint8_t osd = 0;
    TPositionRecord current;  // what "Current Read" reports
    std::array<TPositionRecord, kMaxPositionNumber + 1> records{};
};

struct TOtherState {
    uint8_t preset = 0;
    uint8_t initial = 0;
    uint8_t hReverse = 0;
    uint8_t vReverse = 0;
    uint8_t negative = 0;
    uint8_t phase = 0;
    uint8_t phaseLevel = 0;  // as sent: level plus the panel's offset
};

struct TCameraState {
    TTitleState title;
    TLensState lens;
    TGainState gain;
    TExposureState exposure;
    TBackLightState backLight;
    TColourState colour;
    TApertureState aperture;
    TMotionState motion;
    TPositionState position;
    TOtherState other;

    TCameraState();  // the factory settings
};

// Camera codes of a plain title (digits, letters, space; anything else is a
// space), padded to 20 characters with spaces.
std::array<uint16_t, 20> TitleCodes(const std::string& text);

// ---- Fault modes ---------------------------------------------------------

enum class TFault {
    None,
    Silent,             // no answer at all; a set command is not applied
    Nak,                // NAK instead of the answer; not applied
    MalformedStart,     // an 18-byte frame with a stray first byte
    MalformedEnd,       // an 18-byte frame whose end byte is not ETX
    WrongGroup,         // the reply names another command group
    WrongKind,          // the reply kind is kWrongReplyKind, not 0xA0
    AckInsteadOfReply,  // ACK, then ACK
    StrayBytes,         // garbage bytes, then the normal answer
    HangUp,             // no answer; the line goes away (the host closes it)
    Split,              // the normal answer, in two writes with a pause between
    MalformedShort,     // the first half of the frame, then nothing
};

// Command-line names: "none", "silent", "nak", "malformed-start",
// "malformed-end", "wrong-group", "wrong-kind", "ack-instead", "stray-bytes",
// "hang-up", "split", "malformed-short".
const char* FaultName(TFault fault);
std::optional<TFault> ParseFault(const std::string& name);

// ---- The engine ----------------------------------------------------------

// One exchange: what came in and what went out.
struct TExchange {
    enum class TKind {
        Enq,       // ENQ from the panel
        Frame,     // a well-formed command frame
        BadFrame,  // 18 bytes that failed the checks, or a partial frame
        Ack,       // a lone ACK from the panel
        Noise,     // a byte outside any frame that means nothing
    };
    TKind kind = TKind::Noise;
    TBytes in;
    TBytes out;
    TFault fault = TFault::None;  // the fault applied to this exchange
    bool hangUp = false;          // the host must close the line now
    size_t splitAt = 0;           // when not 0: write out[0, splitAt), pause, the rest
    std::string note;             // a short description for the log
    // When the host read the first byte of `in` (set by the host).
    std::chrono::steady_clock::time_point at{};
};

class TVirtualCamera {
  public:
    TVirtualCamera();

    // Feeds bytes from the panel; returns the exchanges they completed.
    std::vector<TExchange> Feed(const uint8_t* data, size_t count);
    std::vector<TExchange> Feed(const TBytes& data) { return Feed(data.data(), data.size()); }

    // Feeds bytes and returns everything the camera sends back, joined.
    TBytes Answer(const TBytes& data);

    // No byte has come for a while: a partial frame is dropped and answered
    // with NAK. Returns the exchange, if there was a partial frame.
    std::optional<TExchange> LineIdle();

    // True between frames (no partial frame held).
    bool BetweenFrames() const { return pending_.empty(); }

    // The next `count` exchanges get `mode`; a negative count applies it until
    // it is changed. Faults that distort a reply (wrong group, wrong kind, ACK
    // instead of a reply) wait for a well-formed frame; the others apply to
    // any exchange that gets an answer (ENQ, frame, bad frame).
    void SetFault(TFault mode, int count = 1);
    TFault Fault() const { return fault_; }
    int FaultCount() const { return faultCount_; }

    // Holds the fault set by SetFault back until a well-formed frame that
    // begins with `prefix` (empty: no such condition), so a test can aim it
    // at one command among the panel's traffic.
    void SetFaultTrigger(TBytes prefix) { trigger_ = std::move(prefix); }

    // Misbehaves on a random one exchange in `oneIn` (0: never), with a
    // fault drawn from silent, NAK, malformed start or end, wrong group,
    // stray bytes and split; the same seed gives the same sequence. A fault
    // set with SetFault goes first.
    void SetChaos(int oneIn, uint32_t seed);

    // With interlocks a level is taken only while its mode uses it (ALC and
    // AES fixed levels in FIX, automatic ones in AUTO, colour levels by the
    // white balance, back-light, motion and phase levels while they are on);
    // otherwise the camera answers and changes nothing. Off by default.
    void SetInterlocks(bool on) { interlocks_ = on; }

    // Garbage sent before the answer by the stray-bytes fault.
    void SetStrayBytes(TBytes bytes) { stray_ = std::move(bytes); }

    TCameraState& State() { return state_; }
    const TCameraState& State() const { return state_; }

    // The reply the camera would send now to a query of `group` (item and
    // byte 4 as in the request); empty for an unknown group.
    TBytes ReplyFor(uint8_t group, uint8_t item = 0, uint8_t arg = 0) const;

  private:
    using TFrame = std::array<uint8_t, kFrameSize>;

    TExchange OnEnq();
    TExchange OnLoneAck();
    TExchange OnFrame(const TFrame& frame);
    TExchange OnBadFrame(TBytes in, const char* why);
    // `frame` is the well-formed frame being answered, or null.
    TFault TakeFault(const TFrame* frame);
    TFault DrawChaos(bool wellFormedFrame);
    void ApplyAnswerFault(TExchange& ex, TFault fault, const TBytes& normal, bool isReply);

    // Changes the state by a set command; false when the command is refused.
    bool ApplySet(const TFrame& frame);
    // With interlocks on: the mode of this group and item does not take it now.
    bool Locked(uint8_t group, uint8_t item) const;
    // The reply to a well-formed frame, or nullopt when it is refused.
    std::optional<TFrame> BuildReply(const TFrame& request) const;

    TCameraState state_;
    TBytes pending_;  // bytes of the frame being received
    TFault fault_ = TFault::None;
    int faultCount_ = 0;
    bool resyncPending_ = false;  // last answer was malformed
    TBytes stray_;
    TBytes trigger_;
    int chaos_ = 0;
    bool interlocks_ = false;
    std::mt19937 random_;
};

}  // namespace zp::camera
