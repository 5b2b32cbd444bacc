// Pseudo-terminal benchmark of our serial component against QSerialPort, both
// driven from one Qt event loop, with serial_peer on the master side:
// round trip, throughput each way, idle CPU. Every figure is printed with
// ours, QSerialPort's and the ratio ours / QSerialPort (lower is better).
// The round trip is also split at the peer (both sides read the same
// monotonic clock): out, from the write call to the peer's read; in, from
// the peer's echo to the receive handler. The last two lines give this machine's
// cost of waking a sleeping thread, the unit that the legs are made of.
//
//   serial_bench [--trips N] [--mib N] [--idle SECONDS] [--write-size BYTES]
//
// --write-size gives our write queue another capacity than its default;
// QSerialPort's write buffer has no limit.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/serial_bench_ports.h"

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

int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Shared memory in which the echoing peer notes when it read the last byte,
// just before it writes the echo (see serial_peer.c).
class PeerStamp {
  public:
    PeerStamp() {
        fd_ = memfd_create("serial_bench_stamp", 0);
        if (fd_ < 0 || ftruncate(fd_, sizeof(int64_t)) != 0) {
            throw std::runtime_error("no shared memory for the peer's stamp");
        }
        void* p = mmap(nullptr, sizeof(int64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        if (p == MAP_FAILED) {
            throw std::runtime_error("no shared memory for the peer's stamp");
        }
        at_ = static_cast<int64_t*>(p);
    }
    ~PeerStamp() {
        munmap(at_, sizeof(int64_t));
        close(fd_);
    }
    PeerStamp(const PeerStamp&) = delete;
    PeerStamp& operator=(const PeerStamp&) = delete;

    int Fd() const { return fd_; }
    int64_t EchoAt() const { return __atomic_load_n(at_, __ATOMIC_ACQUIRE); }

  private:
    int fd_ = -1;
    int64_t* at_ = nullptr;
};

// A pseudo-terminal with serial_peer on its master side. The bench keeps one
// slave descriptor open of its own, so the master never sees a hang-up while
// the port under test is closed between runs. The third argument is the
// count for sink and source, the stamp's descriptor for echo.
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

std::optional<double> Percentile(std::vector<double> v, int pct) {
    if (v.empty()) {
        return std::nullopt;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * static_cast<size_t>(pct) / 100)];
}

// Microseconds per trip: whole, and its two legs split at the peer.
struct Trips {
    std::vector<double> whole, out, in;
};

// Times `trips` echoes of one byte after a short warm-up.
Trips MeasureRoundTrips(TBenchPort& port, int trips) {
    PeerStamp stamp;
    PeerLine line("echo", stamp.Fd());
    port.Open(line.SlavePath());
    Trips t;
    t.whole.reserve(static_cast<size_t>(trips));
    QEventLoop loop;
    int64_t sent = 0;
    int seen = 0;
    const char out = 0x5A;
    const auto us = [](int64_t ns) { return static_cast<double>(ns) / 1e3; };
    port.SetOnReceive([&] {
        const int64_t at = MonotonicNs();
        const std::string in = port.Read();
        if (in.empty()) {
            return;
        }
        if (seen++ >= kWarmUpTrips) {
            t.whole.push_back(us(at - sent));
            t.out.push_back(us(stamp.EchoAt() - sent));
            t.in.push_back(us(at - stamp.EchoAt()));
        }
        if (static_cast<int>(t.whole.size()) >= trips) {
            loop.quit();
            return;
        }
        sent = MonotonicNs();
        port.Write(&out, 1);
    });
    QTimer::singleShot(0, [&] {
        sent = MonotonicNs();
        port.Write(&out, 1);
    });
    const bool ok = RunLoop(loop);
    port.SetOnReceive(nullptr);
    port.Close();
    if (!ok) {
        throw std::runtime_error("round trip: no echo after " + std::to_string(t.whole.size()) +
                                 " trips");
    }
    return t;
}

// One thread wakes another that sleeps in poll() on an eventfd, with pauses
// between, so the sleeper's CPU has gone idle as it has between the hops of
// a round trip. Each thread is held to the CPU given. Median microseconds
// from the write to the sleeper running.
bool PinTo(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

std::optional<double> MeasureThreadWake(int wakes, int wakerCpu, int sleeperCpu) {
    const int fd = eventfd(0, EFD_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    std::atomic<int64_t> woke{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> pinned{true};
    std::thread sleeper([&] {
        pinned.store(PinTo(sleeperCpu));
        while (!stop.load()) {
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, -1);
            const int64_t at = MonotonicNs();
            uint64_t v = 0;
            if (read(fd, &v, sizeof v) == sizeof v) {
                woke.store(at);
            }
        }
    });
    cpu_set_t before;
    pthread_getaffinity_np(pthread_self(), sizeof before, &before);
    const bool wakerPinned = PinTo(wakerCpu);
    std::vector<double> us;
    for (int i = 0; i < wakes; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        woke.store(0);
        const int64_t at = MonotonicNs();
        const uint64_t one = 1;
        if (write(fd, &one, sizeof one) != sizeof one) {
            break;
        }
        while (woke.load() == 0) {
            std::this_thread::yield();
        }
        us.push_back(static_cast<double>(woke.load() - at) / 1e3);
    }
    stop.store(true);
    const uint64_t one = 1;
    (void)!write(fd, &one, sizeof one);
    sleeper.join();
    close(fd);
    pthread_setaffinity_np(pthread_self(), sizeof before, &before);
    if (!wakerPinned || !pinned.load()) {
        return std::nullopt;
    }
    return Percentile(us, 50);
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
    Trips trips;
    std::vector<double> out, in;
    std::optional<double> medianUs, p99Us, outLegUs, inLegUs, outS, inS, idle;
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

struct WakeFigures {
    std::optional<double> sameCpuUs, idleCpuUs;
};

void MeasureAll(Figures& ours, Figures& qt) {
    Figures* both[] = {&qt, &ours};
    const int perBlock = std::max(1, gTrips / kTripBlocks);
    for (int b = 0; b < kTripBlocks; ++b) {
        for (Figures* f : both) {
            f->Try([&](TBenchPort& p) {
                const Trips t = MeasureRoundTrips(p, perBlock);
                const auto add = [](std::vector<double>& to, const std::vector<double>& from) {
                    to.insert(to.end(), from.begin(), from.end());
                };
                add(f->trips.whole, t.whole);
                add(f->trips.out, t.out);
                add(f->trips.in, t.in);
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
            f->medianUs = Percentile(f->trips.whole, 50);
            f->p99Us = Percentile(f->trips.whole, 99);
            f->outLegUs = Percentile(f->trips.out, 50);
            f->inLegUs = Percentile(f->trips.in, 50);
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

void Report(const Figures& ours, const Figures& qt, const WakeFigures& wake) {
    std::printf(
        "serial_bench: %d round trips, %d MiB each way (median of %d), %d s idle; "
        "ratio = ours / QSerialPort, lower is better\n",
        gTrips, gMiB, kTransferRuns, gIdleSeconds);
    Line("round trip median", ours.medianUs, qt.medianUs, Us);
    Line("round trip 99th pct", ours.p99Us, qt.p99Us, Us);
    Line("  out leg, median", ours.outLegUs, qt.outLegUs, Us);
    Line("  in leg, median", ours.inLegUs, qt.inLegUs, Us);
    Line("out, write thread", ours.outS, qt.outS, Transfer);
    Line("in, OnRxChar", ours.inS, qt.inS, Transfer);
    Line("idle CPU", ours.idle, qt.idle, Cpu);
    std::printf("%-26s %s\n", "thread wake, same CPU", Cell(wake.sameCpuUs, Us).c_str());
    std::printf("%-26s %s\n", "thread wake, idle CPU", Cell(wake.idleCpuUs, Us).c_str());
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
    // What one hand-over between threads costs on this machine, without any
    // port: the unit that the legs are made of.
    const WakeFigures wake{MeasureThreadWake(2000, 0, 0), MeasureThreadWake(2000, 0, 1)};
    Report(ours, qt, wake);
    std::fflush(stdout);
    const bool oursFailed = ourPort != nullptr && !ours.failure.empty();
    return oursFailed || !qt.failure.empty() ? 1 : 0;
}
