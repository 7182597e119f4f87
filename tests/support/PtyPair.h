// Pseudo-terminals for serial tests: the port opens the slave end by its
// path, the test plays the device on the master end. SocatPty puts socat
// between the two, as an outside peer.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

inline void MakeRaw(int fd) {
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
}

// Writes everything, waiting for room up to two seconds.
inline bool WriteAll(int fd, const Bytes& bytes) {
    std::size_t nDone = 0;
    while (nDone < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + nDone, bytes.size() - nDone);
        if (n > 0) {
            nDone += static_cast<std::size_t>(n);
            continue;
        }
        pollfd p{fd, POLLOUT, 0};
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        if (poll(&p, 1, 2000) <= 0) {
            return false;
        }
    }
    return true;
}

// Reads until nCount bytes came or the time is up; what came.
inline Bytes ReadFor(int fd, std::size_t nCount, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    Bytes bytes;
    std::uint8_t chunk[4096];
    while (bytes.size() < nCount) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        const ssize_t n = read(fd, chunk, std::min(sizeof chunk, nCount - bytes.size()));
        if (n <= 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

// Waits until a terminal holds nCount unread bytes for its readers (0: until
// they have read everything).
inline bool WaitUntilQueued(int fd, int nCount, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    int nQueued = 0;
    while (ioctl(fd, FIONREAD, &nQueued) == 0 && nQueued != nCount) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return nQueued == nCount;
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
// what the answer function gives for each.
class DeviceSimulator {
public:
    using Answer = std::function<Bytes(const Bytes& request)>;

    DeviceSimulator(int fd, std::size_t nRequestSize, Answer answer) {
        if (pipe(m_wake) != 0) {
            m_wake[0] = m_wake[1] = -1;
        }
        m_thread = std::thread([=, this] { Run(fd, nRequestSize, answer); });
    }
    ~DeviceSimulator() {
        const char c = 0;
        [[maybe_unused]] const ssize_t n = write(m_wake[1], &c, 1);
        m_thread.join();
        close(m_wake[0]);
        close(m_wake[1]);
    }
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;

    int Requests() const { return m_nRequests.load(); }

private:
    void Run(int fd, std::size_t nRequestSize, const Answer& answer) {
        Bytes request;
        std::uint8_t chunk[256];
        for (;;) {
            pollfd p[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            if (poll(p, 2, -1) < 0 || p[1].revents != 0 || (p[0].revents & POLLIN) == 0) {
                return;
            }
            const ssize_t n =
                read(fd, chunk, std::min(sizeof chunk, nRequestSize - request.size()));
            if (n <= 0) {
                return;
            }
            request.insert(request.end(), chunk, chunk + n);
            if (request.size() == nRequestSize) {
                ++m_nRequests;
                WriteAll(fd, answer(request));
                request.clear();
            }
        }
    }

    int m_wake[2] = {-1, -1};
    std::atomic<int> m_nRequests{0};
    std::thread m_thread;
};

// socat -d -d pty,raw,echo=0 pty,raw,echo=0: two linked pseudo-terminals,
// whose names socat tells on its standard error.
class SocatPty {
public:
    SocatPty() {
        int err[2];
        if (pipe(err) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            dup2(err[1], STDERR_FILENO);
            close(err[0]);
            close(err[1]);
            execlp("socat", "socat", "-d", "-d", "pty,raw,echo=0", "pty,raw,echo=0", nullptr);
            _exit(127);
        }
        close(err[1]);
        // Kept open: socat goes on logging there, and would die of a broken
        // pipe.
        m_err = err[0];
        ReadNames(m_err);
    }
    ~SocatPty() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_err >= 0) {
            close(m_err);
        }
    }
    SocatPty(const SocatPty&) = delete;
    SocatPty& operator=(const SocatPty&) = delete;

    bool IsRunning() const { return m_ends.size() == 2; }
    const std::string& End(int n) const { return m_ends[static_cast<std::size_t>(n)]; }

private:
    // Each end is announced as "... PTY is /dev/pts/N"; socat then waits.
    void ReadNames(int fd) {
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (m_ends.size() < 2 && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            char chunk[256];
            if (poll(&p, 1, 200) <= 0) {
                continue;
            }
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n <= 0) {
                return;
            }
            text.append(chunk, static_cast<std::size_t>(n));
            std::size_t nLine;
            while ((nLine = text.find('\n')) != std::string::npos) {
                const std::string line = text.substr(0, nLine);
                text.erase(0, nLine + 1);
                const std::size_t nAt = line.find("PTY is ");
                if (nAt != std::string::npos) {
                    m_ends.push_back(line.substr(nAt + 7));
                }
            }
        }
    }

    pid_t m_pid = -1;
    int m_err = -1;
    std::vector<std::string> m_ends;
};

}  // namespace testsupport
