// The port as the main window sees it: the link's operations plus where the
// device is, and the two notifications that reach the window.
#pragma once

#include <functional>
#include <string>

#include "link/link_seams.h"

namespace zp {

class IPanelPort : public ILinkPort {
  public:
    // The device to open: "COM%d" style with the port number, or a path.
    virtual void SetDeviceName(const std::string& name) = 0;
    virtual std::string DeviceText() = 0;
    // Received bytes are waiting; delivered on the main thread.
    virtual void SetOnRxChar(std::function<void(int32_t count)> handler) = 0;
    // The device went away (unplugged, far end closed); main thread, once.
    virtual void SetOnHangUp(std::function<void()> handler) = 0;
    // Waits, at most timeoutMs, until what was written has left.
    virtual void WaitSent(int timeoutMs) = 0;
    // Why the open line was lost, as the port says it; empty when it cannot.
    virtual std::string LostReason() { return {}; }
    // A network device still connecting: nothing it carries is heard yet.
    virtual bool Connecting() { return false; }
};

}  // namespace zp
