// camsim: the virtual camera on its own, on a new pseudo-terminal or on a
// serial device, printing one line per exchange so a technician can watch.

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "camera_host.h"

namespace {

using zp::camera::TBytes;
using zp::camera::TCameraHost;
using zp::camera::TExchange;
using zp::camera::TFault;

constexpr const char* kUsage =
    "Usage: camsim [--device PATH] [--link PATH] [--fault MODE] [--delay MS]\n"
    "\n"
    "Plays the 26x Zoom camera on a serial line until interrupted (Ctrl+C).\n"
    "\n"
    "  --device PATH  answer on this serial device (raw, 9600 8N1) instead of a\n"
    "                 new pseudo-terminal\n"
    "  --link PATH    also make PATH a symbolic link to the pseudo-terminal; it\n"
    "                 moves with the terminal after a hang-up\n"
    "  --fault MODE   misbehave on the first exchange: silent, nak,\n"
    "                 malformed-start, malformed-end, wrong-group, wrong-kind,\n"
    "                 ack-instead, stray-bytes, hang-up\n"
    "  --delay MS     wait this long before each answer\n"
    "  --help         show this text\n"
    "\n"
    "After a hang-up the line comes back a second later: a new pseudo-terminal\n"
    "(the link re-pointed to it), or the device opened again.\n";

std::mutex printMutex;

void Say(const std::string& text) {
    std::lock_guard<std::mutex> lock(printMutex);
    std::printf("camsim: %s\n", text.c_str());
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
    Say(line);
}

int Fail(const std::string& text) {
    std::fprintf(stderr, "camsim: %s\n", text.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string device;
    std::string link;
    TFault fault = TFault::None;
    long delayMs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if ((arg == "--device" || arg == "--link" || arg == "--fault" || arg == "--delay") &&
            !hasValue) {
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
        } else if (arg == "--delay") {
            char* end = nullptr;
            delayMs = std::strtol(argv[++i], &end, 10);
            if (*argv[i] == '\0' || *end != '\0' || delayMs < 0 || delayMs > 60000) {
                return Fail("--delay takes milliseconds from 0 to 60000");
            }
        } else {
            return Fail("unknown option '" + arg + "' (see --help)");
        }
    }
    if (!device.empty() && !link.empty()) {
        return Fail("--link goes with a pseudo-terminal, not with --device");
    }

    // The signals are taken in this thread only, with sigtimedwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    TCameraHost host;
    host.SetObserver(PrintExchange);
    host.SetAnswerDelay(std::chrono::milliseconds(delayMs));
    host.SetFault(fault, fault == TFault::None ? 0 : 1);

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

    const timespec tick{0, 200 * 1000 * 1000};
    int lostTicks = 0;
    for (;;) {
        const int sig = sigtimedwait(&stopSignals, nullptr, &tick);
        if (sig == SIGINT || sig == SIGTERM) {
            break;
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
