// zoomctl: the camera from the command line, and a camera's configuration
// backed up, restored and verified.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera_host.h"
#include "cli/cli_session.h"
#include "link/backup.h"
#include "link/func.h"
#include "serial/platform/port_list.h"

namespace {

using namespace zp;

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitCamera = 1;    // the port, the line or the camera failed
constexpr int kExitUsage = 2;     // a mistake in the command or the file: nothing sent
constexpr int kExitMismatch = 3;  // the camera does not hold what was set
constexpr int kExitInterrupted = 130;

constexpr const char* kUsage =
    R"(Usage: zoomctl [--device PATH | --simulate] [OPTIONS] COMMAND [ARGUMENTS]

Talks to the 26x Zoom camera module on a serial line (9600 bit/s, 8N1).

Commands:
  status               open the port, check the link, say what answered
  get [PAGE...]        read pages (all when none is named) and print their
                       settings, one "identifier = value" a line
  set ID=VALUE...      check every assignment, then send them in order and
                       read the pages back to confirm
  backup [FILE]        read every setting and the position memories into a
                       JSON file (standard output without FILE, or "-")
  restore FILE         check the whole file, set the camera to it, read
                       everything back and print any difference
  raw HEX...           send one frame of these payload bytes (bytes 1 to 15;
                       start, end and checksum are added) and print the reply

Options:
  --device DEVICE      the camera's serial line: a device (/dev/ttyUSB0, COM2;
                       COM1 is /dev/ttyS0, the default), or a serial device
                       server: rfc2217://HOST:PORT (telnet with the line
                       settings) or tcp://HOST:PORT (raw bytes). Given more
                       than once, status, backup and restore work on every
                       camera at once and print a line for each; backup then
                       takes a folder and writes one file per camera
  --devices FILE       the same, one device a line (# starts a comment)
  --simulate           talk to a built-in virtual camera instead
  --json               get: print the pages as a backup file would hold them
  --memories FIRST-LAST  backup: the position memories to read (default 1-64,
                       the ones Position Load recalls; "none" for none, 0-100
                       for every number)
  --quiet              no progress on standard error
  --list-ports         print the serial ports found and exit
  --help               show this text and exit
  --version            show the version and exit

Pages: title, lens, agc, alc, blc, colour, aperture, motion, position, other
(or the tab captions C.ID, Len, AGC, ALC, BLC, Col, Ape, Mot, Pos, Oth).
Settings are named page.setting, e.g. colour.white_balance=AUTO,
title.text="GATE 2", blc.area=00003C3C0000; `zoomctl set help` lists them.

Never in a backup or a restore, because they move, reset or write the camera:
other.preset, other.initial, position.load, position.save, the lens motions
and one-push focus, lens.zoom_position and lens.focus_position. Not read back
by the camera, so not in a backup either: lens.af_tracking, position.osd.
position.save_number is backed up but set only by saving memories: a restore
saves the memory it names last.

Exit codes:
  0    done; for set and restore, the camera holds what was asked; with
       several devices: every camera succeeded (otherwise the highest code)
  1    the port could not be opened, or the camera did not answer, or the
       line was lost, or a file could not be written
  2    a mistake in the command line or in the file: nothing was sent
  3    the camera was read back and does not hold everything that was set
  130  interrupted (Ctrl+C) after the exchange on its way
)";

struct TArgs {
    std::vector<std::string> devices;
    bool simulate = false;
    bool json = false;
    bool quiet = false;
    int firstMemory = kFirstMemory;
    int lastMemory = kLastMemory;
    std::string command;
    std::vector<std::string> rest;
};

int Usage(const std::string& what) {
    std::cerr << "zoomctl: " << what << " (see zoomctl --help)\n";
    return kExitUsage;
}

int Failed(const std::string& what, int code = kExitCamera) {
    std::cerr << "zoomctl: " << what << "\n";
    return code;
}

// A run of exchanges that stopped early: interrupted, or the camera's fault.
int RunFailed(const std::string& what) {
    return Failed(what, gInterrupted ? kExitInterrupted : kExitCamera);
}

