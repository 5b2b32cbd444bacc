// Open, close, settings and direct reads and writes on pseudo-terminals.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "serial/VaComm.h"
#include "tests/serial/comm_fixture.h"
#include "tests/support/errors.h"

namespace zp {
namespace {

using test::TPtyPair;

const auto ErrorOf = &test::ErrorOf<EVaCommError>;

std::string RunCommand(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) {
        return out;
    }
    char buf[512];
    while (fgets(buf, sizeof buf, p) != nullptr) {
        out += buf;
    }
    pclose(p);
    return out;
}

// Runs a program (found on PATH) with standard input from stdinFd (-1: left
// as it is) and returns all it printed; status gets its wait status, or -1
// when it could not be run.
std::string RunAndRead(std::vector<std::string> args, int stdinFd, int& status) {
    status = -1;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return "";
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (stdinFd >= 0) {
        posix_spawn_file_actions_adddup2(&fa, stdinFd, 0);
    }
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, out[1], 2);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    std::string text;
    char buf[512];
    ssize_t n;
    while (rc == 0 && (n = read(out[0], buf, sizeof buf)) > 0) {
        text.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    int st = 0;
    if (rc == 0 && waitpid(pid, &st, 0) == pid) {
        status = st;
    }
    return text;
}

// stty on a descriptor we hold, for when stty cannot open the device itself
// (a tty held with TIOCEXCL refuses everybody but root).
std::string SttyOfDescriptor(int fd) {
    int status = 0;
    return RunAndRead({"stty", "-a"}, fd, status);
}

// What another program that opens the device the way we do gets: 0, or the
// errno of the open or of the lock.
int OpenFromAnotherProcess(const std::string& path) {
    const pid_t pid = fork();
    if (pid == 0) {
        // Only system calls between fork and _exit: other threads may hold locks.
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            _exit(errno);
        }
        _exit(flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

int OpenDescriptors() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr) {
            ++n;
        }
        closedir(d);
    }
    return n;
}

bool HasWord(const std::string& text, const std::string& word) {
    const std::string padded = " " + text + " ";
    for (const char sep : {' ', ';', '\n'}) {
        for (const char end : {' ', ';', '\n'}) {
            if (padded.find(std::string(1, sep) + word + end) != std::string::npos) {
                return true;
            }
        }
    }
    return false;
}

class PortTest : public test::TCommFixture<TVaComm> {
  protected:
    // The main window's settings.
    void CameraSettings() {
        comm->SetBaudrate(br9600);
        TVaBuffers b;
        b.SetReadSize(1024);
        b.SetWriteSize(1024);
        b.SetReadTimeout(500);
        b.SetWriteTimeout(500);
        comm->SetBuffers(b);
        comm->SetWritePriority(tpNormal);
        comm->SetPortNum(1);
        comm->SetUserBaudrate(9600);
    }
};

