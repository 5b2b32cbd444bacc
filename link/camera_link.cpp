#include "camera_link.h"

#include <utility>

#include "func.h"

namespace zp {

void CompleteFrame(TCommandFrame& frame, int32_t payloadLength) {
    frame[0] = kSTX;
    for (int i = 1; i <= 15; ++i) {
        if (i > payloadLength) {
            frame[static_cast<size_t>(i)] = 0;
        }
    }
    frame[16] = kETX;
    uint8_t sum = 0;
    for (int i = 0; i <= 16; ++i) {
        sum = static_cast<uint8_t>(sum + frame[static_cast<size_t>(i)]);
    }
    frame[17] = static_cast<uint8_t>(0 - sum);
}

std::string HexText(const uint8_t* bytes, int first, int last) {
    std::string text;
    text.reserve(static_cast<size_t>(2 * (last - first + 1)));
    for (int i = first; i <= last; ++i) {
        text += ByteToHex(bytes[i]);
    }
    return text;
}

TCameraLink::TCameraLink(ILinkPort& port, ILinkWindow& window, TPause pause)
    : port_(port), window_(window), pause_(std::move(pause)) {}

int32_t TCameraLink::SendFrame(int32_t payloadLength) {
    if (vars_.SendBusy) {
        return 0;
    }
    vars_.SendBusy = true;
    pause_(kSendPauseMs);
    window_.ShowHourglass();
    TCommandFrame& frame = vars_.CommandFrame;
    CompleteFrame(frame, payloadLength);
    port_.TransmitData(frame.data(), kFrameSize);
    window_.SetStatusText(kPanelSent, HexText(frame.data(), 1, 14));
    return 0;
}

}  // namespace zp
