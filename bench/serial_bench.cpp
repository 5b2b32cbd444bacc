// Pseudo-terminal benchmark of our serial component against QSerialPort, both
// driven from one Qt event loop, with serial_peer on the master side:
// round trip, throughput each way, idle CPU. Every figure is printed with
// ours, QSerialPort's and the ratio ours / QSerialPort (lower is better).
//
//   serial_bench [--trips N] [--mib N] [--idle SECONDS]
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
constexpr int kWarmUpTrips = 100;
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

struct RoundTrip {
    double medianUs;
    double p99Us;
};

RoundTrip MeasureRoundTrip(TBenchPort& port) {
    PeerLine line("echo", 0);
    port.Open(line.SlavePath());
    std::vector<double> us;
    us.reserve(static_cast<size_t>(gTrips));
    QEventLoop loop;
    Clock::time_point sent;
    int trips = 0;
    const char out = 0x5A;
    port.SetOnReceive([&] {
        const Clock::time_point at = Clock::now();
        const std::string in = port.Read();
        if (in.empty()) {
            return;
        }
        if (trips++ >= kWarmUpTrips) {
            us.push_back(std::chrono::duration<double, std::micro>(at - sent).count());
        }
        if (static_cast<int>(us.size()) >= gTrips) {
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
    std::sort(us.begin(), us.end());
    const size_t p99 = std::min(us.size() - 1, us.size() * 99 / 100);
    return {us[us.size() / 2], us[p99]};
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
    std::optional<RoundTrip> trip;
    std::optional<double> out, in, idle;
    std::string failure;
};

Figures MeasureAll(TBenchPort* port) {
    Figures f;
    if (port == nullptr) {
        f.failure = "not built";
        return f;
    }
    try {
        f.trip = MeasureRoundTrip(*port);
        f.out = MeasureOut(*port);
        f.in = MeasureIn(*port);
        f.idle = MeasureIdleCpu(*port);
    } catch (const std::exception& e) {
        f.failure = e.what();
    }
    return f;
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
    auto median = [](const Figures& f) {
        return f.trip ? std::optional<double>(f.trip->medianUs) : std::nullopt;
    };
    auto p99 = [](const Figures& f) {
        return f.trip ? std::optional<double>(f.trip->p99Us) : std::nullopt;
    };
    std::printf(
        "serial_bench: %d round trips, %d MiB each way, %d s idle; "
        "ratio = ours / QSerialPort, lower is better\n",
        gTrips, gMiB, gIdleSeconds);
    Line("round trip median", median(ours), median(qt), Us);
    Line("round trip 99th pct", p99(ours), p99(qt), Us);
    Line("out, write thread", ours.out, qt.out, Transfer);
    Line("in, OnRxChar", ours.in, qt.in, Transfer);
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
    std::unique_ptr<TBenchPort> qt = MakeQSerialPort();
    std::unique_ptr<TBenchPort> ours = MakeOurPort();
    const Figures qtFigures = MeasureAll(qt.get());
    const Figures ourFigures = MeasureAll(ours.get());
    Report(ourFigures, qtFigures);
    std::fflush(stdout);
    const bool oursFailed = ours != nullptr && !ourFigures.failure.empty();
    return oursFailed || !qtFigures.failure.empty() ? 1 : 0;
}
