// Pseudo-terminal benchmark of our serial component against QSerialPort, both
// driven from one Qt event loop, with serial_peer on the master side:
// round trip, throughput each way, idle CPU. Every figure is printed with
// ours, QSerialPort's and the ratio ours / QSerialPort (lower is better).
//
//   serial_bench [--trips N] [--mib N] [--idle SECONDS] [--write-size BYTES]
//
// --write-size gives our write queue another capacity than its default;
// QSerialPort's write buffer has no limit.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "serial_bench_ports.h"

namespace zp::bench {
namespace {

using Clock = std::chrono::steady_clock;

int gTrips = 10000;
int gMiB = 4;
int gIdleSeconds = 10;
constexpr int kWarmUpTrips = 20;
// The two ports take turns in blocks, so a change in the machine's load
// during the run touches both alike.
constexpr int kTripBlocks = 10;
constexpr int kTransferRuns = 3;
// Generous: a stuck run fails instead of hanging `make bench`.
constexpr int kRunLimitMs = 120000;

std::string PeerPath() {
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(".");
    dir = dir.substr(0, dir.rfind('/'));
    return dir + "/serial_peer";
}

// A pseudo-terminal with serial_peer on its master side. The bench keeps one
// slave descriptor open of its own, so the master never sees a hang-up while
// the port under test is closed between runs.
class PeerLine {
  public:
    PeerLine(const char* mode, long long count) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        slave_ = ptsname(master_);
        hold_ = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        const std::string peer = PeerPath();
        const std::string fd = std::to_string(master_);
        const std::string n = std::to_string(count);
        pid_ = fork();
        if (pid_ == 0) {
            execl(peer.c_str(), "serial_peer", fd.c_str(), mode, n.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid_ < 0) {
            throw std::runtime_error("fork failed");
        }
    }
    ~PeerLine() {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        close(hold_);
        close(master_);
    }
    PeerLine(const PeerLine&) = delete;
    PeerLine& operator=(const PeerLine&) = delete;

    const std::string& SlavePath() const { return slave_; }

