// camsim: the virtual camera on its own, on a new pseudo-terminal or on a
// serial device, printing one line per exchange so a technician can watch.

#include <signal.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "camera/camera_host.h"

namespace {

using zp::camera::TBytes;
using zp::camera::TCameraHost;
using zp::camera::TExchange;
using zp::camera::TFault;

constexpr const char* kUsage =
    "Usage: camsim [--device PATH] [--link PATH] [--fault MODE [--fault-on BYTES]]\n"
    "              [--chaos N] [--seed N] [--pull-every SECONDS] [--delay MS]\n"
    "              [--line-speed] [--interlocks]\n"
    "\n"
    "Plays the 26x Zoom camera on a serial line until interrupted (Ctrl+C).\n"
    "\n"
    "  --device PATH  answer on this serial device (raw, 9600 8N1) instead of a\n"
    "                 new pseudo-terminal\n"
    "  --link PATH    also make PATH a symbolic link to the pseudo-terminal; it\n"
    "                 moves with the terminal after a hang-up\n"
    "  --fault MODE   misbehave on the first exchange: silent, nak,\n"
    "                 malformed-start, malformed-end, wrong-group, wrong-kind,\n"
    "                 ack-instead, stray-bytes, hang-up, split (the answer in two\n"
    "                 parts, 60 ms apart), malformed-short (half a frame)\n"
    "  --fault-on BYTES  keep the fault for the first frame that begins with these\n"
    "                 bytes, in hexadecimal (\"02 21 21 01\": a zoom tele start)\n"
    "  --chaos N      misbehave on a random one exchange in N: silent, nak,\n"
    "                 malformed-start, malformed-end, stray-bytes, wrong-group, split\n"
    "  --seed N       seed for --chaos (default 1), so a run can be repeated\n"
    "  --pull-every SECONDS  hang up the line this often, as a pulled cable\n"
    "  --delay MS     wait this long before each answer\n"
    "  --line-speed   send each answer as a 9600 bit/s line does, a byte every\n"
    "                 1.04 ms, rather than all at once\n"
    "  --interlocks   take a level only while its mode uses it (an ALC fixed level\n"
    "                 only in FIX, a phase level only with the phase on, ...)\n"
    "  --help         show this text\n"
    "\n"
    "SIGUSR1 hangs up the line at once. After a hang-up the line comes back a\n"
    "second later: a new pseudo-terminal (the link re-pointed to it), or the\n"
    "device opened again.\n"
    "\n"
    "Each output line begins with the monotonic clock in seconds (CLOCK_MONOTONIC);\n"
    "an exchange's time is that of its first byte.\n";

std::mutex printMutex;

using TClock = std::chrono::steady_clock;

// The monotonic time goes first, so a script can line the log up with its own
// clock and pair frames by time.
void Say(const std::string& text, TClock::time_point at = TClock::now()) {
    const double seconds = std::chrono::duration<double>(at.time_since_epoch()).count();
    std::lock_guard<std::mutex> lock(printMutex);
    std::printf("camsim: %.6f %s\n", seconds, text.c_str());
    std::fflush(stdout);
}

std::string HexText(const TBytes& bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        char part[4];
        std::snprintf(part, sizeof part, "%s%02X", text.empty() ? "" : " ", b);
        text += part;
    }
    return text.empty() ? "-" : text;
}

void PrintExchange(const TExchange& ex) {
    std::string line = ex.note + ": in " + HexText(ex.in) + " -> out " + HexText(ex.out);
    if (ex.fault != TFault::None) {
        line += std::string(" [fault ") + zp::camera::FaultName(ex.fault) + "]";
    }
    Say(line, ex.at);
}

int Fail(const std::string& text) {
    std::fprintf(stderr, "camsim: %s\n", text.c_str());
    return 1;
}

// A whole number in [low, high], or false.
bool ParseNumber(const char* text, long low, long high, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return *text != '\0' && *end == '\0' && errno == 0 && value >= low && value <= high;
}

