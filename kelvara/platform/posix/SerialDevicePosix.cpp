// The system's serial devices on POSIX: a terminal device as the line under
// a LineSerialDevice (Linux termios2, so that any baud rate can be set, not
// only the ones with a B<rate> constant).
//
// The descriptor stays non-blocking: every wait is a poll() with a deadline
// computed by the caller, so no read or write waits longer than its time-out,
// whatever VMIN and VTIME could express. (A standing epoll registration was
// measured too: no faster for one descriptor, and one more per line.)
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>

#include "kelvara/platform/LineSerialDevice.h"

namespace kelvara::platform {

namespace {

struct StandardRate {
    std::uint32_t dwRate;
    unsigned nCode;
};

// Rates with a classic code; any other rate goes through BOTHER.
constexpr StandardRate kStandardRates[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

unsigned RateCode(std::uint32_t dwRate) {
    for (const StandardRate& r : kStandardRates) {
        if (r.dwRate == dwRate) {
            return r.nCode;
        }
    }
    return BOTHER;
}

// Raw mode, as cfmakeraw() would set it, for termios2.
void MakeRaw(termios2& t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXANY | IMAXBEL | IGNPAR);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

void SetFlag(tcflag_t& flags, tcflag_t bits, bool bOn) {
    flags = bOn ? (flags | bits) : (flags & ~bits);
}

bool EncodeAttributes(const LineAttributes& a, termios2& t) {
    if (a.dwBaudRate == 0 || a.byDataBits < 5 || a.byDataBits > 8) {
        errno = EINVAL;
        return false;
    }
    MakeRaw(t);
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= RateCode(a.dwBaudRate);
    t.c_ispeed = a.dwBaudRate;
    t.c_ospeed = a.dwBaudRate;

    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | kSizes[a.byDataBits - 5];

    const bool bParity = a.parity != LineParity::None;
    SetFlag(t.c_cflag, PARENB, bParity);
    SetFlag(t.c_cflag, PARODD, a.parity == LineParity::Odd || a.parity == LineParity::Mark);
    SetFlag(t.c_cflag, CMSPAR, a.parity == LineParity::Mark || a.parity == LineParity::Space);
    SetFlag(t.c_iflag, INPCK, a.bCheckParity);

    SetFlag(t.c_cflag, CSTOPB, a.bTwoStopBits);
    SetFlag(t.c_cflag, CRTSCTS, a.bHardwareFlow);
    SetFlag(t.c_iflag, IXON, a.bXonXoffOutput);
    SetFlag(t.c_iflag, IXOFF, a.bXonXoffInput);
    t.c_cc[VSTART] = a.byXonChar;
    t.c_cc[VSTOP] = a.byXoffChar;
    return true;
}

LineAttributes DecodeAttributes(const termios2& t) {
    LineAttributes a;
    a.dwBaudRate = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            a.byDataBits = 5;
            break;
        case CS6:
            a.byDataBits = 6;
            break;
        case CS7:
            a.byDataBits = 7;
            break;
        default:
            a.byDataBits = 8;
            break;
    }
    if ((t.c_cflag & PARENB) == 0) {
        a.parity = LineParity::None;
    } else if (t.c_cflag & CMSPAR) {
        a.parity = (t.c_cflag & PARODD) ? LineParity::Mark : LineParity::Space;
    } else {
        a.parity = (t.c_cflag & PARODD) ? LineParity::Odd : LineParity::Even;
    }
    a.bCheckParity = (t.c_iflag & INPCK) != 0;
    a.bTwoStopBits = (t.c_cflag & CSTOPB) != 0;
    a.bHardwareFlow = (t.c_cflag & CRTSCTS) != 0;
    a.bXonXoffOutput = (t.c_iflag & IXON) != 0;
    a.bXonXoffInput = (t.c_iflag & IXOFF) != 0;
    a.byXonChar = t.c_cc[VSTART];
    a.byXoffChar = t.c_cc[VSTOP];
    return a;
}

// One wait (as poll(): >0 ready, 0 timed out, <0 failed), started
// again after a signal with what is left of the time-out (-1: no limit).
template <typename WaitOnce>
WaitResult WaitWithRetry(int nTimeoutMs, WaitOnce waitOnce) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        const int n = waitOnce(nTimeoutMs);
        if (n > 0) {
            return WaitResult::Ready;
        }
        if (n == 0) {
            return WaitResult::TimedOut;
        }
        if (errno != EINTR) {
            return WaitResult::Failed;
        }
        if (nTimeoutMs > 0) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            nTimeoutMs = left > 0 ? static_cast<int>(left) : 0;
        }
    }
}

