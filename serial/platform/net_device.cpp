// Network serial: "tcp://HOST:PORT" and "rfc2217://HOST:PORT" behind the
// device interface. The component gets one end of a socket pair at once; a
// relay thread of the device resolves the name, connects, negotiates the
// telnet COM-PORT option and then carries the bytes, so nothing of that
// waits on the thread that opens the port.
#include <arpa/inet.h>
#include <libtelnet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/VaObjects.h"
#include "serial/platform/port_device.h"

namespace zp {

namespace {

constexpr unsigned char kComPort = 44;
// Client to server; the server answers with the same number plus 100.
enum : uint8_t {
    kSetBaudrate = 1,
    kSetDatasize = 2,
    kSetParity = 3,
    kSetStopsize = 4,
    kSetControl = 5,
    kNotifyModemstate = 7,
    kPurgeData = 12,
    kServerOffset = 100,
};
constexpr auto kConnectLimit = std::chrono::seconds(5);
// How long the server has to agree to the COM-PORT option.
constexpr auto kNegotiateLimit = std::chrono::seconds(3);
// How long a close waits for the last bytes to leave.
constexpr auto kCloseFlushLimit = std::chrono::milliseconds(500);
// ser2net may open the device after it answered the first settings and
// then give it its own configuration: the settings go again this long after
// the option was agreed (and the server answered them, all the same).
constexpr std::chrono::milliseconds kSettingsAgain[] = {std::chrono::milliseconds(250),
                                                        std::chrono::milliseconds(1000)};

const telnet_telopt_t kTelopts[] = {
    {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    {kComPort, TELNET_WILL, TELNET_DONT},
    {-1, 0, 0},
};

void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        b.push_back(static_cast<uint8_t>(v >> shift));
    }
}

// Everything of one connection, shared by the device and its relay thread:
// the thread keeps it while it runs, so closing the device never waits for a
// name lookup or a connection to give up.
class TRelay : public std::enable_shared_from_this<TRelay> {
  public:
    TRelay(TNetAddress address, int ours, int theirs)
        : address_(std::move(address)), ours_(ours), theirs_(theirs) {}
    ~TRelay() {
        ::close(ours_);
        ::close(theirs_);
    }

    // 0, or why the relay's wake-up event could not be made.
    int WakeError() const { return wake_.Handle() < 0 ? static_cast<int>(wake_.LastError()) : 0; }

    int Fd() const { return ours_; }

    ssize_t Read(void* data, size_t count) {
        const ssize_t n = ::read(ours_, data, count);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) {
            // The relay ended the pair: its reason, as a hang-up.
            std::lock_guard<std::mutex> lock(mutex_);
            // Only a code the component takes for a hang-up ends the line.
            errno = IsHangupErrno(failCode_) ? failCode_ : ECONNRESET;
            return failed_ ? -1 : 0;
        }
        return n;
    }

