// Round trip of a camera exchange (18 bytes out, ACK and an 18-byte reply
// back) through our serial component: directly on a pseudo-terminal, and
// over loopback RFC 2217 and raw TCP through ser2net in front of the same
// pseudo-terminal. A peer thread answers on the master side.
//
//   net_bench [--trips N]
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "serial/VaComm.h"
#include "tests/serial/pty_pair.h"
#include "tests/serial/test_main_loop.h"
#include "tests/support/ser2net.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Answers every 18 bytes with 19, as the camera does.
class TPeer {
  public:
    explicit TPeer(int master) : master_(master), thread_([this] { Run(); }) {}
    ~TPeer() {
        stop_ = true;
        thread_.join();
    }

  private:
    void Run() {
        std::string got;
        const std::string answer(19, '\x06');
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) {
                continue;
            }
            char b[256];
            const ssize_t n = read(master_, b, sizeof b);
            if (n > 0) {
                got.append(b, static_cast<size_t>(n));
            }
            while (got.size() >= 18) {
                got.erase(0, 18);
                (void)!write(master_, answer.data(), answer.size());
            }
        }
    }
    int master_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct TResult {
    double median = 0, p99 = 0;
    bool ok = false;
};

TResult Trips(zp::test::TTestMainLoop& loop, const std::string& device, int trips) {
    zp::TVaComm comm;
    comm.SetDeviceName(device);
    comm.SetBaudrate(zp::br9600);
    size_t received = 0;
    comm.OnRxChar = [&](zp::TVaComponent*, int32_t) { received += comm.ReceivePending().size(); };
    TResult r;
    try {
        comm.Open();
    } catch (const zp::EVaCommError& e) {
        std::fprintf(stderr, "%s: %s\n", device.c_str(), e.what());
        return r;
    }
    const std::string frame(18, '\x02');
    std::vector<double> us;
    for (int i = 0; i < trips + 20; ++i) {
        received = 0;
        const auto start = Clock::now();
        comm.TransmitData(frame.data(), 18);
        if (!loop.RunUntil([&] { return received >= 19; }, 5s)) {
            std::fprintf(stderr, "%s: no answer\n", device.c_str());
            return r;
        }
        if (i >= 20) {  // warm-up: the connection and negotiation
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    std::sort(us.begin(), us.end());
    r.median = us[us.size() / 2];
    r.p99 = us[us.size() * 99 / 100];
    r.ok = true;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    int trips = 2000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--trips") == 0) {
            trips = std::max(10, std::atoi(argv[i + 1]));
        }
    }
    zp::test::TTestMainLoop loop;
    zp::test::TPtyPair pty;
    zp::test::TSer2net server(pty.SlavePath(), "9600n81,local");
    if (!server.Running()) {
        std::fprintf(stderr, "net_bench: ser2net did not start\n");
        return 1;
    }
    TPeer peer(pty.Master());
    std::printf("round trip, 18 bytes out and 19 back, %d trips each (microseconds)\n", trips);
    std::printf("%-34s %10s %10s\n", "line", "median", "99th pct");
    bool ok = true;
    for (const std::string& device : {pty.SlavePath(), server.Rfc2217(), server.Tcp()}) {
        const TResult r = Trips(loop, device, trips);
        ok = ok && r.ok;
        std::printf("%-34s %10.1f %10.1f\n", device.c_str(), r.median, r.p99);
        std::fflush(stdout);
        // ser2net lets go of the device before the next connection takes it.
        loop.RunFor(300ms);
    }
    return ok ? 0 : 1;
}