WaitResult PollFor(int fd, short nEvents, int nTimeoutMs) {
    return WaitWithRetry(nTimeoutMs, [fd, nEvents](int nMs) {
        pollfd p{fd, nEvents, 0};
        return ::poll(&p, 1, nMs);
    });
}

class TermiosSerialLine final : public SerialLine {
public:
    // bExclusive: the line set the terminal's exclusive mode and clears it
    // again when it lets go.
    TermiosSerialLine(int fd, bool bExclusive) : m_fd(fd), m_bExclusive(bExclusive) {}
    ~TermiosSerialLine() override {
        if (m_fd >= 0) {
            const int nSaved = errno;
            ReleaseExclusive();
            ::close(m_fd);
            errno = nSaved;
        }
    }
    TermiosSerialLine(const TermiosSerialLine&) = delete;
    TermiosSerialLine& operator=(const TermiosSerialLine&) = delete;

    // Linux has no event mask and no settable driver queues: the values are
    // kept so that they read back as set, and have no other effect.
    bool SetEventMask(std::uint32_t dwMask) override {
        m_dwEventMask = dwMask;
        return Usable();
    }
    bool SetQueueSizes(std::uint32_t dwInput, std::uint32_t dwOutput) override {
        m_dwInputQueue = dwInput;
        m_dwOutputQueue = dwOutput;
        return Usable();
    }
    bool GetTimeouts(CommTimeouts* pTimeouts) override {
        *pTimeouts = m_timeouts;
        return Usable();
    }
    bool SetTimeouts(const CommTimeouts& timeouts) override {
        m_timeouts = timeouts;
        return Usable();
    }

    bool GetAttributes(LineAttributes* pAttributes) override {
        termios2 t{};
        if (::ioctl(m_fd, TCGETS2, &t) != 0) {
            return false;
        }
        *pAttributes = DecodeAttributes(t);
        return true;
    }

    bool SetAttributes(const LineAttributes& attributes) override {
        termios2 t{};
        if (::ioctl(m_fd, TCGETS2, &t) != 0) {
            return false;
        }
        return EncodeAttributes(attributes, t) && ::ioctl(m_fd, TCSETS2, &t) == 0;
    }

    bool SetModemLines(unsigned nLines, bool bRaise) override {
        int bits = 0;
        if (nLines & kLineRTS) {
            bits |= TIOCM_RTS;
        }
        if (nLines & kLineDTR) {
            bits |= TIOCM_DTR;
        }
        return ::ioctl(m_fd, bRaise ? TIOCMBIS : TIOCMBIC, &bits) == 0;
    }

    bool GetRs485(bool* pEnabled) override {
        serial_rs485 rs{};
        if (::ioctl(m_fd, TIOCGRS485, &rs) != 0) {
            return false;
        }
        *pEnabled = (rs.flags & SER_RS485_ENABLED) != 0;
        return true;
    }

    // Keeps the device's own delays; RTS is high while sending only.
    bool SetRs485(bool bEnable) override {
        serial_rs485 rs{};
        if (::ioctl(m_fd, TIOCGRS485, &rs) != 0) {
            return false;
        }
        if (bEnable) {
            rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
            rs.flags &= ~static_cast<__u32>(SER_RS485_RTS_AFTER_SEND);
        } else {
            rs.flags &= ~static_cast<__u32>(SER_RS485_ENABLED);
        }
        return ::ioctl(m_fd, TIOCSRS485, &rs) == 0;
    }

    bool SetBreak(bool bOn) override { return ::ioctl(m_fd, bOn ? TIOCSBRK : TIOCCBRK) == 0; }

    bool SuspendOutput(bool bSuspend) override {
        return ::ioctl(m_fd, TCXONC, bSuspend ? TCOOFF : TCOON) == 0;
    }

    bool Flush(bool bInput, bool bOutput) override {
        if (!bInput && !bOutput) {
            return Usable();
        }
        const int nQueue = bInput && bOutput ? TCIOFLUSH : (bInput ? TCIFLUSH : TCOFLUSH);
        return ::ioctl(m_fd, TCFLSH, nQueue) == 0;
    }

    bool GetErrorCounts(LineErrorCounts* pCounts) override {
        serial_icounter_struct c{};
        if (::ioctl(m_fd, TIOCGICOUNT, &c) != 0) {
            return false;
        }
        pCounts->dwFrame = static_cast<std::uint32_t>(c.frame);
        pCounts->dwOverrun = static_cast<std::uint32_t>(c.overrun);
        pCounts->dwParity = static_cast<std::uint32_t>(c.parity);
        pCounts->dwBreak = static_cast<std::uint32_t>(c.brk);
        pCounts->dwBufferOverrun = static_cast<std::uint32_t>(c.buf_overrun);
        return true;
    }