  private:
    int master_ = -1;
    int hold_ = -1;
    pid_t pid_ = -1;
    std::string slave_;
};

// Runs the event loop until quit or the limit; false on the limit.
bool RunLoop(QEventLoop& loop) {
    bool timedOut = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&] {
        timedOut = true;
        loop.quit();
    });
    limit.start(kRunLimitMs);
    loop.exec();
    return !timedOut;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Times `trips` echoes of one byte after a short warm-up; microseconds each.
std::vector<double> MeasureRoundTrips(TBenchPort& port, int trips) {
    PeerLine line("echo", 0);
    port.Open(line.SlavePath());
    std::vector<double> us;
    us.reserve(static_cast<size_t>(trips));
    QEventLoop loop;
    Clock::time_point sent;
    int seen = 0;
    const char out = 0x5A;
    port.SetOnReceive([&] {
        const Clock::time_point at = Clock::now();
        const std::string in = port.Read();
        if (in.empty()) {
            return;
        }
        if (seen++ >= kWarmUpTrips) {
            us.push_back(std::chrono::duration<double, std::micro>(at - sent).count());
        }
        if (static_cast<int>(us.size()) >= trips) {
            loop.quit();
            return;
        }
        sent = Clock::now();
        port.Write(&out, 1);
    });
    QTimer::singleShot(0, [&] {
        sent = Clock::now();
        port.Write(&out, 1);
    });
    const bool ok = RunLoop(loop);
    port.SetOnReceive(nullptr);
    port.Close();
    if (!ok) {
        throw std::runtime_error("round trip: no echo after " + std::to_string(us.size()) +
                                 " trips");
    }
    return us;
}

double MeasureOut(TBenchPort& port) {
    const long long total = static_cast<long long>(gMiB) << 20;
    PeerLine line("sink", total);
    port.Open(line.SlavePath());
    QEventLoop loop;
    bool acknowledged = false;
    port.SetOnReceive([&] {
        if (port.Read().find('\x55') != std::string::npos) {
            acknowledged = true;
            loop.quit();
        }
    });
    std::vector<char> chunk(1024);
    Clock::time_point start;
    QTimer::singleShot(0, [&] {
        start = Clock::now();
        for (long long sent = 0; sent < total; sent += static_cast<long long>(chunk.size())) {
            for (size_t i = 0; i < chunk.size(); ++i) {
                chunk[i] = static_cast<char>((sent + static_cast<long long>(i)) % 251);
            }
            port.Write(chunk.data(), chunk.size());
        }
    });
    const bool ok = RunLoop(loop);
    const Clock::duration took = Clock::now() - start;
    port.SetOnReceive(nullptr);
    port.Close();
    if (!ok || !acknowledged) {
        throw std::runtime_error("out: the peer did not confirm all bytes");
    }
    return Seconds(took);
}

double MeasureIn(TBenchPort& port) {
    const long long total = static_cast<long long>(gMiB) << 20;
    PeerLine line("source", total);
    port.Open(line.SlavePath());
    QEventLoop loop;
    long long got = 0;
    bool corrupt = false;
    port.SetOnReceive([&] {
        const std::string in = port.Read();
        for (const char c : in) {
            if (static_cast<unsigned char>(c) != static_cast<unsigned char>(got % 251)) {
                corrupt = true;
            }
            ++got;
        }
        if (got >= total || corrupt) {
            loop.quit();
        }
    });
    Clock::time_point start;
    const char go = 1;
    QTimer::singleShot(0, [&] {
        start = Clock::now();
        port.Write(&go, 1);
    });
    const bool ok = RunLoop(loop);
    const Clock::duration took = Clock::now() - start;
    port.SetOnReceive(nullptr);
    port.Close();
    if (!ok || corrupt || got != total) {
        throw std::runtime_error("in: received " + std::to_string(got) + " of " +
                                 std::to_string(total) + (corrupt ? " bytes, out of order" : ""));
    }
    return Seconds(took);
}

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double MeasureIdleCpu(TBenchPort& port) {
    PeerLine line("echo", 0);
    port.Open(line.SlavePath());
    port.SetOnReceive([&] { port.Read(); });
    QEventLoop loop;
    // Let the port's threads settle before counting.
    QTimer::singleShot(200, &loop, &QEventLoop::quit);
    loop.exec();
    const double before = ProcessCpuSeconds();
    QTimer::singleShot(gIdleSeconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = ProcessCpuSeconds() - before;
    port.SetOnReceive(nullptr);
    port.Close();
    return cpu;
}

struct Figures {
    TBenchPort* port = nullptr;
    std::vector<double> tripsUs;
    std::vector<double> out, in;
    std::optional<double> medianUs, p99Us, outS, inS, idle;
    std::string failure;

    bool Usable() const { return port != nullptr && failure.empty(); }
    // Runs one measurement; the first failure ends this port's part.
    template <typename F>
    void Try(F measure) {
        if (!Usable()) {
            return;
        }
        try {
            measure(*port);
        } catch (const std::exception& e) {
            failure = e.what();
        }
    }
};

std::optional<double> Percentile(std::vector<double> v, int pct) {
    if (v.empty()) {
        return std::nullopt;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * static_cast<size_t>(pct) / 100)];
}

void MeasureAll(Figures& ours, Figures& qt) {
    Figures* both[] = {&qt, &ours};
    const int perBlock = std::max(1, gTrips / kTripBlocks);
    for (int b = 0; b < kTripBlocks; ++b) {
        for (Figures* f : both) {
            f->Try([&](TBenchPort& p) {
                const std::vector<double> us = MeasureRoundTrips(p, perBlock);
                f->tripsUs.insert(f->tripsUs.end(), us.begin(), us.end());
            });
        }
    }
    for (int r = 0; r < kTransferRuns; ++r) {
        for (Figures* f : both) {
            f->Try([&](TBenchPort& p) { f->out.push_back(MeasureOut(p)); });
            f->Try([&](TBenchPort& p) { f->in.push_back(MeasureIn(p)); });
        }
    }
    for (Figures* f : both) {
        f->Try([&](TBenchPort& p) { f->idle = MeasureIdleCpu(p); });
        if (f->Usable()) {
            f->medianUs = Percentile(f->tripsUs, 50);
            f->p99Us = Percentile(f->tripsUs, 99);
            f->outS = Percentile(f->out, 50);
            f->inS = Percentile(f->in, 50);
        }
    }
    if (ours.port == nullptr) {
        ours.failure = "not built";
    }
}

std::string Ratio(std::optional<double> ours, std::optional<double> theirs) {
    if (!ours || !theirs || *theirs <= 0) {
        return "n/a";
    }
    char s[32];
    std::snprintf(s, sizeof s, "%.2f", *ours / *theirs);
    return s;
}

template <typename Format>
std::string Cell(std::optional<double> v, Format format) {
    return v ? format(*v) : std::string("n/a");
}

void Line(const char* what, std::optional<double> ours, std::optional<double> theirs,
          const std::function<std::string(double)>& format) {
    std::printf("%-26s ours %-24s QSerialPort %-24s ratio %s\n", what, Cell(ours, format).c_str(),
                Cell(theirs, format).c_str(), Ratio(ours, theirs).c_str());
}

std::string Us(double v) {
    char s[48];
    std::snprintf(s, sizeof s, "%.1f us", v);
    return s;
}

std::string Transfer(double seconds) {
    char s[48];
    std::snprintf(s, sizeof s, "%.0f ms (%.1f MiB/s)", seconds * 1e3, gMiB / seconds);
    return s;
}

std::string Cpu(double seconds) {
    char s[48];
    std::snprintf(s, sizeof s, "%.3f s (%.3f %%)", seconds, seconds * 100.0 / gIdleSeconds);
    return s;
}

void Report(const Figures& ours, const Figures& qt) {
    std::printf(
        "serial_bench: %d round trips, %d MiB each way (median of %d), %d s idle; "
        "ratio = ours / QSerialPort, lower is better\n",
        gTrips, gMiB, kTransferRuns, gIdleSeconds);
    Line("round trip median", ours.medianUs, qt.medianUs, Us);
    Line("round trip 99th pct", ours.p99Us, qt.p99Us, Us);
    Line("out, write thread", ours.outS, qt.outS, Transfer);
    Line("in, OnRxChar", ours.inS, qt.inS, Transfer);
    Line("idle CPU", ours.idle, qt.idle, Cpu);
    if (!ours.failure.empty()) {
        std::printf("ours: %s\n", ours.failure.c_str());
    }
    if (!qt.failure.empty()) {
        std::printf("QSerialPort: %s\n", qt.failure.c_str());
    }
}

int Arg(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            return std::max(1, std::atoi(argv[i + 1]));
        }
    }
    return fallback;
}

}  // namespace
}  // namespace zp::bench

int main(int argc, char** argv) {
    using namespace zp::bench;
    gTrips = Arg(argc, argv, "--trips", gTrips);
    gMiB = Arg(argc, argv, "--mib", gMiB);
    gIdleSeconds = Arg(argc, argv, "--idle", gIdleSeconds);
    QCoreApplication app(argc, argv);
    InstallBenchMainThread();
    std::unique_ptr<TBenchPort> qtPort = MakeQSerialPort();
    std::unique_ptr<TBenchPort> ourPort = MakeOurPort(Arg(argc, argv, "--write-size", 0));
    Figures ours, qt;
    ours.port = ourPort.get();
    qt.port = qtPort.get();
    MeasureAll(ours, qt);
    Report(ours, qt);
    std::fflush(stdout);
    const bool oursFailed = ourPort != nullptr && !ours.failure.empty();
    return oursFailed || !qt.failure.empty() ? 1 : 0;
}
