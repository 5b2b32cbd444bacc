// The two ports the serial benchmark compares, behind one small interface.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace zp::bench {

class TBenchPort {
  public:
    virtual ~TBenchPort() = default;
    // Opens the device at path; throws on failure.
    virtual void Open(const std::string& path) = 0;
    virtual void Close() = 0;
    // Queues bytes for sending and returns; the port's own machinery sends them.
    virtual void Write(const char* data, size_t count) = 0;
    // Everything that has arrived and not been read yet.
    virtual std::string Read() = 0;
    // Called in the main thread when bytes have arrived.
    virtual void SetOnReceive(std::function<void()> onReceive) = 0;
};

std::unique_ptr<TBenchPort> MakeQSerialPort();
// nullptr while our component is not part of the build. writeSize 0 keeps
// the component's default write queue.
std::unique_ptr<TBenchPort> MakeOurPort(int writeSize);
// Installs the Qt side of our main-thread crossing.
void InstallBenchMainThread();

}  // namespace zp::bench
