// A port for window tests that need no line: it records what is written and
// delivers what the test says the camera sent.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "panel/panel_port.h"
#include "serial/platform/port_device.h"
#include "tests/support/link_fakes.h"

namespace zp::test {

class FakePanelPort : public TScriptedPort<IPanelPort> {
  public:
    FakePanelPort() : TScriptedPort("Write error (5), Input/output error") {}

    void Open() override {
        ++opens;
        if (failOpen) {
            throw std::runtime_error("Unable to open specified device " + device +
                                     " (2), No such file or directory");
        }
        open = !staysShut;
    }
    void Close() override { open = false; }
    void SetDeviceName(const std::string& name) override { device = name; }
    std::string DeviceText() override { return DevicePath(device); }
    void SetOnRxChar(std::function<void(int32_t)> h) override { onRx = std::move(h); }
    void SetOnHangUp(std::function<void()> h) override { onHangUp = std::move(h); }
    void WaitSent(int) override { ++waits; }

    // The camera sends these bytes.
    void Deliver(const Bytes& bytes) {
        pending.append(bytes.begin(), bytes.end());
        onRx(static_cast<int32_t>(pending.size()));
    }

    bool staysShut = false;  // Open returns without an error and without opening
    int opens = 0;
    int waits = 0;
    std::string device = "/dev/ttyS0";
    std::function<void(int32_t)> onRx;
    std::function<void()> onHangUp;
    // A test's fake clock, read at each write into writtenAt.
    const int64_t* clock = nullptr;
    std::vector<int64_t> writtenAt;

  protected:
    void Wrote(int32_t /*count*/) override { writtenAt.push_back(clock != nullptr ? *clock : 0); }
};

}  // namespace zp::test
