// A program for the open-failure tests: opens a port on a pseudo-terminal
// with only SPARE descriptors left to the open ("fds SPARE"), or only SPARE
// megabytes of address space and a write queue of WRITESIZE bytes ("memory
// SPARE WRITESIZE"), and prints what happened. A separate process, because
// the limits are process-wide.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "serial/VaComm.h"

namespace {

int CountDescriptors(int* highest) {
    int n = 0;
    *highest = -1;
    DIR* d = opendir("/proc/self/fd");
    if (d == nullptr) {
        return -1;
    }
    const int own = dirfd(d);
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') {
            continue;
        }
        const int fd = atoi(e->d_name);
        if (fd != own) {
            ++n;
            *highest = fd > *highest ? fd : *highest;
        }
    }
    closedir(d);
    return n;
}

// The address space in use now, in bytes; 0 when unknown.
rlim_t AddressSpaceInUse() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) {
        return 0;
    }
    char line[256];
    unsigned long kb = 0;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::sscanf(line, "VmSize: %lu kB", &kb) == 1) {
            break;
        }
    }
    std::fclose(f);
    return static_cast<rlim_t>(kb) * 1024;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[1] : "";
    const bool memory = mode == "memory" && argc == 4;
    if (!memory && !(mode == "fds" && argc == 3)) {
        std::fprintf(stderr, "usage: %s fds SPARE | memory SPARE_MB WRITESIZE\n", argv[0]);
        return 2;
    }
    const int spare = atoi(argv[2]);
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        std::perror("pseudo-terminal");
        return 2;
    }
    const std::string path = name;
    zp::TVaComm comm;
    comm.SetDeviceName(path);
    if (memory) {
        comm.Buffers().SetWriteSize(atoi(argv[3]));
    }

    // Fill the holes below the highest descriptor, so exactly SPARE more fit.
    int highest = 0;
    const int before = CountDescriptors(&highest);
    std::vector<int> fillers;
    for (;;) {
        const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0 || fd > highest) {
            if (fd >= 0) {
                close(fd);
            }
            break;
        }
        fillers.push_back(fd);
    }
    // Printing allocates: once before the limit, so not first under it.
    std::printf("mode: %s\n", mode.c_str());
    std::fflush(stdout);
    const int resource = memory ? RLIMIT_AS : RLIMIT_NOFILE;
    rlimit old{};
    getrlimit(resource, &old);
    rlimit low = old;
    low.rlim_cur = memory ? AddressSpaceInUse() + (static_cast<rlim_t>(spare) << 20)
                          : static_cast<rlim_t>(highest + 1 + spare);
    if (setrlimit(resource, &low) != 0) {
        std::perror("setrlimit");
        return 2;
    }
    std::string result = "opened";
    result.reserve(200);
    try {
        comm.Open();
    } catch (const zp::EVaCommError& e) {
        result = e.what();
        const size_t at = result.find(path);
        if (at != std::string::npos) {
            result.replace(at, path.size(), "PORT");
        }
    }
    const int threads = zp::LiveCommThreads();
    setrlimit(resource, &old);
    std::printf("result: %s\n", result.c_str());
    std::printf("threads: %d\n", threads);
    if (comm.IsOpen()) {
        // The bytes must really leave, not just be counted as sent.
        comm.TransmitData("ok", 2);
        std::string got;
        char buf[16];
        pollfd p{master, POLLIN, 0};
        while (got.size() < 2 && poll(&p, 1, 10000) == 1) {
            const ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            got.append(buf, static_cast<size_t>(n));
        }
        std::printf("sent: %s\n", got.c_str());
        comm.Close();
        std::printf("threads after close: %d\n", zp::LiveCommThreads());
    }
    for (const int fd : fillers) {
        close(fd);
    }
    int ignored = 0;
    std::printf("descriptors left: %d\n", CountDescriptors(&ignored) - before);
    return 0;
}
