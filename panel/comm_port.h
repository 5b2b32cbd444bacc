// The main window's serial port: Comm1 with the window's settings, seen
// through the panel's port interface.
#pragma once

#include "panel/panel_port.h"
#include "serial/VaComm.h"

namespace zp {

class TCommPort : public IPanelPort {
  public:
    TCommPort();
    ~TCommPort() override;

    TVaComm& Comm1() { return comm_; }

    bool IsOpen() override { return comm_.IsOpen(); }
    void Open() override { comm_.Open(); }
    void Close() override { comm_.Close(); }
    void SetPortNum(int32_t port) override { comm_.SetPortNum(port); }
    void SetUserBaudrate(int32_t baud) override { comm_.SetUserBaudrate(baud); }
    int32_t TransmitData(const void* data, int32_t count) override {
        return comm_.TransmitData(data, count);
    }
    bool TransmitByte(uint8_t b) override { return comm_.TransmitByte(b); }
    std::string ReceivePending() override { return comm_.ReceivePending(); }
    void SetDeviceName(const std::string& name) override;
    std::string DeviceText() override;
    void SetOnRxChar(std::function<void(int32_t)> handler) override;
    void SetOnHangUp(std::function<void()> handler) override;
    void WaitSent(int timeoutMs) override;

  private:
    TVaComm comm_;
    std::function<void()> onHangUp_;
};

}  // namespace zp
