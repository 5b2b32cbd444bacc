// TCameraHost: serves a TVirtualCamera on a line in a thread of its own,
// normally a new pseudo-terminal whose slave end the panel opens like a
// serial port.
//
//   TCameraHost host;
//   auto started = host.Start();            // or Start("/tmp/cam-link")
//   if (!started) fail(started.error);
//   ... open started.path as the panel's device ...
//   host.SetFault(TFault::Silent, 3);       // the next three exchanges
//   host.WaitReceived(2, 5s);               // ENQ and one frame arrived
//   auto rx = host.Received();              // bytes and times, per unit
//   host.HangUp();                          // the panel's end goes away
//   host.Replug("/tmp/cam-link");           // a new terminal, link moved
//   host.Stop();                            // also done by the destructor
//
// The fault switch, the state, the record and the waits may be used from any
// thread at any time; Start, Replug, StartOnDevice, HangUp and Stop from one
// controlling thread (the test's) at a time.
//
// The record keeps every unit received from the panel (a frame, a control
// byte, a stray byte) with the monotonic time at which the host read its
// first byte. That time trails the panel's write by the host's wake-up
// latency, usually well under a millisecond but more on a loaded machine, so
// a check of the 100 ms spacing should allow a millisecond or two.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera/virtual_camera.h"

namespace zp::camera {

struct TReceived {
    TBytes bytes;  // a whole frame, a control byte or a stray byte
    std::chrono::steady_clock::time_point at;
};

struct TStartResult {
    std::string path;   // the slave (or device) to connect to; empty on failure
    std::string error;  // why starting failed; empty on success
    explicit operator bool() const { return error.empty(); }
};

class TCameraHost {
  public:
    using TObserver = std::function<void(const TExchange&)>;

    TCameraHost() = default;
    ~TCameraHost();
    TCameraHost(const TCameraHost&) = delete;
    TCameraHost& operator=(const TCameraHost&) = delete;

    // Opens a new pseudo-terminal (raw mode on both ends) and serves it. With
    // a link path, also makes that symbolic link point at the slave, replacing
    // a link already there. Stops a running line first. The camera's state,
    // the record and the fault carry over.
    TStartResult Start(const std::string& linkPath = "");

    // Serves an existing device instead (raw, 9600 8N1, no flow control).
    TStartResult StartOnDevice(const std::string& devicePath);

    // Ends the thread and closes the line. Safe to call twice.
    void Stop();

    // Closes the line now, as a pulled adapter does: the panel's end sees a
    // hang-up (POLLHUP, EIO). The hang-up fault does the same by itself.
    void HangUp();
    bool HungUp() const;
    bool WaitHungUp(std::chrono::milliseconds timeout) const;

    // A new pseudo-terminal, with the link re-pointed to it: a re-plugged
    // adapter whose /dev/serial/by-id name moves to a new device.
    TStartResult Replug(const std::string& linkPath);

    bool Running() const;
    std::string Path() const;

    // Fault switch for the next `count` exchanges, the trigger that holds it
    // back and random faults (see TVirtualCamera).
    void SetFault(TFault mode, int count = 1);
    void SetFaultTrigger(TBytes prefix);
    void SetChaos(int oneIn, uint32_t seed);
    void SetInterlocks(bool on);
    // Wait before each answer; 0 by default.
    void SetAnswerDelay(std::chrono::milliseconds delay);
    // Sends the answers as a line at this rate would, ten bits a byte; 0 (the
    // default) writes them at once.
    void SetLineRate(int bitsPerSecond) { lineRate_ = bitsPerSecond; }

    // A copy of the camera's state, and a way to set it up for a test.
    TCameraState State() const;
    void SetState(const TCameraState& state);

    // Called on the host's thread for each exchange, after its answer went
    // out; the exchange's `at` is the time of its first byte. Set it before
    // Start.
    void SetObserver(TObserver observer);

    std::vector<TReceived> Received() const;
    TBytes ReceivedBytes() const;
    void ClearReceived();
    // Bytes received in all units since Start, not reset by ClearReceived.
    size_t TotalReceivedBytes() const;
    // True when at least `units` units (or `bytes` bytes) have been received
    // before the time-out ran out.
    bool WaitReceived(size_t units, std::chrono::milliseconds timeout) const;
    bool WaitReceivedBytes(size_t bytes, std::chrono::milliseconds timeout) const;
    // The same, counting only 18-byte frames (good or bad).
    bool WaitReceivedFrames(size_t frames, std::chrono::milliseconds timeout) const;

  private:
    TStartResult Serve(int fd, bool pty, const std::string& path);
    void Run(int fd, int wakeFd, bool pty);
    bool WriteAll(int fd, int wakeFd, const TBytes& bytes);
    void CloseLine();

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    TVirtualCamera camera_;
    std::vector<TReceived> received_;
    size_t receivedBytes_ = 0;
    size_t totalBytes_ = 0;
    size_t receivedFrames_ = 0;
    std::chrono::milliseconds delay_{0};
    std::atomic<int> lineRate_{0};
    TObserver observer_;

    std::thread thread_;
    int fd_ = -1;  // pseudo-terminal master or device
    int wakeFd_ = -1;
    std::string path_;
    bool running_ = false;
    bool hungUp_ = false;
};

}  // namespace zp::camera