// "02 21 21 01" or "02212101": bytes in hexadecimal; false on anything else.
bool ParseHexBytes(const std::string& text, TBytes& bytes) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ':') {
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
        digits += c;
    }
    if (digits.empty() || digits.size() % 2 != 0) {
        return false;
    }
    bytes.clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string device;
    std::string link;
    TFault fault = TFault::None;
    TBytes faultOn;
    long delayMs = 0;
    long chaos = 0;
    long seed = 1;
    long pullEvery = 0;
    bool lineSpeed = false;
    bool interlocks = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        const bool takesValue = arg == "--device" || arg == "--link" || arg == "--fault" ||
                                arg == "--fault-on" || arg == "--delay" || arg == "--chaos" ||
                                arg == "--seed" || arg == "--pull-every";
        if (takesValue && !hasValue) {
            return Fail(arg + " needs a value (see --help)");
        }
        if (arg == "--device") {
            device = argv[++i];
        } else if (arg == "--link") {
            link = argv[++i];
        } else if (arg == "--fault") {
            const auto parsed = zp::camera::ParseFault(argv[++i]);
            if (!parsed) {
                return Fail(std::string("unknown fault mode '") + argv[i] + "' (see --help)");
            }
            fault = *parsed;
        } else if (arg == "--fault-on") {
            if (!ParseHexBytes(argv[++i], faultOn) || faultOn.size() > zp::camera::kFrameSize) {
                return Fail("--fault-on takes up to 18 bytes in hexadecimal, e.g. \"02 21 21 01\"");
            }
        } else if (arg == "--delay") {
            if (!ParseNumber(argv[++i], 0, 60000, delayMs)) {
                return Fail("--delay takes milliseconds from 0 to 60000");
            }
        } else if (arg == "--chaos") {
            if (!ParseNumber(argv[++i], 1, 1000000, chaos)) {
                return Fail("--chaos takes a number from 1 to 1000000");
            }
        } else if (arg == "--seed") {
            if (!ParseNumber(argv[++i], 0, 4294967295L, seed)) {
                return Fail("--seed takes a number from 0 to 4294967295");
            }
        } else if (arg == "--line-speed") {
            lineSpeed = true;
        } else if (arg == "--interlocks") {
            interlocks = true;
        } else if (arg == "--pull-every") {
            if (!ParseNumber(argv[++i], 2, 86400, pullEvery)) {
                return Fail("--pull-every takes seconds from 2 to 86400");
            }
        } else {
            return Fail("unknown option '" + arg + "' (see --help)");
        }
    }
    if (!faultOn.empty() && fault == TFault::None) {
        return Fail("--fault-on goes with --fault");
    }
    if (!device.empty() && !link.empty()) {
        return Fail("--link goes with a pseudo-terminal, not with --device");
    }

    // The signals are taken in this thread only, with sigtimedwait.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    TCameraHost host;
    host.SetObserver(PrintExchange);
    host.SetAnswerDelay(std::chrono::milliseconds(delayMs));
    host.SetLineRate(lineSpeed ? 9600 : 0);
    host.SetInterlocks(interlocks);
    host.SetFaultTrigger(faultOn);
    host.SetFault(fault, fault == TFault::None ? 0 : 1);
    host.SetChaos(static_cast<int>(chaos), static_cast<uint32_t>(seed));

    auto start = [&] {
        auto started = device.empty() ? host.Replug(link) : host.StartOnDevice(device);
        if (started) {
            Say(device.empty() ? "connect to " + started.path : "answering on " + started.path);
            if (!link.empty()) {
                Say("link " + link + " -> " + started.path);
            }
        }
        return started;
    };
    auto started = start();
    if (!started) {
        return Fail(started.error);
    }

    const auto pullPeriod = std::chrono::seconds(pullEvery);
    auto nextPull = TClock::now() + pullPeriod;
    auto pull = [&](const char* why) {
        if (host.HungUp()) {
            Say(std::string(why) + ": the line is already down");
            return;
        }
        host.HangUp();
        Say(std::string("cable pulled (") + why + ")");
    };

    const timespec tick{0, 200 * 1000 * 1000};
    int lostTicks = 0;
    for (;;) {
        const int sig = sigtimedwait(&signals, nullptr, &tick);
        if (sig == SIGINT || sig == SIGTERM) {
            break;
        }
        if (sig == SIGUSR1) {
            pull("SIGUSR1");
        } else if (pullEvery > 0 && TClock::now() >= nextPull) {
            nextPull += pullPeriod;
            pull("--pull-every");
        }
        if (!host.HungUp()) {
            continue;
        }
        if (lostTicks == 0) {
            Say("line hung up; back in a second");
        }
        if (++lostTicks < 5) {
            continue;
        }
        lostTicks = 0;
        started = start();
        if (!started) {
            Say(started.error + "; trying again");
        }
    }
    host.Stop();
    Say("stopped");
    return 0;
}