bool ParseMemories(const std::string& text, TArgs& args) {
    if (text == "none") {
        args.firstMemory = 1;
        args.lastMemory = 0;
        return true;
    }
    const size_t dash = text.find('-');
    try {
        size_t used = 0;
        const int first = std::stoi(text.substr(0, dash), &used);
        if (used != (dash == std::string::npos ? text.size() : dash)) {
            return false;
        }
        int last = first;
        if (dash != std::string::npos) {
            const std::string tail = text.substr(dash + 1);
            last = std::stoi(tail, &used);
            if (used != tail.size()) {
                return false;
            }
        }
        if (first < kMemoryMin || last > kMemoryMax || first > last) {
            return false;
        }
        args.firstMemory = first;
        args.lastMemory = last;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Payload bytes from "31 1B 00 00", "311B0000" or "0x31 0x1b".
bool ParseHex(const std::vector<std::string>& words, std::vector<uint8_t>& bytes,
              std::string& error) {
    std::string text;
    for (std::string w : words) {
        for (size_t at; (at = w.find("0x")) != std::string::npos;) {
            w.erase(at, 2);
        }
        text += w + " ";
    }
    const bool ok = HexToBytes(text, bytes, error);
    if (!ok && error.find("hexadecimal") != std::string::npos) {
        return false;  // a stray character says which
    }
    if (!ok || bytes.empty() || bytes.size() > 15) {
        error = "raw takes 1 to 15 whole bytes in hexadecimal, payload bytes 1 to 15";
        return false;
    }
    return true;
}

// Progress on standard error: a bar on a terminal, otherwise a line a page.
class TProgress {
  public:
    TProgress(const char* verb, bool quiet) : verb_(verb), quiet_(quiet), bar_(isatty(2) == 1) {}
    ~TProgress() {
        if (bar_ && drawn_) {
            std::cerr << "\n";
        }
    }
    void operator()(const TCameraJob& job) {
        if (quiet_) {
            return;
        }
        const size_t done = job.Done();
        const TJobStep& step = job.Steps()[done - 1];
        if (bar_) {
            constexpr size_t kWidth = 30;
            const size_t filled = kWidth * done / job.Total();
            std::cerr << "\r" << verb_ << " [" << std::string(filled, '#')
                      << std::string(kWidth - filled, ' ') << "] " << done << "/" << job.Total()
                      << " " << step.What << "\033[K" << std::flush;
            drawn_ = true;
            return;
        }
        // A line when a page's (or a memory's) exchanges are through.
        const bool last = done == job.Total() || job.Steps()[done].Page != step.Page ||
                          job.Steps()[done].Memory != step.Memory || step.Page == nullptr;
        if (last) {
            const std::string what = step.Memory >= 0 ? "memory " + std::to_string(step.Memory)
                                     : step.Page != nullptr ? std::string(step.Page->Caption)
                                                            : step.What;
            std::cerr << verb_ << ": " << what << " (" << done << " of " << job.Total() << ")\n";
        }
    }

  private:
    const char* verb_;
    bool quiet_;
    bool bar_;
    bool drawn_ = false;
};

// A job with its progress shown; a bar's line is ended before the caller
// prints anything.
bool RunShown(TCliSession& session, const char* verb, bool quiet,
              const std::vector<TJobStep>& steps, std::vector<TReplyBytes>& replies,
              std::string& error) {
    TProgress progress(verb, quiet);
    return session.Run(steps, replies, error, std::ref(progress));
}

bool ReadFile(const std::string& path, std::string& text, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
}

bool WriteOut(const std::string& path, const std::string& text, std::string& error) {
    if (path.empty() || path == "-") {
        std::cout << text << std::flush;
        if (!std::cout) {
            error = std::string("cannot write to standard output: ") + std::strerror(errno);
            return false;
        }
        return true;
    }
    // Written beside the file under a name of its own and moved over it, so
    // a failed backup never leaves half a file where a good one was.
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    const auto fail = [&](const std::string& what) {
        error = "cannot write " + path + ": " + what;
        if (fd >= 0) {
            std::remove(temp.c_str());
        }
        return false;
    };
    if (fd < 0) {
        return fail(std::strerror(errno));
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int e = errno;
            ::close(fd);
            return fail(std::strerror(e));
        }
        done += static_cast<size_t>(n);
    }
    if (::fchmod(fd, 0644) != 0 || ::fsync(fd) != 0 || ::close(fd) != 0 ||
        std::rename(temp.c_str(), path.c_str()) != 0) {
        return fail(std::strerror(errno));
    }
    return true;
}

// One assignment checked: the steps that carry it.
bool Assignment(const std::string& text, std::vector<TJobStep>& steps,
                std::vector<std::pair<const TSetting*, TValue>>& done, std::string& error) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos) {
        error = "\"" + text + "\" is not ID=VALUE";
        return false;
    }
    const std::string id = text.substr(0, eq);
    const TSetting* s = LookupSetting(id, error);
    if (s == nullptr) {
        return false;
    }
    TValue v;
    if (!ParseValue(*s, text.substr(eq + 1), v, error)) {
        return false;
    }
    const int parts = s->Kind == TSettingKind::Text ? kTitleParts : 1;
    for (int p = 0; p < parts; ++p) {
        if (s->Kind == TSettingKind::Text) {
            v.Number = p;
        }
        TJobStep step;
        step.Payload = EncodeSet(*s, v);
        if (step.Payload.empty()) {
            error = id + " has no command of its own";
            return false;
        }
        step.What =
            id + " := " + ValueText(*s, v) + (parts > 1 ? " (part " + std::to_string(p) + ")" : "");
        steps.push_back(std::move(step));
    }
    done.emplace_back(s, std::move(v));
    return true;
}

