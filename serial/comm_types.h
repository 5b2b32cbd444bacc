// Enumerations, event and error bits, and the line-settings record of the
// serial component.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace zp {

enum TVaBaudrate : uint8_t {
    brUser,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
};
enum TVaParity : uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TVaDatabits : uint8_t { db4, db5, db6, db7, db8 };
enum TVaStopbits : uint8_t { sb1, sb15, sb2 };
enum TVaControlDtr : uint8_t { dtrDisabled, dtrEnabled, dtrHandshake };
enum TVaControlRts : uint8_t { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };
enum TVaCommEvent : uint8_t {
    ceBreak,
    ceCts,
    ceDsr,
    ceError,
    ceRing,
    ceRlsd,
    ceRxChar,
    ceTxEmpty,
    ceRxFlag,
    cePErr,
    ceRx80Full,
    ceEvent1,
    ceEvent2,
};
enum TVaCommOption : uint8_t { coErrorChar, coNullStrip };
enum TThreadPriority : uint8_t {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical,
};

// A set of enumeration values, bit n for ordinal n.
template <typename E, typename Bits>
class TVaSet {
  public:
    constexpr TVaSet() = default;
    constexpr TVaSet(std::initializer_list<E> values) {
        for (E v : values) {
            bits_ = static_cast<Bits>(bits_ | Bit(v));
        }
    }
    static constexpr TVaSet FromBits(Bits bits) {
        TVaSet s;
        s.bits_ = bits;
        return s;
    }
    constexpr bool Has(E v) const { return (bits_ & Bit(v)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr Bits ToBits() const { return bits_; }
    TVaSet& Include(E v) {
        bits_ = static_cast<Bits>(bits_ | Bit(v));
        return *this;
    }
    TVaSet& Exclude(E v) {
        bits_ = static_cast<Bits>(bits_ & ~Bit(v));
        return *this;
    }
    constexpr bool operator==(const TVaSet& o) const { return bits_ == o.bits_; }
    constexpr bool operator!=(const TVaSet& o) const { return bits_ != o.bits_; }

  private:
    static constexpr Bits Bit(E v) { return static_cast<Bits>(Bits{1} << static_cast<int>(v)); }
    Bits bits_ = 0;
};

using TVaCommEvents = TVaSet<TVaCommEvent, uint16_t>;
using TVaCommOptions = TVaSet<TVaCommOption, uint8_t>;

// Platform event bits.
constexpr uint32_t EV_RXCHAR = 0x0001;
constexpr uint32_t EV_RXFLAG = 0x0002;
constexpr uint32_t EV_TXEMPTY = 0x0004;
constexpr uint32_t EV_CTS = 0x0008;
constexpr uint32_t EV_DSR = 0x0010;
constexpr uint32_t EV_RLSD = 0x0020;
constexpr uint32_t EV_BREAK = 0x0040;
constexpr uint32_t EV_ERR = 0x0080;
constexpr uint32_t EV_RING = 0x0100;
constexpr uint32_t EV_PERR = 0x0200;
constexpr uint32_t EV_RX80FULL = 0x0400;
constexpr uint32_t EV_EVENT1 = 0x0800;
constexpr uint32_t EV_EVENT2 = 0x1000;

// The platform bit of each TVaCommEvent, in ordinal order.
uint32_t CommEventBit(TVaCommEvent e);
// OR of the platform bits of a set.
uint32_t CommEventMask(TVaCommEvents events);

// Line-error flags reported in CommStatistics.Errors and OnError.
constexpr uint32_t CE_RXOVER = 0x0001;    // our input queue overflowed
constexpr uint32_t CE_OVERRUN = 0x0002;   // the UART lost bytes
constexpr uint32_t CE_RXPARITY = 0x0004;  // parity error
constexpr uint32_t CE_FRAME = 0x0008;     // framing error
constexpr uint32_t CE_BREAK = 0x0010;     // break received
// Our own flag: the device went away (unplugged adapter, far end of a
// pseudo-terminal closed). Reported once through OnError; after it the port
// neither reads nor writes and should be closed.
constexpr uint32_t CE_HANGUP = 0x00100000;

// The line-settings record. Same members, order and flag bits as the
// platform record it stands for.
struct DCB {
    uint32_t DCBlength = 0;
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    uint8_t XonChar = 0;
    uint8_t XoffChar = 0;
    uint8_t ErrorChar = 0;
    uint8_t EofChar = 0;
    uint8_t EvtChar = 0;
    uint16_t wReserved1 = 0;
};

constexpr uint32_t fBinary = 0x0001;
constexpr uint32_t fParity = 0x0002;
constexpr uint32_t fOutxCtsFlow = 0x0004;
constexpr uint32_t fOutxDsrFlow = 0x0008;
constexpr uint32_t fDtrControlMask = 0x0030;
constexpr uint32_t fDtrControlEnable = 0x0010;
constexpr uint32_t fDtrControlHandshake = 0x0020;
constexpr uint32_t fDsrSensitivity = 0x0040;
constexpr uint32_t fTXContinueOnXoff = 0x0080;
constexpr uint32_t fOutX = 0x0100;
constexpr uint32_t fInX = 0x0200;
constexpr uint32_t fErrorChar = 0x0400;
constexpr uint32_t fNull = 0x0800;
constexpr uint32_t fRtsControlMask = 0x3000;
constexpr uint32_t fRtsControlEnable = 0x1000;
constexpr uint32_t fRtsControlHandshake = 0x2000;
constexpr uint32_t fRtsControlToggle = 0x3000;
constexpr uint32_t fAbortOnError = 0x4000;

// The rate in bit/s of a TVaBaudrate (0 for brUser).
uint32_t BaudrateValue(TVaBaudrate b);

}  // namespace zp
