#include "camera/camera_host.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zp::camera {

namespace {

// A frame takes about 19 ms at 9600 bit/s; a gap this long inside one means
// the rest is not coming.
constexpr int kInterByteGapMs = 500;
// How often to look for a panel while none has the terminal open: the
// master reports a hang-up until one does, so it cannot simply be waited on.
constexpr int kNoPanelPollMs = 20;
// The pause inside a split answer: long enough for the panel to read the
// first part on its own, well short of its reply time-out.
constexpr int kSplitPauseMs = 60;

std::string Why(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

bool MakeRaw(int fd, bool setSpeed) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        return false;
    }
    ::cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (setSpeed && (::cfsetispeed(&t, B9600) != 0 || ::cfsetospeed(&t, B9600) != 0)) {
        return false;
    }
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

// Opens a pseudo-terminal, master non-blocking, both ends raw. The slave is
// opened only to set it up: the master then shows when no panel has the line
// open, and a frame a leaving panel left half-sent is dropped at once.
TStartResult OpenPty(int& master) {
    int slave = -1;
    TStartResult result;
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        result.error = Why("cannot open a pseudo-terminal (posix_openpt)");
        return result;
    }
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        result.error = Why("cannot prepare the pseudo-terminal");
        CloseFd(master);
        return result;
    }
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        result.error = Why(std::string("cannot open ") + name);
        CloseFd(master);
        return result;
    }
    const int flags = ::fcntl(master, F_GETFL);
    if (!MakeRaw(slave, true) || !MakeRaw(master, false) || flags < 0 ||
        ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
        result.error = Why(std::string("cannot set raw mode on ") + name);
        CloseFd(slave);
        CloseFd(master);
        return result;
    }
    CloseFd(slave);
    result.path = name;
    return result;
}

// Points linkPath at target, replacing what is there in one step.
std::string PointLink(const std::string& linkPath, const std::string& target) {
    const std::string temp = linkPath + ".new" + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(target.c_str(), temp.c_str()) != 0) {
        return Why("cannot make the link " + linkPath);
    }
    if (::rename(temp.c_str(), linkPath.c_str()) != 0) {
        std::string error = Why("cannot move the link " + linkPath);
        ::unlink(temp.c_str());
        return error;
    }
    return "";
}

}  // namespace

TCameraHost::~TCameraHost() {
    Stop();
}

TStartResult TCameraHost::Start(const std::string& linkPath) {
    Stop();
    return Replug(linkPath);
}

TStartResult TCameraHost::Replug(const std::string& linkPath) {
    // The new terminal is opened while the old one still exists, so it gets
    // another name, as a re-plugged adapter does.
    int master = -1;
    TStartResult opened = OpenPty(master);
    Stop();
    if (!opened) {
        return opened;
    }
    if (!linkPath.empty()) {
        opened.error = PointLink(linkPath, opened.path);
        if (!opened) {
            opened.path.clear();
            CloseFd(master);
            return opened;
        }
    }
    return Serve(master, true, opened.path);
}

TStartResult TCameraHost::StartOnDevice(const std::string& devicePath) {
    Stop();
    TStartResult result;
    int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.error = Why("cannot open " + devicePath);
        return result;
    }
    if (!MakeRaw(fd, true)) {
        result.error = Why("cannot set 9600 8N1 raw on " + devicePath);
        CloseFd(fd);
        return result;
    }
    return Serve(fd, false, devicePath);
}

TStartResult TCameraHost::Serve(int fd, bool pty, const std::string& path) {
    TStartResult result;
    int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        result.error = Why("cannot make a wake-up descriptor");
        CloseFd(fd);
        return result;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fd_ = fd;
        wakeFd_ = wake;
        path_ = path;
        running_ = true;
        hungUp_ = false;
    }
    changed_.notify_all();
    thread_ = std::thread(&TCameraHost::Run, this, fd, wake, pty);
    result.path = path;
    return result;
}

void TCameraHost::Stop() {
    int wake;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wake = wakeFd_;
    }
    if (wake >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake, &one, sizeof one);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    CloseLine();
    std::lock_guard<std::mutex> lock(mutex_);
    CloseFd(wakeFd_);
    running_ = false;
}

void TCameraHost::CloseLine() {
    std::lock_guard<std::mutex> lock(mutex_);
    CloseFd(fd_);
}

void TCameraHost::HangUp() {
    Stop();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hungUp_ = true;
    }
    changed_.notify_all();
}

bool TCameraHost::HungUp() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hungUp_;
}

bool TCameraHost::WaitHungUp(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return hungUp_; });
}

bool TCameraHost::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

std::string TCameraHost::Path() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_;
}

void TCameraHost::SetFault(TFault mode, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    camera_.SetFault(mode, count);
}

void TCameraHost::SetFaultTrigger(TBytes prefix) {
    std::lock_guard<std::mutex> lock(mutex_);
    camera_.SetFaultTrigger(std::move(prefix));
}

void TCameraHost::SetChaos(int oneIn, uint32_t seed) {
    std::lock_guard<std::mutex> lock(mutex_);
    camera_.SetChaos(oneIn, seed);
}

void TCameraHost::SetInterlocks(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    camera_.SetInterlocks(on);
}

void TCameraHost::SetAnswerDelay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(mutex_);
    delay_ = delay;
}

TCameraState TCameraHost::State() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return camera_.State();
}

