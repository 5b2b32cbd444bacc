// DCB to termios. Everything the record asks for is either expressed or
// refused with EINVAL; nothing is dropped silently.
#include <termios.h>

#include <cerrno>

#include "serial/platform/port_device.h"

namespace zp {

namespace {

uint32_t StandardRateCode(uint32_t rate) {
    static constexpr struct {
        uint32_t rate;
        uint32_t code;
    } kRates[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto& r : kRates) {
        if (r.rate == rate) {
            return r.code;
        }
    }
    return kBOTHER | (kBOTHER << kIBSHIFT);
}

}  // namespace

int TranslateDcb(const DCB& dcb, TTermiosPlan& plan) {
    plan = TTermiosPlan{};
    const uint32_t f = dcb.Flags;

    // Not expressible on Linux: DSR output flow and DSR sensitivity, DTR
    // input handshake, error-char replacement, and a rate of 0 (which would
    // mean "hang up" to the driver).
    if ((f & (fOutxDsrFlow | fDsrSensitivity | fErrorChar)) != 0 ||
        (f & fDtrControlMask) == fDtrControlHandshake || dcb.BaudRate == 0) {
        return EINVAL;
    }
    // RTS input handshake exists only together with CTS output flow.
    const uint32_t rtsMode = f & fRtsControlMask;
    if (rtsMode == fRtsControlHandshake && (f & fOutxCtsFlow) == 0) {
        return EINVAL;
    }
    // The kernel keeps sending after it has sent XOFF; holding our own output
    // back until XON has gone out again has no counterpart.
    if ((f & fInX) != 0 && (f & fTXContinueOnXoff) == 0) {
        return EINVAL;
    }

    // A standard rate gets its own code, so that readers of the old termios
    // interface see it; any other rate goes through BOTHER.
    uint32_t cflag = CREAD | CLOCAL | StandardRateCode(dcb.BaudRate);
    switch (dcb.ByteSize) {
        case 5:
            cflag |= CS5;
            break;
        case 6:
            cflag |= CS6;
            break;
        case 7:
            cflag |= CS7;
            break;
        case 8:
            cflag |= CS8;
            break;
        default:
            return EINVAL;
    }
    switch (dcb.Parity) {
        case 0:
            break;
        case 1:
            cflag |= PARENB | PARODD;
            break;
        case 2:
            cflag |= PARENB;
            break;
        case 3:
            cflag |= PARENB | CMSPAR | PARODD;
            break;
        case 4:
            cflag |= PARENB | CMSPAR;
            break;
        default:
            return EINVAL;
    }
    switch (dcb.StopBits) {
        case 0:
            break;
        case 2:
            cflag |= CSTOPB;
            break;
        default:  // 1.5 stop bits
            return EINVAL;
    }
    if ((f & fOutxCtsFlow) != 0) {
        cflag |= CRTSCTS;
    }

    uint32_t iflag = 0;
    if ((f & fParity) != 0) {
        iflag |= INPCK;
    }
    if ((f & fOutX) != 0) {
        iflag |= IXON;
    }
    if ((f & fInX) != 0) {
        iflag |= IXOFF;
    }

    plan.iflag = iflag;
    plan.oflag = 0;
    plan.lflag = 0;
    plan.cflag = cflag;
    plan.cc[kVMIN] = 1;
    plan.cc[kVTIME] = 0;
    plan.cc[kVSTART] = dcb.XonChar;
    plan.cc[kVSTOP] = dcb.XoffChar;
    plan.ispeed = dcb.BaudRate;
    plan.ospeed = dcb.BaudRate;

    switch (f & fDtrControlMask) {
        case fDtrControlEnable:
            plan.dtr = 1;
            break;
        default:
            plan.dtr = 0;
            break;
    }
    switch (rtsMode) {
        case fRtsControlEnable:
            plan.rts = 1;
            break;
        case fRtsControlHandshake:
            plan.rts = -1;  // CRTSCTS drives it
            break;
        case fRtsControlToggle:
            plan.rts = -1;
            plan.rs485 = true;
            break;
        default:
            plan.rts = 0;
            break;
    }
    return 0;
}

}  // namespace zp
