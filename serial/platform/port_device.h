// The platform layer's view of an open port: a pollable descriptor with
// reads, writes and the line controls. A tty implements it today; a network
// serial server could stand in later.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/comm_types.h"

namespace zp {

// The termios a line-settings record translates to, plus the modem-line
// actions that termios cannot carry. Flag values are the kernel's.
struct TTermiosPlan {
    uint32_t iflag = 0;
    uint32_t oflag = 0;
    uint32_t cflag = 0;
    uint32_t lflag = 0;
    uint8_t cc[19] = {};
    uint32_t ispeed = 0;
    uint32_t ospeed = 0;
    int dtr = -1;  // 0 drop, 1 raise, -1 leave to the driver
    int rts = -1;
    bool rs485 = false;  // RTS on only while sending, by the driver's RS-485 mode
};

// Control-character indexes and flags of the kernel's termios that are not
// spelled the same everywhere.
constexpr int kVTIME = 5;
constexpr int kVMIN = 6;
constexpr int kVSTART = 8;
constexpr int kVSTOP = 9;
constexpr uint32_t kBOTHER = 0010000;
constexpr uint32_t kIBSHIFT = 16;

// Turns a line-settings record into termios. Returns 0, or EINVAL when the
// record asks for something Linux cannot express; then plan is unspecified.
int TranslateDcb(const DCB& dcb, TTermiosPlan& plan);

// Counters of line events kept by the driver.
struct TLineCounters {
    uint32_t frame = 0;
    uint32_t overrun = 0;
    uint32_t parity = 0;
    uint32_t brk = 0;
    uint32_t bufOverrun = 0;
};

// Modem-line bits (the kernel's TIOCM_ values).
constexpr int kLineDtr = 0x002;
constexpr int kLineRts = 0x004;
constexpr int kLineCts = 0x020;
constexpr int kLineCar = 0x040;
constexpr int kLineRng = 0x080;
constexpr int kLineDsr = 0x100;

class IPortDevice {
  public:
    virtual ~IPortDevice() = default;
    // Pollable descriptor; readable when bytes or a hang-up are waiting.
    virtual int Fd() const = 0;
    // Non-blocking; -1 with errno set (EAGAIN: nothing yet), 0 at end of file.
    virtual ssize_t Read(void* data, size_t count) = 0;
    virtual ssize_t Write(const void* data, size_t count) = 0;
    // Puts the line into raw mode, keeping rate, size, parity and flow.
    virtual int MakeRaw() = 0;
    // Applies translated line settings; 0 or an errno.
    virtual int Apply(const TTermiosPlan& plan) = 0;
    // 0 or an errno; ENOTTY or EINVAL mean the device has no such thing.
    virtual int GetCounters(TLineCounters& counters) = 0;
    virtual int GetModemLines(int& lines) = 0;
    virtual int OutputPending(int& bytes) = 0;
    // Ends the line's use: undoes modes set on the line itself (RS-485)
    // and gives up the exclusive claim at once. The descriptor itself
    // closes when the last holder lets go of the device, and nobody touches
    // it in between.
    virtual void Release() = 0;
    // A failure the device found by itself after it was opened (a network
    // device that could not connect, a connection that dropped): true with
    // an error code and the system's text for it.
    virtual bool Failure(int& code, std::string& text) const {
        (void)code;
        (void)text;
        return false;
    }
    // True while a network device is still resolving its name, connecting or
    // negotiating: nothing has failed yet, and nothing can be heard yet.
    virtual bool Connecting() const { return false; }
    // A network serial server's answer to one of its line settings (RFC 2217
    // command number, the value as answered); false when none came.
    virtual bool Acknowledged(uint8_t command, std::vector<uint8_t>& value) const {
        (void)command;
        (void)value;
        return false;
    }
};

using TPortDevicePtr = std::shared_ptr<IPortDevice>;

// An errno from a device's read or write that means the line is gone.
bool IsHangupErrno(int code);

// The path a device name stands for: "COMn" is /dev/ttyS(n-1), a name
// beginning with "/" is a path, any other name lives in /dev.
std::string DevicePath(const std::string& name);

// "rfc2217://HOST:PORT" (telnet with the COM-PORT option) and "tcp://HOST:PORT"
// (raw bytes): a serial line behind a network serial server.
struct TNetAddress {
    bool rfc2217 = false;
    std::string host;  // a name, an IPv4 address or [an IPv6 address]
    std::string port;
};
bool IsNetDeviceName(const std::string& name);
// False when the name is not a well-formed network device name.
bool ParseNetDevice(const std::string& name, TNetAddress& address);
// Returns at once: name resolution, connecting and negotiation go on in the
// device's own thread; until they are through, what is written waits. A
// failure then (refused, unknown host, time-out, no COM-PORT option) ends
// the line as a hang-up whose reason Failure tells. 0 or an errno (EINVAL
// for a malformed name).
int OpenNetDevice(const std::string& name, TPortDevicePtr& device);

// Opens a tty exclusively (TIOCEXCL and an flock, which also keeps out root).
// Returns 0 and sets device, or returns the errno of the failing call.
int OpenTtyDevice(const std::string& path, TPortDevicePtr& device);

}  // namespace zp