    bool ReadSome(void* pData, std::size_t nSize, std::size_t* pRead) override {
        *pRead = 0;
        if (nSize == 0) {
            return Usable();
        }
        for (;;) {
            const ssize_t n = ::read(m_fd, pData, nSize);
            if (n > 0) {
                *pRead = static_cast<std::size_t>(n);
                return true;
            }
            if (n == 0) {
                // End of file on a terminal: the other side hung up.
                errno = EIO;
                return false;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return true;
            }
            if (errno != EINTR) {
                return false;
            }
        }
    }

    bool WriteSome(const void* pData, std::size_t nSize, std::size_t* pWritten) override {
        *pWritten = 0;
        if (nSize == 0) {
            return Usable();
        }
        for (;;) {
            const ssize_t n = ::write(m_fd, pData, nSize);
            if (n >= 0) {
                *pWritten = static_cast<std::size_t>(n);
                return true;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return true;
            }
            if (errno != EINTR) {
                return false;
            }
        }
    }

    WaitResult WaitReadable(int nTimeoutMs) override { return PollFor(m_fd, POLLIN, nTimeoutMs); }
    WaitResult WaitWritable(int nTimeoutMs) override { return PollFor(m_fd, POLLOUT, nTimeoutMs); }

    // The output queue first, then (where the driver tells) the UART's
    // shift register, so the last stop bit has left before RTS drops.
    WaitResult Drain(int nTimeoutMs) override {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
        bool bLsrKnown = true;
        for (;;) {
            int nPending = 0;
            if (::ioctl(m_fd, TIOCOUTQ, &nPending) != 0) {
                return WaitResult::Failed;
            }
            unsigned nLsr = TIOCSER_TEMT;
            if (nPending == 0 && bLsrKnown && ::ioctl(m_fd, TIOCSERGETLSR, &nLsr) != 0) {
                bLsrKnown = false;
                nLsr = TIOCSER_TEMT;
            }
            if (nPending == 0 && (nLsr & TIOCSER_TEMT)) {
                return WaitResult::Ready;
            }
            if (Clock::now() >= deadline) {
                return WaitResult::TimedOut;
            }
            // A byte takes about 1 ms at 9600 baud: check again after that.
            const timespec pause{0, 500'000};
            ::nanosleep(&pause, nullptr);
        }
    }

    bool Close() override {
        if (m_fd < 0) {
            errno = EBADF;
            return false;
        }
        ReleaseExclusive();
        const int fd = m_fd;
        m_fd = -1;
        // The descriptor is gone even when close() reports an error.
        return ::close(fd) == 0;
    }

private:
    // Exclusive mode belongs to the terminal, not to the descriptor: left
    // set, it would outlive this line wherever another descriptor keeps the
    // terminal open (the other end of a pseudo-terminal, a process that had
    // it open already) and lock every later opener out with EBUSY.
    void ReleaseExclusive() {
        if (m_bExclusive) {
            m_bExclusive = false;
            ::ioctl(m_fd, TIOCNXCL);
        }
    }

    bool Usable() const {
        if (m_fd < 0) {
            errno = EBADF;
            return false;
        }
        return true;
    }

    int m_fd;
    bool m_bExclusive;
    std::uint32_t m_dwEventMask = 0;
    std::uint32_t m_dwInputQueue = 0;
    std::uint32_t m_dwOutputQueue = 0;
    CommTimeouts m_timeouts;
};

bool IsExclusive(int fd) {
    int nExclusive = 0;
    return ::ioctl(fd, TIOCGEXCL, &nExclusive) == 0 && nExclusive != 0;
}

}  // namespace

std::optional<std::string> DefaultComPortDevice(unsigned nPort) {
    if (nPort == 0) {
        return std::nullopt;
    }
    return "/dev/ttyS" + std::to_string(nPort - 1);
}

std::unique_ptr<SerialDevice> OpenSystemSerialDevice(const std::string& strDevice) {
    const int fd = ::open(strDevice.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    auto fail = [fd](int nError) -> std::unique_ptr<SerialDevice> {
        ::close(fd);
        errno = nError;
        return nullptr;
    };
    if (!::isatty(fd)) {
        return fail(ENOTTY);
    }
    // The lock keeps out every other opener that asks for exclusive use,
    // root or not; a device someone else holds is left exactly as it was.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    }
    // Exclusive mode keeps out every other process but root. Where it was
    // set already (root opening a terminal that another program holds), it
    // is that program's to clear.
    return std::make_unique<LineSerialDevice>(
        std::make_unique<TermiosSerialLine>(fd, !IsExclusive(fd) && ::ioctl(fd, TIOCEXCL) == 0));
}

}  // namespace kelvara::platform
