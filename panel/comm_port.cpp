#include "panel/comm_port.h"

#include <chrono>

#include "panel/qt_seams.h"
#include "serial/platform/port_device.h"

namespace zp {

TCommPort::TCommPort() {
    comm_.SetName("Comm1");
    comm_.SetBaudrate(br9600);
    TVaFlowControl off;  // every member off or disabled
    comm_.SetFlowControl(off);
    comm_.SetDeviceName("COM%d");
    TVaBuffers buffers;
    buffers.SetReadSize(1024);
    buffers.SetWriteSize(1024);
    buffers.SetReadTimeout(500);
    buffers.SetWriteTimeout(500);
    comm_.SetBuffers(buffers);
    comm_.SetWritePriority(tpNormal);
    comm_.OnError = [this](TVaComponent*, uint32_t errors) {
        if ((errors & CE_HANGUP) != 0 && onHangUp_) {
            onHangUp_();
        }
    };
}

TCommPort::~TCommPort() = default;

void TCommPort::SetDeviceName(const std::string& name) {
    comm_.SetDeviceName(name);
}

std::string TCommPort::DeviceText() {
    return DevicePath(comm_.DeviceText());
}

void TCommPort::SetOnRxChar(std::function<void(int32_t)> handler) {
    comm_.OnRxChar = [handler = std::move(handler)](TVaComponent*, int32_t count) {
        handler(count);
    };
}

void TCommPort::SetOnHangUp(std::function<void()> handler) {
    onHangUp_ = std::move(handler);
}

void TCommPort::WaitSent(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    try {
        for (;;) {
            CommStatistics st;
            comm_.GetStatistics(st);
            if (st.OutQueue == 0 || std::chrono::steady_clock::now() >= end) {
                return;
            }
            PauseMs(2);
        }
    } catch (const EVaCommError&) {
        // A port that cannot say has nothing more to send.
    }
}

}  // namespace zp