std::string SettingList() {
    std::string out;
    for (const TSetting& s : CatalogueSettings()) {
        if (s.Item < 0) {
            continue;
        }
        std::string values;
        switch (s.Kind) {
            case TSettingKind::Choice:
            case TSettingKind::Switch:
                for (size_t i = static_cast<size_t>(std::max(s.Min, 0)); i < s.Items.size(); ++i) {
                    values += (values.empty() ? "" : "|") + std::string(s.Items[i]);
                }
                if (s.Kind == TSettingKind::Choice && s.Items.empty()) {
                    values = std::to_string(s.Min) + "..." + std::to_string(s.Max);
                }
                break;
            case TSettingKind::Number:
            case TSettingKind::Step:
                values = std::to_string(s.Min) + "..." + std::to_string(s.Max);
                break;
            case TSettingKind::Area:
                values = "12 hex digits, a byte per row";
                break;
            case TSettingKind::Text:
                values = "up to 20 characters";
                break;
            case TSettingKind::Command:
                values = "(no value)";
                break;
            case TSettingKind::Record:
                values = "NUMBER RECORD (12 hex digits)";
                break;
        }
        out += "  " + std::string(s.Id) + "=" + values + (s.Action ? "   [action]" : "") + "\n";
    }
    return out;
}

int Status(TCliSession& session) {
    std::cout << session.DeviceText() << ": " << session.LinkText() << "\n";
    return kExitOk;
}

int Get(TCliSession& session, const TArgs& args) {
    std::vector<const TPageDef*> pages;
    for (const std::string& name : args.rest) {
        pages.push_back(FindPage(name));
    }
    const std::vector<TJobStep> steps = ReadSteps(pages, 1, 0);
    std::vector<TReplyBytes> replies;
    std::string error;
    if (!RunShown(session, "get", args.quiet || !args.json, steps, replies, error)) {
        return RunFailed(error);
    }
    TCameraConfig config = ConfigFromReplies(steps, replies);
    if (args.json) {
        config.Time = UtcNow();
        config.Device = session.DeviceText();
        std::cout << ConfigToJson(config);
        return kExitOk;
    }
    // Every setting a reply carries, actions and all: get only reads.
    for (const TPageConfig& page : config.Pages) {
        for (const auto& [s, v] : page.Values) {
            if (s->Kind == TSettingKind::Text) {
                std::cout << s->Id << " = " << ValueInFile(*s, v) << "\n";
            }
        }
        for (const TReplyBytes& r : page.Replies) {
            for (const TDecoded& d : DecodeReply(r.data(), r.size())) {
                if (d.Setting->Kind != TSettingKind::Text) {
                    std::cout << d.Setting->Id << " = " << ValueText(*d.Setting, d.Value) << "\n";
                }
            }
        }
    }
    return kExitOk;
}

