/* The far end of the serial benchmark: works on the master side of a
 * pseudo-terminal whose descriptor it inherits.
 *
 *   serial_peer FD echo [SFD]  send every byte back at once; with SFD, a
 *                              shared-memory descriptor, note in it when each
 *                              read returned, just before the echo goes out
 *   serial_peer FD sink N      read N pattern bytes, check them, answer one 0x55
 *   serial_peer FD source N    after one start byte, send N pattern bytes
 *
 * The pattern byte at offset i is i % 251, so a lost, doubled or reordered
 * byte shows. Ends on SIGTERM or when the line goes away. */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

static unsigned char buf[65536];

static int write_all(int fd, const unsigned char* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return -1;
        }
        p += w;
        n -= (size_t)w;
    }
    return 0;
}

/* Returns the bytes read, 0 when the line has gone away. */
static ssize_t read_some(int fd, size_t max) {
    for (;;) {
        ssize_t r = read(fd, buf, max);
        if (r > 0) {
            return r;
        }
        if (r < 0 && errno == EINTR) {
            continue;
        }
        return 0;
    }
}

static long long now_ns(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

/* One stamp: when the last read returned. It is stored before the echo is
 * written, so the other side sees it once the echo has arrived. */
static long long* map_stamp(int sfd) {
    void* p = mmap(NULL, sizeof(long long), PROT_READ | PROT_WRITE, MAP_SHARED, sfd, 0);
    return p == MAP_FAILED ? NULL : (long long*)p;
}

static void drain(int fd) {
    while (read_some(fd, sizeof buf) > 0) {
    }
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: serial_peer FD echo|sink N|source N\n");
        return 64;
    }
    int fd = atoi(argv[1]);
    const char* mode = argv[2];
    long long n = argc > 3 ? atoll(argv[3]) : 0;

    if (strcmp(mode, "echo") == 0) {
        long long* stamp = argc > 3 ? map_stamp(atoi(argv[3])) : NULL;
        ssize_t r;
        while ((r = read_some(fd, sizeof buf)) > 0) {
            if (stamp != NULL) {
                __atomic_store_n(stamp, now_ns(), __ATOMIC_RELEASE);
            }
            if (write_all(fd, buf, (size_t)r) < 0) {
                return 1;
            }
        }
        return 0;
    }
    if (strcmp(mode, "sink") == 0) {
        long long got = 0;
        while (got < n) {
            ssize_t r = read_some(fd, sizeof buf);
            if (r == 0) {
                fprintf(stderr, "serial_peer: line closed after %lld of %lld bytes\n", got, n);
                return 1;
            }
            for (ssize_t i = 0; i < r; ++i, ++got) {
                if (buf[i] != (unsigned char)(got % 251)) {
                    fprintf(stderr, "serial_peer: byte %lld is %u, expected %u\n", got, buf[i],
                            (unsigned)(got % 251));
                    return 2;
                }
            }
        }
        unsigned char done = 0x55;
        if (got != n || write_all(fd, &done, 1) < 0) {
            return 1;
        }
        drain(fd);
        return 0;
    }
    if (strcmp(mode, "source") == 0) {
        if (read_some(fd, 1) == 0) {
            return 1;
        }
        long long sent = 0;
        while (sent < n) {
            size_t chunk = sizeof buf;
            if ((long long)chunk > n - sent) {
                chunk = (size_t)(n - sent);
            }
            for (size_t i = 0; i < chunk; ++i) {
                buf[i] = (unsigned char)((sent + (long long)i) % 251);
            }
            if (write_all(fd, buf, chunk) < 0) {
                return 1;
            }
            sent += (long long)chunk;
        }
        drain(fd);
        return 0;
    }
    fprintf(stderr, "serial_peer: unknown mode %s\n", mode);
    return 64;
}
