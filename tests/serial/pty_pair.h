// A pseudo-terminal for the port tests: the component opens the slave path,
// the test plays the far end on the master.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zp::test {

class TPtyPair {
  public:
    TPtyPair() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            char name[128] = {};
            if (ptsname_r(master_, name, sizeof name) == 0) {
                path_ = name;
            }
        }
    }
    ~TPtyPair() { CloseMaster(); }
    TPtyPair(const TPtyPair&) = delete;
    TPtyPair& operator=(const TPtyPair&) = delete;

    bool Ok() const { return master_ >= 0 && !path_.empty(); }
    const std::string& SlavePath() const { return path_; }
    int Master() const { return master_; }

    void CloseMaster() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }

    // Writes everything, waiting for room as needed.
    bool WriteAll(const void* data, size_t count) {
        const auto* p = static_cast<const uint8_t*>(data);
        while (count > 0) {
            const ssize_t n = write(master_, p, count);
            if (n > 0) {
                p += n;
                count -= static_cast<size_t>(n);
                continue;
            }
            pollfd f{master_, POLLOUT, 0};
            if (poll(&f, 1, 10000) <= 0) {
                return false;
            }
        }
        return true;
    }
    bool WriteAll(const std::string& s) { return WriteAll(s.data(), s.size()); }

    // Reads until count bytes have come or nothing came for the idle time.
    std::vector<uint8_t> ReadFor(size_t count, int idleMs = 5000) {
        std::vector<uint8_t> out;
        uint8_t buf[65536];
        while (out.size() < count) {
            pollfd f{master_, POLLIN, 0};
            if (poll(&f, 1, idleMs) <= 0) {
                break;
            }
            const ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

  private:
    int master_ = -1;
    std::string path_;
};

}  // namespace zp::test
