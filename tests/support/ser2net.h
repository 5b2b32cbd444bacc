// ser2net for tests and benchmarks: started on 127.0.0.1 with its own
// configuration, an RFC 2217 port and a raw TCP port in front of one device.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

extern char** environ;

namespace zp::test {

inline int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

inline bool Listening(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

// ser2net with an RFC 2217 port and a raw TCP port in front of one device.
// The device starts at other settings than the component's (1200 bit/s, two
// stop bits, hardware flow), so that a check of what arrived can fail.
class TSer2net {
  public:
    explicit TSer2net(const std::string& device,
                      const std::string& lineSettings = "1200n82,local,rtscts")
        : device_(device), telnetPort(FreePort()), rawPort(FreePort()) {
        config_ = "/tmp/zp-ser2net-" + std::to_string(getpid()) + "-" + std::to_string(telnetPort) +
                  ".yaml";
        std::ofstream(config_) << "connection: &rfc2217\n"
                               << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << telnetPort << "\n"
                               << "  connector: serialdev," << device_ << "," << lineSettings
                               << "\n"
                               << "  options:\n    kickolduser: true\n    chardelay: false\n"
                               << "connection: &raw\n"
                               << "  accepter: tcp,127.0.0.1," << rawPort << "\n"
                               << "  connector: serialdev," << device_ << ",9600n81,local\n"
                               << "  options:\n    kickolduser: true\n    chardelay: false\n";
        Start();
    }
    ~TSer2net() {
        Stop();
        std::remove(config_.c_str());
    }
    bool Start() {
        using namespace std::chrono_literals;
        const char* argv[] = {"ser2net", "-n", "-u", "-c", config_.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int r = posix_spawnp(&pid_, "ser2net", &actions, nullptr,
                                   const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (r != 0) {
            pid_ = -1;
            return false;
        }
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (!(Listening(telnetPort) && Listening(rawPort))) {
            if (std::chrono::steady_clock::now() > end) {
                Stop();  // never listening: no server to test against
                return false;
            }
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }
    void Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            // It may linger over a connection that is closing: not for long.
            for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                if (i == 50) {
                    kill(pid_, SIGKILL);
                }
            }
            pid_ = -1;
        }
    }
    bool Running() const { return pid_ > 0; }
    std::string Rfc2217() const { return "rfc2217://127.0.0.1:" + std::to_string(telnetPort); }
    std::string Tcp() const { return "tcp://127.0.0.1:" + std::to_string(rawPort); }

  private:
    std::string device_;
    std::string config_;
    pid_t pid_ = -1;

  public:
    const int telnetPort;
    const int rawPort;
};

}  // namespace zp::test