    ssize_t Write(const void* data, size_t count) {
        // A socket: no SIGPIPE when the relay has ended the pair.
        const ssize_t n = ::send(ours_, data, count, MSG_NOSIGNAL);
        if (n > 0) {
            written_ += n;
        } else if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) {
            std::lock_guard<std::mutex> lock(mutex_);
            errno = IsHangupErrno(failCode_) ? failCode_ : EPIPE;
        }
        return n;
    }

    int Apply(const TTermiosPlan& plan) {
        if (!address_.rfc2217) {
            return 0;
        }
        std::vector<std::vector<uint8_t>> sets;
        const auto set = [&](uint8_t command, std::vector<uint8_t> value) {
            value.insert(value.begin(), command);
            sets.push_back(std::move(value));
        };
        std::vector<uint8_t> baud;
        Put32(baud, plan.ospeed);
        set(kSetBaudrate, baud);
        const uint32_t size = plan.cflag & CSIZE;
        set(kSetDatasize, {static_cast<uint8_t>(size == CS5   ? 5
                                                : size == CS6 ? 6
                                                : size == CS7 ? 7
                                                              : 8)});
        uint8_t parity = 1;
        if ((plan.cflag & PARENB) != 0) {
            const bool odd = (plan.cflag & PARODD) != 0;
            parity = (plan.cflag & CMSPAR) != 0 ? (odd ? 4 : 5) : (odd ? 2 : 3);
        }
        set(kSetParity, {parity});
        set(kSetStopsize, {static_cast<uint8_t>((plan.cflag & CSTOPB) != 0 ? 2 : 1)});
        const bool hardware = (plan.cflag & CRTSCTS) != 0;
        const bool xonxoff = (plan.iflag & (IXON | IXOFF)) != 0;
        set(kSetControl, {static_cast<uint8_t>(hardware ? 3 : xonxoff ? 2 : 1)});
        if (plan.dtr >= 0) {
            set(kSetControl, {static_cast<uint8_t>(plan.dtr != 0 ? 8 : 9)});
        }
        if (plan.rts >= 0 && !hardware) {
            set(kSetControl, {static_cast<uint8_t>(plan.rts != 0 ? 11 : 12)});
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            // Only the latest settings matter: an older set not yet sent goes.
            settings_ = std::move(sets);
        }
        Wake();
        return 0;
    }

    int GetModemLines(int& lines) {
        lines = modem_.load(std::memory_order_acquire);
        return 0;
    }

    int OutputPending(int& bytes) {
        bytes = static_cast<int>(written_.load() - sent_.load());
        return 0;
    }

    void Release() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            releasing_ = true;
        }
        Wake();
    }

    // Only a failure to connect: a connection that broke later is a
    // hang-up like any other.
    bool Failure(int& code, std::string& text) const {
        std::lock_guard<std::mutex> lock(mutex_);
        code = failCode_;
        text = failText_;
        return failed_ && !connected_;
    }

    bool Connecting() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return !connected_ && !failed_;
    }

    bool Acknowledged(uint8_t command, std::vector<uint8_t>& value) const {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& a : acked_) {
            if (a[0] == command) {
                value.assign(a.begin() + 1, a.end());
                return true;
            }
        }
        return false;
    }

    void Begin() {
        std::thread([self = shared_from_this()] { self->Run(); }).detach();
    }
    // The device is gone. After a release the relay still sends what was
    // written, within its limits, and ends by itself.
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (releasing_) {
                return;
            }
        }
        stop_ = true;
        Wake();
    }

  private:
    void Wake() { wake_.SetEvent(); }

    // The reason the device failed (a text only where no errno says it);
    // the relay's end closes so the component sees the hang-up.
    void Fail(int code, const std::string& text = {}) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!failed_) {
                failed_ = true;
                failCode_ = code;
                failText_ = text;
            }
        }
        ::shutdown(theirs_, SHUT_RDWR);
    }

    bool Connect() {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int r = ::getaddrinfo(address_.host.c_str(), address_.port.c_str(), &hints, &found);
        if (r != 0) {
            // The lookup's own code and text: no errno says it.
            Fail(r, std::string(gai_strerror(r)) + " (" + address_.host + ")");
            return false;
        }
        int code = ECONNREFUSED;
        for (addrinfo* a = found; a != nullptr && sock_ < 0 && !stop_; a = a->ai_next) {
            const int s = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                   a->ai_protocol);
            if (s < 0) {
                code = errno;
                continue;
            }
            if (::connect(s, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
                code = errno;
                ::close(s);
                continue;
            }
            pollfd p[2] = {{s, POLLOUT, 0}, {wake_.Handle(), POLLIN, 0}};
            const auto end = std::chrono::steady_clock::now() + kConnectLimit;
            int err = ETIMEDOUT;
            while (!stop_) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      end - std::chrono::steady_clock::now())
                                      .count();
                const int polled = left <= 0 ? 0 : ::poll(p, 2, static_cast<int>(left));
                if (polled == 0 || (polled < 0 && errno != EINTR)) {
                    break;
                }
                if (p[0].revents != 0) {
                    socklen_t len = sizeof err;
                    ::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len);
                    break;
                }
                DrainWake();
            }
            if (err != 0) {
                code = err;
                ::close(s);
                continue;
            }
            const int one = 1;
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            sock_ = s;
        }
        ::freeaddrinfo(found);
        if (sock_ < 0) {
            Fail(code);
            return false;
        }
        return true;
    }

    void DrainWake() { wake_.ResetEvent(); }

    static void OnTelnet(telnet_t*, telnet_event_t* ev, void* self) {
        static_cast<TRelay*>(self)->Telnet(*ev);
    }

    void Telnet(const telnet_event_t& ev) {
        switch (ev.type) {
            case TELNET_EV_DATA:
                toPair_.insert(toPair_.end(), ev.data.buffer, ev.data.buffer + ev.data.size);
                break;
            case TELNET_EV_SEND:
                toNet_.insert(toNet_.end(), ev.data.buffer, ev.data.buffer + ev.data.size);
                break;
            case TELNET_EV_DO:
                if (ev.neg.telopt == kComPort) {
                    comPort_ = 1;
                }
                break;
            case TELNET_EV_DONT:
            case TELNET_EV_WONT:
                if (ev.neg.telopt == kComPort) {
                    comPort_ = -1;
                }
                break;
            case TELNET_EV_SUBNEGOTIATION:
                if (ev.sub.telopt == kComPort && ev.sub.size >= 1) {
                    ComPortAnswer(reinterpret_cast<const uint8_t*>(ev.sub.buffer), ev.sub.size);
                }
                break;
            case TELNET_EV_ERROR:
                Fail(EPROTO, ev.error.msg);
                break;
            default:
                break;
        }
    }

    void ComPortAnswer(const uint8_t* b, size_t n) {
        if (b[0] == kServerOffset + kNotifyModemstate && n >= 2) {
            int lines = 0;
            lines |= (b[1] & 0x10) != 0 ? kLineCts : 0;
            lines |= (b[1] & 0x20) != 0 ? kLineDsr : 0;
            lines |= (b[1] & 0x40) != 0 ? kLineRng : 0;
            lines |= (b[1] & 0x80) != 0 ? kLineCar : 0;
            modem_.store(lines, std::memory_order_release);
            return;
        }
        if (b[0] <= kServerOffset) {
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<uint8_t> a(b, b + n);
        a[0] = static_cast<uint8_t>(a[0] - kServerOffset);
        for (auto& old : acked_) {
            // SET-CONTROL answers flow, DTR and RTS apart.
            const bool same = old[0] == a[0] && (a[0] != kSetControl || n < 2 || old.size() < 2 ||
                                                 ControlGroup(old[1]) == ControlGroup(a[1]));
            if (same) {
                old = a;
                return;
            }
        }
        acked_.push_back(std::move(a));
    }

    static int ControlGroup(uint8_t v) { return v <= 4 ? 0 : v <= 10 ? 1 : v <= 13 ? 2 : 3; }

    void SendSettings() {
        std::vector<std::vector<uint8_t>> sets;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            sets.swap(settings_);
            if (!sets.empty()) {
                sentSettings_ = sets;
            }
        }
        for (const auto& s : sets) {
            telnet_subnegotiation(telnet_, kComPort, reinterpret_cast<const char*>(s.data()),
                                  s.size());
        }
    }

    // Bytes the component wrote, on their way: escaped for telnet.
    void ToNet(const char* data, size_t n) {
        if (telnet_ != nullptr) {
            telnet_send(telnet_, data, n);
        } else {
            toNet_.insert(toNet_.end(), data, data + n);
        }
        sent_ += static_cast<int64_t>(n);
    }

    // Writes what waits for the network; false when the connection broke.
    bool FlushNet() {
        while (!toNet_.empty()) {
            const ssize_t n = ::send(sock_, toNet_.data(), toNet_.size(), MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR) {
                    return true;
                }
                Fail(errno);
                return false;
            }
            toNet_.erase(toNet_.begin(), toNet_.begin() + n);
        }
        return true;
    }

    void FlushPair() {
        while (!toPair_.empty()) {
            const ssize_t n = ::send(theirs_, toPair_.data(), toPair_.size(), MSG_NOSIGNAL);
            if (n <= 0) {
                return;
            }
            toPair_.erase(toPair_.begin(), toPair_.begin() + n);
        }
    }

    void Run() {
        if (!Connect()) {
            return;
        }
        const bool telnet = address_.rfc2217;
        if (telnet) {
            telnet_ = telnet_init(kTelopts, &TRelay::OnTelnet, 0, this);
            telnet_negotiate(telnet_, TELNET_WILL, kComPort);
        }
        const auto negotiateEnd = std::chrono::steady_clock::now() + kNegotiateLimit;
        bool released = false;
        while (!stop_ && !failed()) {
            if (telnet && comPort_ == 0 && std::chrono::steady_clock::now() >= negotiateEnd) {
                comPort_ = -1;
            }
            if (!telnet || comPort_ > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!connected_ && telnet) {
                    for (const auto after : kSettingsAgain) {
                        resends_.push_back(std::chrono::steady_clock::now() + after);
                    }
                }
                connected_ = !failed_;
            }
            if (telnet && comPort_ < 0) {
                Fail(EPROTONOSUPPORT, "the server does not agree to the COM-PORT option");
                break;
            }
            // Data waits until the line settings can go first.
            const bool ready = !telnet || comPort_ > 0;
            if (ready && telnet) {
                const auto now = std::chrono::steady_clock::now();
                if (!resends_.empty() && now >= resends_.front()) {
                    resends_.erase(resends_.begin());
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (settings_.empty()) {
                        settings_ = sentSettings_;
                    }
                }
                SendSettings();
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                released = releasing_;
            }
            if (released && ready) {
                // What was written before the close still goes out: it may
                // be a last stop on its way to the camera.
                for (char buf[4096];;) {
                    const ssize_t n = ::recv(theirs_, buf, sizeof buf, 0);
                    if (n <= 0) {
                        break;
                    }
                    ToNet(buf, static_cast<size_t>(n));
                }
                if (telnet) {
                    // What the device sent and nobody read; never our output,
                    // which may be a last stop on its way to the camera.
                    const uint8_t purge[] = {kPurgeData, 1};
                    telnet_subnegotiation(telnet_, kComPort, reinterpret_cast<const char*>(purge),
                                          sizeof purge);
                }
                const auto end = std::chrono::steady_clock::now() + kCloseFlushLimit;
                while (FlushNet() && !toNet_.empty() && std::chrono::steady_clock::now() < end) {
                    pollfd out{sock_, POLLOUT, 0};
                    ::poll(&out, 1, 20);
                }
                ::shutdown(sock_, SHUT_WR);
                break;
            }
            if (!FlushNet()) {
                break;
            }
            FlushPair();
            const auto events = [](bool in, bool out) {
                return static_cast<short>((in ? POLLIN : 0) | (out ? POLLOUT : 0));
            };
            pollfd p[3] = {
                {sock_, events(toPair_.empty(), !toNet_.empty()), 0},
                {theirs_, events(ready && toNet_.empty(), !toPair_.empty()), 0},
                {wake_.Handle(), POLLIN, 0},
            };
            // Woken by the pair, the socket or Wake; only the negotiation's
            // limit and the settings' resends are times to wake for.
            int wait = -1;
            if (telnet && comPort_ == 0) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    negotiateEnd - std::chrono::steady_clock::now());
                wait = static_cast<int>(std::max<int64_t>(left.count() + 1, 0));
            }
            if (!resends_.empty()) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    resends_.front() - std::chrono::steady_clock::now());
                wait = static_cast<int>(std::max<int64_t>(left.count() + 1, 0));
            }
            if (::poll(p, 3, wait) < 0 && errno != EINTR) {
                Fail(errno);
                break;
            }
            if ((p[2].revents & POLLIN) != 0) {
                DrainWake();
            }
            if ((p[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                char buf[4096];
                const ssize_t n = ::recv(sock_, buf, sizeof buf, 0);
                if (n == 0) {
                    Fail(ECONNRESET);
                    break;
                }
                if (n < 0 && errno != EAGAIN && errno != EINTR) {
                    Fail(errno);
                    break;
                }
                if (n > 0) {
                    if (telnet) {
                        telnet_recv(telnet_, buf, static_cast<size_t>(n));
                    } else {
                        toPair_.insert(toPair_.end(), buf, buf + n);
                    }
                }
            }
            if ((p[1].revents & POLLIN) != 0) {
                char buf[4096];
                const ssize_t n = ::recv(theirs_, buf, sizeof buf, 0);
                if (n > 0) {
                    ToNet(buf, static_cast<size_t>(n));
                }
            }
        }
        if (telnet_ != nullptr) {
            telnet_free(telnet_);
            telnet_ = nullptr;
        }
        if (sock_ >= 0) {
            ::close(sock_);
            sock_ = -1;
        }
        ::shutdown(theirs_, SHUT_RDWR);
    }

    bool failed() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return failed_;
    }

    const TNetAddress address_;
    const int ours_, theirs_;
    TVaWaitEvent wake_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> written_{0}, sent_{0};
    std::atomic<int> modem_{0};

    mutable std::mutex mutex_;
    bool failed_ = false;
    bool connected_ = false;  // connected, and agreed on the COM-PORT option
    int failCode_ = 0;
    std::string failText_;
    bool releasing_ = false;
    std::vector<std::vector<uint8_t>> settings_;
    std::vector<std::vector<uint8_t>> sentSettings_;
    std::vector<std::vector<uint8_t>> acked_;

    // The relay thread's own.
    int sock_ = -1;
    telnet_t* telnet_ = nullptr;
    int comPort_ = 0;  // 1 agreed, -1 refused, 0 not yet
    // When the settings go again after the option was agreed.
    std::vector<std::chrono::steady_clock::time_point> resends_;
    std::vector<uint8_t> toNet_, toPair_;
};