TEST_F(PortTest, CameraSettingsReachTheTerminal) {
    CameraSettings();
    comm->Open();
    ASSERT_TRUE(comm->IsOpen());

    termios t{};
    ASSERT_EQ(tcgetattr(comm->Handle(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(cfgetispeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    const std::string stty = geteuid() == 0 ? RunCommand("stty -F " + pty.SlavePath() + " -a 2>&1")
                                            : SttyOfDescriptor(comm->Handle());
    EXPECT_NE(stty.find("speed 9600 baud"), std::string::npos) << stty;
    for (const char* word : {"cs8", "-parenb", "-cstopb", "-crtscts", "-ixon", "-ixoff", "-icanon",
                             "-echo", "-opost", "min", "-isig"}) {
        EXPECT_TRUE(HasWord(stty, word)) << word << " in " << stty;
    }
}

TEST_F(PortTest, AFlowControlCopyWritesTheLineSettingsOnce) {
    comm->Open();
    const uint32_t before = comm->DcbWrites();
    TVaFlowControl f;
    f.SetXonXoffIn(true);
    f.SetXonXoffOut(true);
    f.SetTxContinueOnXoff(true);
    comm->SetFlowControl(f);
    EXPECT_EQ(comm->DcbWrites(), before + 1);
    termios t{};
    ASSERT_EQ(tcgetattr(comm->Handle(), &t), 0);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));

    comm->EventChars().SetXonChar(comm->EventChars().XonChar());  // same value, still written
    EXPECT_EQ(comm->DcbWrites(), before + 2);
    comm->SetParity(paEven);  // allowed while open, applied at once
    EXPECT_EQ(comm->DcbWrites(), before + 3);
}

TEST_F(PortTest, SettingsThatNeedAClosedPortAreRefusedAndKept) {
    comm->Open();
    const int handle = comm->Handle();
    const std::string refused = "Can't perform this operation while port is open";
    const struct {
        const char* what;
        std::function<void()> set;
        std::function<bool()> unchanged;
    } cases[] = {
        {"PortNum", [&] { comm->SetPortNum(5); }, [&] { return comm->PortNum() == 0; }},
        {"DeviceName", [&] { comm->SetDeviceName("COM%d"); },
         [&] { return comm->DeviceName() == pty.SlavePath(); }},
        {"MonitorEvents", [&] { comm->SetMonitorEvents({}); },
         [&] {
             return comm->MonitorEvents() == TVaCommEvents{ceError, ceRxChar, ceTxEmpty};
         }},
        {"DirectWrite", [&] { comm->SetDirectWrite(true); }, [&] { return !comm->DirectWrite(); }},
        {"UpdateDCB", [&] { comm->SetUpdateDCB(false); }, [&] { return comm->UpdateDCB(); }},
        {"Buffers", [&] { comm->SetBuffers(TVaBuffers()); },
         [&] { return comm->Buffers().ReadSize() == 4096; }},
        {"Buffers.ReadSize", [&] { comm->Buffers().SetReadSize(64); },
         [&] { return comm->Buffers().ReadSize() == 4096; }},
        {"Buffers.WriteSize", [&] { comm->Buffers().SetWriteSize(64); },
         [&] { return comm->Buffers().WriteSize() == 2048; }},
        {"Open", [&] { comm->Open(); }, [&] { return comm->IsOpen() && comm->Handle() == handle; }},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(ErrorOf(t.set), refused) << t.what;
        EXPECT_TRUE(t.unchanged()) << t.what;
    }
    EXPECT_TRUE(comm->EventThreadRunning());
    EXPECT_TRUE(comm->WriteThreadRunning());
}

TEST_F(PortTest, AMissingDeviceFailsToOpenAndLeavesTheComponentClosed) {
    const int fds = OpenDescriptors();
    int opened = 0;
    comm->OnOpen = [&](TVaComponent*) { ++opened; };
    const struct {
        std::string name;
        int32_t port;
        std::string shown;
    } cases[] = {
        {"/dev/zp-no-such-tty", 0, "/dev/zp-no-such-tty"},
        {"COM%d", 0, "COM0"},
        {"/dev/null", 0, "/dev/null"},  // exists, but is no terminal
    };
    for (const auto& t : cases) {
        comm->SetDeviceName(t.name);
        comm->SetPortNum(t.port);
        const std::string e = ErrorOf([&] { comm->Open(); });
        EXPECT_EQ(e.rfind("Unable to open specified device " + t.shown + " (", 0), 0u) << e;
        EXPECT_FALSE(comm->IsOpen());
        EXPECT_EQ(comm->Handle(), -1);
        EXPECT_FALSE(comm->EventThreadRunning());
        EXPECT_EQ(LiveCommThreads(), baseline);
    }
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(OpenDescriptors(), fds);
}

TEST_F(PortTest, ASecondOpenOfTheSameDeviceFails) {
    comm->Open();
    TVaComm second;
    second.SetDeviceName(pty.SlavePath());
    const std::string e = ErrorOf([&] { second.Open(); });
    EXPECT_EQ(e.rfind("Unable to open specified device " + pty.SlavePath() + " (", 0), 0u) << e;
    EXPECT_FALSE(second.IsOpen());

    // Another program is kept out too: by TIOCEXCL, or for root by the lock.
    const int other = OpenFromAnotherProcess(pty.SlavePath());
    EXPECT_TRUE(other == EBUSY || other == EWOULDBLOCK) << other;

    comm->Close();  // releases the claim at once
    EXPECT_EQ(OpenFromAnotherProcess(pty.SlavePath()), 0);
    second.Open();
    EXPECT_TRUE(second.IsOpen());
}

TEST_F(PortTest, LineSettingsLinuxCannotExpressFailTheOpen) {
    const int fds = OpenDescriptors();
    const struct {
        const char* what;
        std::function<void()> set;
    } cases[] = {
        {"4 data bits", [&] { comm->SetDatabits(db4); }},
        {"1.5 stop bits", [&] { comm->SetStopbits(sb15); }},
        {"rate 0", [&] { comm->SetBaudrate(brUser); }},
        {"DSR flow", [&] { comm->FlowControl().SetOutDsrFlow(true); }},
        {"RTS toggle on a pseudo-terminal", [&] { comm->FlowControl().SetControlRts(rtsToggle); }},
        {"output held after XOFF", [&] { comm->FlowControl().SetXonXoffIn(true); }},
    };
    for (const auto& t : cases) {
        comm.reset(new TVaComm);
        comm->SetDeviceName(pty.SlavePath());
        t.set();
        EXPECT_EQ(ErrorOf([&] { comm->Open(); }), "Error writing dcb (22), Invalid argument")
            << t.what;
        EXPECT_FALSE(comm->IsOpen()) << t.what;
        EXPECT_FALSE(comm->EventThreadRunning() || comm->WriteThreadRunning()) << t.what;
    }
    EXPECT_EQ(OpenDescriptors(), fds);
    // The claim was released each time.
    comm.reset(new TVaComm);
    comm->SetDeviceName(pty.SlavePath());
    comm->Open();
    // Refused while open too: the port keeps running, the property its value.
    EXPECT_EQ(ErrorOf([&] { comm->SetStopbits(sb15); }),
              "Error writing dcb (22), Invalid argument");
    EXPECT_TRUE(comm->IsOpen());
}

TEST_F(PortTest, ZeroSizedQueuesFailTheOpen) {
    comm->Buffers().SetWriteSize(0);
    EXPECT_EQ(ErrorOf([&] { comm->Open(); }), "Error initializing buffers (22), Invalid argument");
    EXPECT_FALSE(comm->IsOpen());
}

// Runs the open probe with its arguments; its output, or the failure of the
// run.
std::string RunOpenProbe(std::vector<std::string> args) {
    args.insert(args.begin(), ZP_OPEN_PROBE);
    int status = 0;
    std::string text = RunAndRead(std::move(args), -1, status);
    if (status == -1) {
        return "no probe";
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        text += "exit status " + std::to_string(status);
    }
    return text;
}

// What the probe prints for an open that failed with message, or that
// succeeded ("opened"); in either case nothing may be left behind.
std::string ProbeReport(const std::string& mode, const std::string& result) {
    std::string r = "mode: " + mode + "\nresult: " + result + "\nthreads: 0\n";
    if (result == "opened") {
        // Two workers, and what was written reached the line.
        r = "mode: " + mode + "\nresult: opened\nthreads: 2\nsent: ok\nthreads after close: 0\n";
    }
    return r + "descriptors left: 0\n";
}

// Each row leaves one descriptor fewer than an open needs, so each of its
// descriptors in turn is the one that cannot be made.
TEST(OpenUnderLimits, TooFewDescriptorsFailWithTheMessageAndLeaveNothingBehind) {
    const std::string failed = "Error initializing buffers (24), Too many open files";
    const struct {
        const char* missing;
        int spare;
        std::string result;
    } cases[] = {
        {"the device", 0, "Unable to open specified device PORT (24), Too many open files"},
        {"the input wake-up", 1, failed},
        {"the event thread's wake-up", 2, failed},
        {"the write thread's data event", 3, failed},
        {"the write thread's stop event", 4, failed},
        {"nothing", 5, "opened"},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(RunOpenProbe({"fds", std::to_string(t.spare)}), ProbeReport("fds", t.result))
            << "missing " << t.missing;
    }
}

// Memory and threads: the sanitizers reserve more address space than any
// limit here could leave room for.
TEST(OpenUnderLimits, TooLittleMemoryFailsWithTheMessageAndLeavesNothingBehind) {
#if !ZP_ADDRESS_SPACE_LIMITS
    GTEST_SKIP() << "a sanitizer build";
#endif
    const struct {
        const char* missing;
        int spareMb;
        int writeSize;
        std::string result;
    } cases[] = {
        // The event thread has started by then and must be gone again.
        {"the write queue", 64, 256 << 20,
         "Error initializing buffers (12), Cannot allocate memory"},
        {"the event thread's stack", 1, 1024,
         "Error creating thread (11), Resource temporarily unavailable"},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(RunOpenProbe({"memory", std::to_string(t.spareMb), std::to_string(t.writeSize)}),
                  ProbeReport("memory", t.result))
            << "missing " << t.missing;
    }
}

TEST_F(PortTest, WithoutUpdateDcbTheDriverKeepsItsLineSettings) {
    {
        termios t{};
        int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        tcgetattr(fd, &t);
        cfsetspeed(&t, B4800);
        t.c_iflag |= IXON | IXOFF;
        tcsetattr(fd, TCSANOW, &t);
        close(fd);
    }
    comm->SetUpdateDCB(false);
    comm->SetBaudrate(br115200);
    comm->Open();
    comm->SetBaudrate(br57600);
    termios t{};
    ASSERT_EQ(tcgetattr(comm->Handle(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B4800);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);  // raw all the same
}

TEST_F(PortTest, TheEventMaskFollowsMonitorEventsAndTheWriteMode) {
    const struct {
        TVaCommEvents events;
        bool direct;
        uint32_t mask;
    } cases[] = {
        {{ceError, ceRxChar, ceTxEmpty}, false, 0x0081},  // the transmit-empty bit is the writer's
        {{ceError, ceRxChar, ceTxEmpty}, true, 0x0085},
        {{ceTxEmpty}, false, 0},
        {{ceBreak, ceRing, ceRxFlag, ceEvent2}, false, 0x1142},
    };
    for (const auto& t : cases) {
        comm->SetMonitorEvents(t.events);
        comm->SetDirectWrite(t.direct);
        comm->Open();
        EXPECT_EQ(comm->EventMask(), t.mask) << t.events.ToBits() << " direct " << t.direct;
        comm->Close();
    }
}

TEST_F(PortTest, AClosedPortReadsAndWritesNothing) {
    const uint8_t byte = 0x05;
    uint8_t buf[4];
    EXPECT_EQ(comm->TransmitData(&byte, 1), 0);
    EXPECT_FALSE(comm->TransmitByte(byte));
    EXPECT_EQ(comm->ReceiveData(buf, 4), 0);
    EXPECT_EQ(comm->ReceivePending(), "");
    EXPECT_EQ(comm->InputCount(), 0);
    CommStatistics st;
    st.Errors = 7;
    comm->GetStatistics(st);
    EXPECT_EQ(st.Errors + st.Flags + st.InQueue + st.OutQueue, 0u);
}

TEST_F(PortTest, OpenAndCloseFireTheirEventsOnce) {
    int opened = 0, closed = 0;
    comm->OnOpen = [&](TVaComponent* s) {
        EXPECT_EQ(s, comm.get());
        ++opened;
    };
    comm->OnClose = [&](TVaComponent*) { ++closed; };
    comm->Close();
    EXPECT_EQ(closed, 0);
    comm->Open();
    comm->Close();
    comm->Close();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(comm->Handle(), -1);

    comm->Open();
    comm.reset();  // destroying an open port closes it without OnClose
    EXPECT_EQ(closed, 1);
}

TEST_F(PortTest, AnOnOpenExceptionIsShownAndThePortStaysOpen) {
    comm->OnOpen = [](TVaComponent*) { throw std::runtime_error("open handler failed"); };
    comm->Open();
    EXPECT_TRUE(comm->IsOpen());
    EXPECT_EQ(loop.Errors(), std::vector<std::string>{"open handler failed"});
}

TEST_F(PortTest, BytesCrossInBothDirectionsExactly) {
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
    }
    for (const bool direct : {false, true}) {
        TPtyPair p;
        TVaComm c;
        c.SetDeviceName(p.SlavePath());
        c.SetDirectWrite(direct);
        c.SetMonitorEvents({});  // the test reads by itself
        c.Open();
        ASSERT_TRUE(p.WriteAll(all));
        std::string got;
        ASSERT_TRUE(loop.RunUntil([&] {
            got += c.ReceivePending();
            return got.size() >= all.size();
        }));
        EXPECT_EQ(got, all) << "direct " << direct;

        EXPECT_EQ(c.TransmitData(all.data(), static_cast<int32_t>(all.size())), 256);
        EXPECT_TRUE(c.TransmitByte(0x06));
        // The loop runs meanwhile: the write thread reports through it.
        std::vector<uint8_t> out;
        loop.RunUntil([&] {
            const std::vector<uint8_t> part = p.ReadFor(1, 0);
            out.insert(out.end(), part.begin(), part.end());
            return out.size() >= 257;
        });
        ASSERT_EQ(out.size(), 257u) << "direct " << direct;
        EXPECT_EQ(std::string(out.begin(), out.begin() + 256), all);
        EXPECT_EQ(out[256], 0x06);
    }
}

TEST_F(PortTest, NullStripDropsReceivedZeros) {
    comm->SetMonitorEvents({});
    comm->SetOptions({coNullStrip});
    comm->Open();
    ASSERT_TRUE(pty.WriteAll(std::string("a\0b\0\0c", 6)));
    std::string got;
    ASSERT_TRUE(loop.RunUntil([&] {
        got += comm->ReceivePending();
        return got.size() >= 3;
    }));
    EXPECT_EQ(got, "abc");
}

TEST_F(PortTest, AVanishedDeviceRaisesOnReadAndWrite) {
    comm->SetMonitorEvents({});
    comm->SetDirectWrite(true);
    comm->Open();
    pty.CloseMaster();
    uint8_t buf[8];
    EXPECT_EQ(ErrorOf([&] { comm->ReceiveData(buf, 8); }), "Read error (5), Input/output error");
    EXPECT_EQ(comm->ReceivePending(), "");
    const uint8_t b = 1;
    EXPECT_EQ(ErrorOf([&] { comm->TransmitData(&b, 1); }).rfind("Write error (5), ", 0), 0u);
    comm->Close();
    EXPECT_FALSE(comm->IsOpen());
}

TEST_F(PortTest, AutoOpenOpensOnceTheLayoutIsLoaded) {
    comm->BeginLoading();
    comm->SetAutoOpen(true);
    EXPECT_FALSE(comm->IsOpen());
    comm->EndLoading();
    EXPECT_TRUE(comm->IsOpen());

    TVaComm designed;
    designed.SetDesigning(true);
    designed.SetDeviceName(pty.SlavePath());
    designed.SetAutoOpen(true);
    designed.BeginLoading();
    designed.EndLoading();
    EXPECT_FALSE(designed.IsOpen());
}

}  // namespace
}  // namespace zp
