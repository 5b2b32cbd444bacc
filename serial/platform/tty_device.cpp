// The tty behind IPortDevice. termios2 comes from the kernel headers, which
// cannot share a file with the C library's <termios.h>.
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "serial/platform/port_device.h"

namespace zp {

namespace {

bool NoSuchFeature(int e) {
    return e == ENOTTY || e == EINVAL;
}

class TTtyDevice : public IPortDevice {
  public:
    explicit TTtyDevice(int fd) : fd_(fd) {}
    ~TTtyDevice() override {
        Release();
        close(fd_);
    }

    int Fd() const override { return fd_; }

    ssize_t Read(void* data, size_t count) override { return read(fd_, data, count); }
    ssize_t Write(const void* data, size_t count) override { return write(fd_, data, count); }

    int MakeRaw() override {
        termios2 t{};
        if (ioctl(fd_, TCGETS2, &t) != 0) {
            return errno;
        }
        // Software flow stays as the driver has it: it is a line setting.
        t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IMAXBEL);
        t.c_oflag &= ~OPOST;
        t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        t.c_cflag |= CREAD | CLOCAL;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        return ioctl(fd_, TCSETS2, &t) == 0 ? 0 : errno;
    }

    int Apply(const TTermiosPlan& plan) override {
        termios2 t{};
        t.c_iflag = plan.iflag;
        t.c_oflag = plan.oflag;
        t.c_cflag = plan.cflag;
        t.c_lflag = plan.lflag;
        static_assert(sizeof plan.cc <= sizeof t.c_cc, "control characters");
        std::memcpy(t.c_cc, plan.cc, sizeof plan.cc);
        t.c_ispeed = plan.ispeed;
        t.c_ospeed = plan.ospeed;
        if (ioctl(fd_, TCSETS2, &t) != 0) {
            return errno;
        }
        if (int e = SetLine(TIOCM_DTR, plan.dtr); e != 0) {
            return e;
        }
        if (plan.rs485 || rs485_) {
            serial_rs485 rs{};
            if (plan.rs485) {
                rs.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
            }
            if (ioctl(fd_, TIOCSRS485, &rs) != 0) {
                // No RS-485 mode in this driver: RTS toggle cannot be had.
                return plan.rs485 ? EINVAL : 0;
            }
            rs485_ = plan.rs485;
        }
        return SetLine(TIOCM_RTS, plan.rts);
    }

    int GetCounters(TLineCounters& c) override {
        serial_icounter_struct ic{};
        if (ioctl(fd_, TIOCGICOUNT, &ic) != 0) {
            return errno;
        }
        c.frame = static_cast<uint32_t>(ic.frame);
        c.overrun = static_cast<uint32_t>(ic.overrun);
        c.parity = static_cast<uint32_t>(ic.parity);
        c.brk = static_cast<uint32_t>(ic.brk);
        c.bufOverrun = static_cast<uint32_t>(ic.buf_overrun);
        return 0;
    }

    int GetModemLines(int& lines) override { return ioctl(fd_, TIOCMGET, &lines) == 0 ? 0 : errno; }

    int OutputPending(int& bytes) override { return ioctl(fd_, TIOCOUTQ, &bytes) == 0 ? 0 : errno; }

    void Release() override {
        // The line goes back as we found it before anybody else may claim
        // it; after this only the descriptor's close is left, whenever the
        // last holder lets go.
        if (rs485_) {
            rs485_ = false;
            serial_rs485 rs{};
            ioctl(fd_, TIOCSRS485, &rs);
        }
        if (claimed_) {
            claimed_ = false;
            flock(fd_, LOCK_UN);
            ioctl(fd_, TIOCNXCL);
        }
    }

    // The lock first: TIOCEXCL belongs to the tty, not to this descriptor,
    // so a loser must not touch it.
    int Claim() {
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            return errno;
        }
        claimed_ = true;
        if (ioctl(fd_, TIOCEXCL) != 0 && !NoSuchFeature(errno)) {
            return errno;
        }
        return 0;
    }

  private:
    // Lines the device does not have (a pseudo-terminal) are left alone.
    int SetLine(int bit, int state) {
        if (state < 0) {
            return 0;
        }
        if (ioctl(fd_, state ? TIOCMBIS : TIOCMBIC, &bit) != 0 && !NoSuchFeature(errno)) {
            return errno;
        }
        return 0;
    }

    int fd_;
    bool claimed_ = false;
    bool rs485_ = false;
};

}  // namespace

std::string DevicePath(const std::string& name) {
    if ((!name.empty() && name[0] == '/') || IsNetDeviceName(name)) {
        return name;
    }
    if (name.size() > 3 && name.compare(0, 3, "COM") == 0 &&
        name.find_first_not_of("0123456789", 3) == std::string::npos && name.size() <= 12) {
        const long n = std::strtol(name.c_str() + 3, nullptr, 10);
        // COM0 has no tty; it names a device that does not exist.
        return "/dev/ttyS" + std::to_string(n - 1);
    }
    return "/dev/" + name;
}

int OpenTtyDevice(const std::string& path, TPortDevicePtr& device) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    auto tty = std::make_shared<TTtyDevice>(fd);
    if (int e = tty->Claim(); e != 0) {
        return e;  // the destructor closes the descriptor
    }
    device = std::move(tty);
    return 0;
}

}  // namespace zp
