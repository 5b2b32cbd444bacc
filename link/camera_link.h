// The conversation with the camera: the frame sender and its send gate.
#pragma once

#include <cstdint>

#include "link_seams.h"
#include "uVar.h"

namespace zp {

// Pause before every frame and control byte; it also spaces frames apart.
constexpr int kSendPauseMs = 100;

class TCameraLink {
public:
    TCameraLink(ILinkPort& port, ILinkWindow& window, TPause pause);

    TLinkVars& Vars() { return vars_; }
    const TLinkVars& Vars() const { return vars_; }

    // True while no exchange is outstanding.
    bool CanSend() const { return !vars_.SendBusy; }

    // Completes the shared frame (start, zeroed payload above payloadLength,
    // end, checksum), sends it and echoes bytes 1..14 in panel 1. Does nothing
    // while busy. Always 0.
    int32_t SendFrame(int32_t payloadLength);

private:
    ILinkPort& port_;
    ILinkWindow& window_;
    TPause pause_;
    TLinkVars vars_;
};

// Fills in start byte, zeroed payload, end byte and checksum in place.
void CompleteFrame(TCommandFrame& frame, int32_t payloadLength);

// The hexadecimal text of bytes [first, last] of a buffer.
std::string HexText(const uint8_t* bytes, int first, int last);

}  // namespace zp
