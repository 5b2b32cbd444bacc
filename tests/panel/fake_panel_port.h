// A port for window tests that need no line: it records what is written and
// delivers what the test says the camera sent.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "panel/panel_port.h"
#include "serial/platform/port_device.h"

namespace zp::test {

using Bytes = std::vector<uint8_t>;

class FakePanelPort : public IPanelPort {
  public:
    bool IsOpen() override { return open; }
    void Open() override {
        ++opens;
        if (failOpen) {
            throw std::runtime_error("Unable to open specified device " + device +
                                     " (2), No such file or directory");
        }
        open = !staysShut;
    }
    void Close() override { open = false; }
    void SetPortNum(int32_t p) override { portNum = p; }
    void SetUserBaudrate(int32_t b) override { baud = b; }
    int32_t TransmitData(const void* data, int32_t count) override {
        if (throwOnWrite) {
            throw std::runtime_error("Write error (5), Input/output error");
        }
        const auto* p = static_cast<const uint8_t*>(data);
        writes.emplace_back(p, p + count);
        return open ? count : 0;
    }
    bool TransmitByte(uint8_t b) override { return TransmitData(&b, 1) == 1; }
    std::string ReceivePending() override {
        std::string s;
        s.swap(pending);
        return s;
    }
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

    bool open = false;
    bool failOpen = false;
    bool staysShut = false;  // Open returns without an error and without opening
    bool throwOnWrite = false;
    int opens = 0;
    int waits = 0;
    int32_t portNum = -1;
    int32_t baud = -1;
    std::string device = "/dev/ttyS0";
    std::vector<Bytes> writes;
    std::string pending;
    std::function<void(int32_t)> onRx;
    std::function<void()> onHangUp;
};

}  // namespace zp::test