int Set(TCliSession& session, const TArgs& args,
        const std::vector<std::pair<const TSetting*, TValue>>& assigned,
        const std::vector<TJobStep>& sets) {
    std::vector<TReplyBytes> replies;
    std::string error;
    if (!RunShown(session, "set", args.quiet, sets, replies, error)) {
        return RunFailed(error);
    }
    // The pages read back, in the order first set.
    std::vector<const TPageDef*> pages;
    for (const auto& [s, v] : assigned) {
        const TPageDef* page = PageOfGroup(s->Group);
        if (s->ReplyByte >= 0 && std::find(pages.begin(), pages.end(), page) == pages.end()) {
            pages.push_back(page);
        }
    }
    if (pages.empty()) {
        return kExitOk;
    }
    const std::vector<TJobStep> reads = ReadSteps(pages, 1, 0);
    if (!RunShown(session, "set", args.quiet, reads, replies, error)) {
        return RunFailed(error);
    }
    // What a restore of the same values would expect, reply byte for reply
    // byte; what no command of a page sets is compared as decoded.
    const TCameraConfig now = ConfigFromReplies(reads, replies);
    TCameraConfig wanted;
    for (const auto& [s, v] : assigned) {
        if (!Restorable(*s)) {
            continue;
        }
        const TPageDef* page = PageOfGroup(s->Group);
        if (wanted.Pages.empty() || wanted.Pages.back().Page != page) {
            wanted.Pages.push_back({page, {}, {}});
        }
        wanted.Pages.back().Values.emplace_back(s, v);
    }
    const std::vector<std::string> differences = Differences(wanted, now);
    int rc = kExitOk;
    for (const auto& [s, v] : assigned) {
        const std::string id(s->Id);
        const auto differs =
            std::find_if(differences.begin(), differences.end(),
                         [&](const std::string& d) { return d.rfind(id + ":", 0) == 0; });
        if (differs != differences.end()) {
            std::cout << *differs << "\n";
            rc = kExitMismatch;
        } else if (Restorable(*s)) {
            std::cout << id << " = " << ValueText(*s, v) << "\n";
        } else {
            std::cout << id << " = " << ValueText(*s, v) << " (sent; not read back)\n";
        }
    }
    return rc;
}

int Backup(TCliSession& session, const TArgs& args) {
    const std::vector<TJobStep> steps = ReadSteps({}, args.firstMemory, args.lastMemory);
    std::vector<TReplyBytes> replies;
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    if (!RunShown(session, "backup", args.quiet, steps, replies, error)) {
        return RunFailed(error + "; nothing was written");
    }
    TCameraConfig config = ConfigFromReplies(steps, replies);
    config.Time = UtcNow();
    config.Device = session.DeviceText();
    const std::string file = args.rest.empty() ? "-" : args.rest[0];
    if (!WriteOut(file, ConfigToJson(config), error)) {
        return Failed(error);
    }
    if (!args.quiet) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::fprintf(stderr, "backup: %zu exchanges in %.1f s, %zu memories\n", steps.size(),
                     seconds, config.Memories.size());
    }
    return kExitOk;
}