void TCameraHost::SetState(const TCameraState& state) {
    std::lock_guard<std::mutex> lock(mutex_);
    camera_.State() = state;
}

void TCameraHost::SetObserver(TObserver observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    observer_ = std::move(observer);
}

std::vector<TReceived> TCameraHost::Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

TBytes TCameraHost::ReceivedBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    TBytes all;
    for (const auto& r : received_) {
        all.insert(all.end(), r.bytes.begin(), r.bytes.end());
    }
    return all;
}

size_t TCameraHost::TotalReceivedBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return totalBytes_;
}

void TCameraHost::ClearReceived() {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.clear();
    receivedBytes_ = 0;
    receivedFrames_ = 0;
}

bool TCameraHost::WaitReceived(size_t units, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return received_.size() >= units; });
}

bool TCameraHost::WaitReceivedBytes(size_t bytes, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return receivedBytes_ >= bytes; });
}

bool TCameraHost::WaitReceivedFrames(size_t frames, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return receivedFrames_ >= frames; });
}

bool TCameraHost::WriteAll(int fd, int wakeFd, const TBytes& bytes) {
    const int rate = lineRate_;
    const auto start = std::chrono::steady_clock::now();
    size_t done = 0;
    while (done < bytes.size()) {
        size_t chunk = bytes.size() - done;
        if (rate > 0) {
            // Each byte leaves once the line would have carried it.
            std::this_thread::sleep_until(
                start + std::chrono::microseconds((done + 1) * 10 * 1000000 / rate));
            chunk = 1;
        }
        const ssize_t n = ::write(fd, bytes.data() + done, chunk);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return false;
        }
        // The panel is not reading: wait for room, or for Stop.
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            return false;
        }
        if (fds[1].revents != 0 || (fds[0].revents & (POLLERR | POLLHUP)) != 0) {
            return false;
        }
    }
    return true;
}

void TCameraHost::Run(int fd, int wakeFd, bool pty) {
    auto lineGone = [this] {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            CloseFd(fd_);
            running_ = false;
            hungUp_ = true;
        }
        changed_.notify_all();
    };
    // Records, answers and reports one exchange; false when the thread must
    // end (Stop, or the line is gone and lineGone has run).
    auto handle = [&](TExchange ex, std::chrono::steady_clock::time_point start, bool answer) {
        ex.at = start;
        std::chrono::milliseconds delay;
        TObserver observer;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back({ex.in, start});
            receivedBytes_ += ex.in.size();
            totalBytes_ += ex.in.size();
            receivedFrames_ += ex.in.size() == kFrameSize ? 1 : 0;
            delay = delay_;
            observer = observer_;
        }
        changed_.notify_all();
        if (answer && !ex.out.empty()) {
            pollfd w{wakeFd, POLLIN, 0};
            if (delay.count() > 0 && ::poll(&w, 1, static_cast<int>(delay.count())) > 0) {
                return false;
            }
            const size_t split = ex.splitAt < ex.out.size() ? ex.splitAt : 0;
            bool written = WriteAll(fd, wakeFd, TBytes(ex.out.begin(), ex.out.begin() + split));
            if (written && split > 0 && ::poll(&w, 1, kSplitPauseMs) > 0) {
                return false;
            }
            written = written && WriteAll(fd, wakeFd, TBytes(ex.out.begin() + split, ex.out.end()));
            if (!written) {
                if (::poll(&w, 1, 0) > 0) {
                    return false;
                }
                if (!pty) {
                    lineGone();
                    return false;
                }
                // The panel closed its end meanwhile; the line stays up.
            }
        }
        if (observer) {
            observer(ex);
        }
        if (ex.hangUp) {
            lineGone();
            return false;
        }
        return true;
    };

    std::chrono::steady_clock::time_point unitStart{};
    // A partial frame is dropped; it is answered only when someone listens.
    auto dropPartial = [&](bool answer) {
        std::optional<TExchange> ex;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ex = camera_.LineIdle();
        }
        return !ex || handle(*ex, unitStart, answer);
    };
    // No panel has the pseudo-terminal open.
    auto awaitPanel = [&] {
        if (!dropPartial(false)) {
            return false;
        }
        pollfd w{wakeFd, POLLIN, 0};
        return ::poll(&w, 1, kNoPanelPollMs) == 0;
    };

    uint8_t buffer[256];
    for (;;) {
        bool betweenFrames;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            betweenFrames = camera_.BetweenFrames();
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, betweenFrames ? -1 : kInterByteGapMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;  // Stop
        }
        if (ready == 0) {
            if (!dropPartial(true)) {
                return;
            }
            continue;
        }
        if (pty && (fds[0].revents & POLLIN) == 0) {
            if (!awaitPanel()) {
                return;
            }
            continue;
        }
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (n <= 0) {
            if (pty) {
                if (!awaitPanel()) {
                    return;
                }
                continue;
            }
            lineGone();  // the device went away under us
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        for (ssize_t i = 0; i < n; ++i) {
            std::vector<TExchange> done;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (camera_.BetweenFrames()) {
                    unitStart = now;
                }
                done = camera_.Feed(&buffer[i], 1);
            }
            for (const auto& ex : done) {
                if (!handle(ex, unitStart, true)) {
                    return;
                }
            }
        }
    }
}

}  // namespace zp::camera
