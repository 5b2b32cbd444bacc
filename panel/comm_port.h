// The main window's serial port: Comm1 with the window's settings, seen
// through the panel's port interface.
#pragma once

#include "panel/panel_port.h"
#include "serial/VaComm.h"

namespace zp {

class TCommPort : public TLinkPortOf<IPanelPort, TVaComm> {
  public:
    TCommPort();
    ~TCommPort() override;

    TVaComm& Comm1() { return comm_; }

    void SetDeviceName(const std::string& name) override;
    std::string DeviceText() override;
    void SetOnRxChar(std::function<void(int32_t)> handler) override;
    void SetOnHangUp(std::function<void()> handler) override;
    void WaitSent(int timeoutMs) override;
    std::string LostReason() override { return comm_.LostReason(); }
    bool Connecting() override { return comm_.Connecting(); }

  protected:
    TVaComm& Comm() override { return comm_; }

  private:
    TVaComm comm_;
    std::function<void()> onHangUp_;
};

}  // namespace zp