int Restore(TCliSession& session, const TArgs& args, const TCameraConfig& config) {
    const std::string& file = args.rest[0];
    const std::vector<TJobStep> sets = RestoreSteps(config);
    if (sets.empty()) {
        return Failed(file + " holds no settings to set; nothing was sent", kExitUsage);
    }
    std::vector<TReplyBytes> replies;
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    if (!RunShown(session, "restore", args.quiet, sets, replies, error)) {
        return RunFailed(error + "; the camera holds part of " + file);
    }
    const std::vector<TJobStep> reads = ReadStepsFor(config);
    if (!RunShown(session, "verify", args.quiet, reads, replies, error)) {
        return RunFailed(error + " while reading back");
    }
    const std::vector<std::string> differences =
        Differences(config, ConfigFromReplies(reads, replies));
    if (!args.quiet) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::fprintf(stderr, "restore: %zu commands and %zu reads in %.1f s\n", sets.size(),
                     reads.size(), seconds);
    }
    for (const std::string& d : differences) {
        std::cout << d << "\n";
    }
    if (!differences.empty()) {
        return Failed(std::to_string(differences.size()) + " setting(s) differ from " + file,
                      kExitMismatch);
    }
    if (!args.quiet) {
        std::cerr << "restore: the camera holds every setting of " << file << "\n";
    }
    return kExitOk;
}

int Raw(TCliSession& session, const std::vector<uint8_t>& payload) {
    TJobStep step;
    step.Payload = payload;
    step.AnyGroup = true;
    step.What = "raw frame";
    std::vector<TReplyBytes> replies;
    std::string error;
    if (!session.Run({step}, replies, error)) {
        return RunFailed(error);
    }
    TCommandFrame frame{};
    std::copy(payload.begin(), payload.end(), frame.begin() + 1);
    CompleteFrame(frame, static_cast<int32_t>(payload.size()));
    std::cout << "sent  " << BytesToHex(frame.data(), frame.size(), " ") << "  "
              << DescribeCommand(frame.data(), frame.size()) << "\n";
    const TReplyBytes& r = replies[0];
    std::cout << "reply " << BytesToHex(r.data(), r.size(), " ") << "  "
              << DescribeReply(r.data(), r.size()) << "\n";
    return kExitOk;
}

extern "C" void OnInterrupt(int) {
    gInterrupted = true;
}

bool AllowsSite(const std::string& command) {
    return command == "status" || command == "backup" || command == "restore";
}

// One device a line; blank lines and "#" comments are skipped.
bool ReadDeviceList(const std::string& path, std::vector<std::string>& devices,
                    std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    for (std::string line; std::getline(in, line);) {
        line = line.substr(0, line.find('#'));
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos) {
            continue;
        }
        devices.push_back(line.substr(first, line.find_last_not_of(" \t\r") - first + 1));
    }
    if (devices.empty()) {
        error = path + " names no device";
        return false;
    }
    return true;
}

// A file name for a camera's backup in a folder: the device with its
// separators made plain ("rfc2217___host_2000.json").
std::string BackupName(const std::string& device) {
    std::string name;
    for (char ch : device) {
        name +=
            std::isalnum(static_cast<unsigned char>(ch)) != 0 || ch == '-' || ch == '.' ? ch : '_';
    }
    return name + ".json";
}

