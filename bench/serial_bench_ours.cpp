// Our serial component's side of the benchmark, with its default settings:
// queued writes through the write thread, OnRxChar from the event thread.
#include <algorithm>

#include "bench/serial_bench_ports.h"
#include "serial/VaComm.h"

namespace zp::bench {
namespace {

class OurPort : public TBenchPort {
  public:
    explicit OurPort(int writeSize) {
        if (writeSize > 0) {
            comm_.Buffers().SetWriteSize(writeSize);
        }
        comm_.OnRxChar = [this](TVaComponent*, int32_t) {
            if (onReceive_) {
                onReceive_();
            }
        };
    }
    void Open(const std::string& path) override {
        comm_.SetDeviceName(path);
        comm_.Open();
    }
    void Close() override { comm_.Close(); }
    void Write(const char* data, size_t count) override {
        // TransmitData waits for room when the queue is full, and raises
        // when none comes within the write time-out.
        const auto chunk = static_cast<size_t>(std::max(1, comm_.Buffers().WriteSize() / 2));
        for (size_t done = 0; done < count;) {
            const size_t n = std::min(chunk, count - done);
            comm_.TransmitData(data + done, static_cast<int32_t>(n));
            done += n;
        }
    }
    std::string Read() override { return comm_.ReceivePending(); }
    void SetOnReceive(std::function<void()> onReceive) override {
        onReceive_ = std::move(onReceive);
    }

  private:
    TVaComm comm_;
    std::function<void()> onReceive_;
};

}  // namespace

std::unique_ptr<TBenchPort> MakeOurPort(int writeSize) {
    return std::make_unique<OurPort>(writeSize);
}

}  // namespace zp::bench
