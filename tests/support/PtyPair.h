// Pseudo-terminals for serial tests: the port opens the slave end by its
// path, the test plays the device on the master end. SocatPty puts socat
// between the two, as an outside peer.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "PeerProcess.h"
#include "Wait.h"

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

inline void MakeRaw(int fd) {
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
}

// Writes everything, waiting for room up to two seconds at a time.
inline bool WriteAll(int fd, const Bytes& bytes) {
    for (std::size_t nDone = 0; nDone < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + nDone, bytes.size() - nDone);
        pollfd p{fd, POLLOUT, 0};
        if (n > 0) {
            nDone += static_cast<std::size_t>(n);
        } else if ((n < 0 && errno != EAGAIN && errno != EINTR) || poll(&p, 1, 2000) <= 0) {
            return false;
        }
    }
    return true;
}

// Waits until a terminal holds nCount unread bytes for its readers (0: until
// they have read everything).
inline bool WaitUntilQueued(int fd, int nCount, std::chrono::milliseconds within) {
    return WaitUntil(
        [&] {
            int nQueued = -1;
            return ioctl(fd, FIONREAD, &nQueued) == 0 && nQueued == nCount;
        },
        within);
}

class PtyPair {
public:
    PtyPair() {
        char name[256] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
            m_master = m_slave = -1;
            return;
        }
        m_strSlave = name;
        MakeRaw(m_slave);
    }
    ~PtyPair() {
        CloseMaster();
        if (m_slave >= 0) {
            close(m_slave);
        }
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool IsOpen() const { return m_master >= 0; }
    const std::string& SlavePath() const { return m_strSlave; }
    int Master() const { return m_master; }
    // The slave end as the pair opened it: blocking, for raw exchanges.
    int Slave() const { return m_slave; }
    void CloseMaster() {
        if (m_master >= 0) {
            close(m_master);
            m_master = -1;
        }
    }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_strSlave;
};

// A device on its own thread: it reads requests of a fixed size and sends
// what the answer function gives for each. It looks at its stop flag every
// 20 ms.
class DeviceSimulator {
public:
    using Answer = std::function<Bytes(const Bytes& request)>;

    DeviceSimulator(int fd, std::size_t nRequestSize, Answer answer)
        : m_thread([=, this] { Run(fd, nRequestSize, answer); }) {}
    ~DeviceSimulator() {
        m_bStop = true;
        m_thread.join();
    }

    int Requests() const { return m_nRequests.load(); }

private:
    void Run(int fd, std::size_t nRequestSize, const Answer& answer) {
        Bytes request(nRequestSize);
        std::size_t nHave = 0;
        while (!m_bStop) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) {
                continue;
            }
            const ssize_t n = read(fd, request.data() + nHave, nRequestSize - nHave);
            if (n <= 0) {
                return;
            }
            if ((nHave += static_cast<std::size_t>(n)) == nRequestSize) {
                ++m_nRequests;
                WriteAll(fd, answer(request));
                nHave = 0;
            }
        }
    }

    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_nRequests{0};
    std::thread m_thread;
};

// Two pseudo-terminals that socat links, reached through links of the
// test's own naming; socat makes them once both ends are open.
class SocatPty {
public:
    SocatPty()
        : m_ends{Link(0), Link(1)},
          m_socat(
              {"socat", "pty,raw,echo=0,link=" + m_ends[0], "pty,raw,echo=0,link=" + m_ends[1]}),
          m_bRunning(m_socat.IsRunning() && WaitUntil(
                                                [this] {
                                                    return std::filesystem::exists(m_ends[0]) &&
                                                           std::filesystem::exists(m_ends[1]);
                                                },
                                                std::chrono::seconds(10))) {}
    // socat is killed and cannot remove its links.
    ~SocatPty() {
        for (const std::string& end : m_ends) {
            unlink(end.c_str());
        }
    }

    bool IsRunning() const { return m_bRunning; }
    const std::string& End(int n) const { return m_ends[n]; }

private:
    // Named for this process, and cleared of what an earlier one of the
    // same id left.
    static std::string Link(int n) {
        const std::filesystem::path path =
            std::filesystem::temp_directory_path() /
            ("kelvara-socat-" + std::to_string(getpid()) + "-" + std::to_string(n));
        unlink(path.c_str());
        return path.string();
    }

    std::string m_ends[2];
    PeerProcess m_socat;
    bool m_bRunning;
};

}  // namespace testsupport