// Several cameras at once: one zoomctl process each, so no camera's pauses
// hold up another's; a line of result per camera, in the order given.
int Site(const char* self, const TArgs& args) {
    struct TChild {
        std::string device;
        pid_t pid = -1;
        std::string log;
        int code = kExitCamera;
        std::string failure;  // why it has no result of its own
    };
    // Ctrl+C and a termination go to every camera's process; each stops
    // after the exchange on its way, and the results are still told.
    struct sigaction forward {};
    forward.sa_handler = OnInterrupt;
    sigemptyset(&forward.sa_mask);
    sigaction(SIGINT, &forward, nullptr);
    sigaction(SIGTERM, &forward, nullptr);
    std::string folder;
    if (args.command == "backup") {
        folder = args.rest.empty() ? "." : args.rest[0];
        if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
            return Failed("cannot make the folder " + folder + ": " + std::strerror(errno));
        }
    }
    std::vector<TChild> children;
    char dir[] = "/tmp/zoomctl-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        return Failed(std::string("cannot make a temporary folder: ") + std::strerror(errno));
    }
    const auto started = std::chrono::steady_clock::now();
    for (const std::string& device : args.devices) {
        TChild child;
        child.device = device;
        child.log = std::string(dir) + "/" + std::to_string(children.size()) + ".log";
        std::vector<std::string> argv = {self, "--device", device, "--quiet"};
        if (args.command == "backup") {
            argv.push_back("--memories");
            argv.push_back(std::to_string(args.firstMemory) + "-" +
                           std::to_string(args.lastMemory));
            argv.push_back(args.command);
            argv.push_back(folder + "/" + BackupName(device));
        } else {
            argv.push_back(args.command);
            argv.insert(argv.end(), args.rest.begin(), args.rest.end());
        }
        std::vector<char*> cargv;
        for (std::string& a : argv) {
            cargv.push_back(a.data());
        }
        cargv.push_back(nullptr);
        child.pid = ::fork();
        if (child.pid < 0) {
            child.failure = std::string("cannot start: ") + std::strerror(errno);
        } else if (child.pid == 0) {
            const int fd =
                ::open(child.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (fd >= 0) {
                ::dup2(fd, 1);
                ::dup2(fd, 2);
            }
            ::execv("/proc/self/exe", cargv.data());
            ::_exit(127);
        }
        children.push_back(std::move(child));
    }
    int worst = kExitOk;
    bool forwarded = false;
    for (TChild& child : children) {
        int status = 0;
        while (child.pid > 0) {
            if (gInterrupted && !forwarded) {
                forwarded = true;
                for (const TChild& other : children) {
                    if (other.pid > 0) {
                        ::kill(other.pid, SIGINT);
                    }
                }
            }
            const pid_t r = ::waitpid(child.pid, &status, 0);
            if (r == child.pid) {
                if (WIFEXITED(status)) {
                    child.code = WEXITSTATUS(status);
                } else if (WIFSIGNALED(status)) {
                    child.failure = "ended by signal " + std::to_string(WTERMSIG(status));
                }
                break;
            }
            if (r < 0 && errno != EINTR) {
                child.failure = std::string("lost: ") + std::strerror(errno);
                break;
            }
        }
        worst = std::max(worst, child.code);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    for (const TChild& child : children) {
        std::string text;
        std::string unread;
        ReadFile(child.log, text, unread);
        std::remove(child.log.c_str());
        // The child's last line says what became of it.
        while (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        std::string last =
            text.substr(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
        if (last.rfind("zoomctl: ", 0) == 0) {
            last = last.substr(9);
        }
        if (!child.failure.empty()) {
            last = child.failure;
        }
        if (last.rfind(child.device + ": ", 0) == 0) {
            last = last.substr(child.device.size() + 2);
        }
        const std::string done = args.command == "backup"
                                     ? "written to " + folder + "/" + BackupName(child.device)
                                 : args.command == "restore" ? "holds " + args.rest[0]
                                                             : last;
        std::cout << child.device << ": "
                  << (child.code == kExitOk
                          ? "ok, " + done
                          : "failed (exit " + std::to_string(child.code) + "): " + last)
                  << "\n";
    }
    ::rmdir(dir);
    if (!args.quiet) {
        std::fprintf(stderr, "%s: %zu cameras in %.1f s\n", args.command.c_str(), children.size(),
                     seconds);
    }
    return worst;
}

}  // namespace

int main(int argc, char** argv) {
    TArgs args;
    std::string error;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool value = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return kExitOk;
        }
        if (a == "--version") {
            std::cout << "zoomctl " << ZOOMPANEL_VERSION << "\n";
            return kExitOk;
        }
        if (a == "--list-ports") {
            std::cout << PortListText(ListPorts());
            return kExitOk;
        }
        if (a == "--devices") {
            if (!value || !ReadDeviceList(argv[++i], args.devices, error)) {
                return Usage(value ? error : "--devices needs a file");
            }
        } else if (a == "--device" || a == "--memories") {
            if (!value) {
                return Usage(a + " needs a value");
            }
            if (a == "--device") {
                args.devices.emplace_back(argv[++i]);
            } else if (!ParseMemories(argv[++i], args)) {
                return Usage("--memories takes FIRST-LAST within 0-100, a number, or none");
            }
        } else if (a == "--simulate") {
            args.simulate = true;
        } else if (a == "--json") {
            args.json = true;
        } else if (a == "--quiet" || a == "-q") {
            args.quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage("unknown option " + a);
        } else if (args.command.empty()) {
            args.command = a;
        } else {
            args.rest.push_back(a);
        }
    }
    if (args.simulate && !args.devices.empty()) {
        return Usage("--device and --simulate exclude each other");
    }
    const bool site = args.devices.size() > 1;
    for (size_t i = 0; i < args.devices.size(); ++i) {
        if (std::find(args.devices.begin(), args.devices.begin() + static_cast<std::ptrdiff_t>(i),
                      args.devices[i]) != args.devices.begin() + static_cast<std::ptrdiff_t>(i)) {
            return Usage("the device " + args.devices[i] + " is named twice");
        }
    }
    if (site && AllowsSite(args.command) == false) {
        return Usage("several devices go with status, backup and restore only");
    }

    // Everything is checked before the port is opened: a mistake sends nothing.
    std::vector<TJobStep> sets;
    std::vector<std::pair<const TSetting*, TValue>> assigned;
    std::vector<uint8_t> payload;
    TCameraConfig config;
    const std::string& c = args.command;
    if (c.empty()) {
        return Usage("no command given");
    } else if (c == "status" || c == "backup") {
        if (args.rest.size() > (c == "backup" ? 1u : 0u)) {
            return Usage(c + " takes " + (c == "backup" ? "at most a file" : "no arguments"));
        }
    } else if (c == "get") {
        for (const std::string& name : args.rest) {
            if (FindPage(name) == nullptr) {
                return Usage("no page \"" + name +
                             "\"; pages: title, lens, agc, alc, blc, colour, aperture, motion, "
                             "position, other");
            }
        }
    } else if (c == "set") {
        if (args.rest.size() == 1 && args.rest[0] == "help") {
            std::cout << "Settings (ID=VALUES):\n" << SettingList();
            return kExitOk;
        }
        if (args.rest.empty()) {
            return Usage("set needs ID=VALUE assignments; `zoomctl set help` lists them");
        }
        std::vector<std::string> faults;
        for (const std::string& a : args.rest) {
            if (!Assignment(a, sets, assigned, error)) {
                faults.push_back(error);
            }
        }
        if (!faults.empty()) {
            for (const std::string& f : faults) {
                std::cerr << "zoomctl: " << f << "\n";
            }
            std::cerr << "zoomctl: nothing was sent\n";
            return kExitUsage;
        }
    } else if (c == "restore") {
        if (args.rest.size() != 1) {
            return Usage("restore takes one file");
        }
        std::string text;
        if (!ReadFile(args.rest[0], text, error)) {
            return Failed(error, kExitUsage);
        }
        if (!ConfigFromJson(text, config, error)) {
            std::cerr << "zoomctl: " << args.rest[0] << " cannot be restored:\n" << error << "\n";
            std::cerr << "zoomctl: nothing was sent\n";
            return kExitUsage;
        }
    } else if (c == "raw") {
        if (!ParseHex(args.rest, payload, error)) {
            return Usage(error);
        }
    } else {
        return Usage("unknown command \"" + c + "\"");
    }

    if (site) {
        return Site(argv[0], args);
    }
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    camera::TCameraHost simulated;
    std::string device = args.devices.empty() ? "COM1" : args.devices[0];
    if (args.simulate) {
        const camera::TStartResult started = simulated.Start();
        if (!started) {
            return Failed("the virtual camera did not start: " + started.error);
        }
        device = started.path;
    }
    TCliSession session([](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
    if (!session.Connect(device, error)) {
        // The port's own messages name the device already.
        return RunFailed(error.find(device) == std::string::npos ? device + ": " + error : error);
    }
    if (c == "status") {
        return Status(session);
    }
    if (c == "get") {
        return Get(session, args);
    }
    if (c == "set") {
        return Set(session, args, assigned, sets);
    }
    if (c == "backup") {
        return Backup(session, args);
    }
    if (c == "restore") {
        return Restore(session, args, config);
    }
    return Raw(session, payload);
}