class TNetDevice final : public IPortDevice {
  public:
    explicit TNetDevice(std::shared_ptr<TRelay> relay) : relay_(std::move(relay)) {}
    ~TNetDevice() override { relay_->Stop(); }

    int Fd() const override { return relay_->Fd(); }
    ssize_t Read(void* data, size_t count) override { return relay_->Read(data, count); }
    ssize_t Write(const void* data, size_t count) override { return relay_->Write(data, count); }
    int MakeRaw() override { return 0; }
    int Apply(const TTermiosPlan& plan) override { return relay_->Apply(plan); }
    int GetCounters(TLineCounters&) override { return ENOTTY; }
    int GetModemLines(int& lines) override { return relay_->GetModemLines(lines); }
    int OutputPending(int& bytes) override { return relay_->OutputPending(bytes); }
    void Release() override { relay_->Release(); }
    bool Failure(int& code, std::string& text) const override {
        return relay_->Failure(code, text);
    }
    bool Connecting() const override { return relay_->Connecting(); }
    bool Acknowledged(uint8_t command, std::vector<uint8_t>& value) const override {
        return relay_->Acknowledged(command, value);
    }

  private:
    std::shared_ptr<TRelay> relay_;
};

}  // namespace

bool ParseNetDevice(const std::string& name, TNetAddress& address) {
    TNetAddress a;
    std::string rest;
    if (name.rfind("rfc2217://", 0) == 0) {
        a.rfc2217 = true;
        rest = name.substr(10);
    } else if (name.rfind("tcp://", 0) == 0) {
        rest = name.substr(6);
    } else {
        return false;
    }
    // [v6 address]:port or host:port
    size_t colon = rest.rfind(':');
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 != colon) {
            colon = std::string::npos;
        } else {
            a.host = rest.substr(1, close - 1);
        }
    } else if (colon != std::string::npos) {
        a.host = rest.substr(0, colon);
    }
    if (colon == std::string::npos || a.host.empty()) {
        return false;
    }
    a.port = rest.substr(colon + 1);
    char* end = nullptr;
    const long port = std::strtol(a.port.c_str(), &end, 10);
    if (a.port.empty() || *end != '\0' || port < 1 || port > 65535) {
        return false;
    }
    address = std::move(a);
    return true;
}

bool IsNetDeviceName(const std::string& name) {
    return name.rfind("rfc2217://", 0) == 0 || name.rfind("tcp://", 0) == 0;
}

int OpenNetDevice(const std::string& name, TPortDevicePtr& device) {
    TNetAddress address;
    if (!ParseNetDevice(name, address)) {
        return EINVAL;
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
        return errno;
    }
    // The relay owns the descriptors from here on.
    auto relay = std::make_shared<TRelay>(std::move(address), pair[0], pair[1]);
    if (const int e = relay->WakeError(); e != 0) {
        return e;
    }
    try {
        relay->Begin();
    } catch (const std::system_error& e) {
        return e.code().value();
    }
    device = std::make_shared<TNetDevice>(std::move(relay));
    return 0;
}

}  // namespace zp
