#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "kelvara/platform/PseudoTerminal.h"

namespace kelvara::platform {

namespace {

class PosixPseudoTerminal : public PseudoTerminal {
public:
    PosixPseudoTerminal(int nController, int nDevice, std::string strPath)
        : m_nController(nController), m_nDevice(nDevice), m_strPath(std::move(strPath)) {}
    ~PosixPseudoTerminal() override {
        close(m_nDevice);
        close(m_nController);
    }
    PosixPseudoTerminal(const PosixPseudoTerminal&) = delete;
    PosixPseudoTerminal& operator=(const PosixPseudoTerminal&) = delete;

    const std::string& DevicePath() const override { return m_strPath; }

    int WaitReadable(int nTimeoutMs) override { return Wait(POLLIN, nTimeoutMs); }

    std::ptrdiff_t Read(void* pBuffer, std::size_t nLength) override {
        for (;;) {
            const ssize_t n = read(m_nController, pBuffer, nLength);
            if (n >= 0) {
                return n;
            }
            if (errno == EAGAIN) {
                return 0;
            }
            if (errno != EINTR) {
                return -1;
            }
        }
    }

    bool Write(const void* pData, std::size_t nLength, int nTimeoutMs) override {
        const auto* p = static_cast<const unsigned char*>(pData);
        for (std::size_t nDone = 0; nDone < nLength;) {
            const ssize_t n = write(m_nController, p + nDone, nLength - nDone);
            if (n > 0) {
                nDone += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            } else if (Wait(POLLOUT, nTimeoutMs) != 1) {
                return false;
            }
        }
        return true;
    }

private:
    int Wait(short nEvents, int nTimeoutMs) {
        pollfd p{m_nController, nEvents, 0};
        for (;;) {
            const int n = poll(&p, 1, nTimeoutMs);
            if (n >= 0) {
                return n > 0 && (p.revents & nEvents) != 0 ? 1 : (n > 0 ? -1 : 0);
            }
            if (errno != EINTR) {
                return -1;
            }
        }
    }

    int m_nController;
    int m_nDevice;
    std::string m_strPath;
};

bool MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        return false;
    }
    cfmakeraw(&t);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

std::unique_ptr<PseudoTerminal> PseudoTerminal::Open(ErrorCategory* pError) {
    const int nController = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    const char* pszName = nullptr;
    int nDevice = -1;
    if (nController >= 0 && grantpt(nController) == 0 && unlockpt(nController) == 0 &&
        (pszName = ptsname(nController)) != nullptr) {
        nDevice = open(pszName, O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    if (nDevice < 0 || !MakeRaw(nDevice)) {
        const int nError = errno;
        if (nDevice >= 0) {
            close(nDevice);
        }
        if (nController >= 0) {
            close(nController);
        }
        if (pError != nullptr) {
            *pError = ErrorCategoryOf(nError);
        }
        SetLastSystemError(nError);
        return nullptr;
    }
    if (pError != nullptr) {
        *pError = ErrorCategory::None;
    }
    return std::make_unique<PosixPseudoTerminal>(nController, nDevice, pszName);
}

}  // namespace kelvara::platform
