#include <cerrno>
#include <cstring>
#include <string>
#include <type_traits>

#include "kelvara/platform/SystemError.h"

namespace kelvara::platform {

namespace {

// strerror_r comes in two shapes: the XSI one fills the buffer and returns
// an int, the GNU one returns the text (maybe not in the buffer).
[[maybe_unused]] const char* PickText(int nResult, const char* pszBuffer) {
    return nResult == 0 ? pszBuffer : nullptr;
}
[[maybe_unused]] const char* PickText(const char* pszResult, const char*) {
    return pszResult;
}

}  // namespace

int LastSystemError() {
    return errno;
}

void SetLastSystemError(int nError) {
    errno = nError;
}

std::string SystemErrorText(int nError) {
    const int nSaved = errno;
    char buffer[256] = {};
    const char* psz = PickText(strerror_r(nError, buffer, sizeof buffer), buffer);
    std::string text = psz && *psz ? psz : "Unknown error " + std::to_string(nError);
    errno = nSaved;
    return text;
}

ErrorCategory ErrorCategoryOf(int nError) {
    switch (nError) {
        case 0:
            return ErrorCategory::None;
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
        case EINPROGRESS:
            return ErrorCategory::WouldBlock;
        case ETIMEDOUT:
            return ErrorCategory::TimedOut;
        case ECONNREFUSED:
            return ErrorCategory::Refused;
        case ECONNRESET:
        case ECONNABORTED:
        case EPIPE:
        case ENOTCONN:
            return ErrorCategory::Closed;
        case ENODEV:
        case ENXIO:
            return ErrorCategory::NoDevice;
        case ENOENT:
            return ErrorCategory::NotFound;
        case EBUSY:
        case EADDRINUSE:
            return ErrorCategory::Busy;
        case ENOTTY:
        case ENOSYS:
        case EOPNOTSUPP:
#if ENOTSUP != EOPNOTSUPP
        case ENOTSUP:
#endif
            return ErrorCategory::NotSupported;
        case EINVAL:
        case EFAULT:
            return ErrorCategory::Invalid;
        case EBADF:
            return ErrorCategory::BadHandle;
        case ECANCELED:
            return ErrorCategory::Aborted;
        default:
            return ErrorCategory::Other;
    }
}

int SystemErrorOf(ErrorCategory category) {
    switch (category) {
        case ErrorCategory::None:
            return 0;
        case ErrorCategory::WouldBlock:
            return EAGAIN;
        case ErrorCategory::TimedOut:
            return ETIMEDOUT;
        case ErrorCategory::Refused:
            return ECONNREFUSED;
        case ErrorCategory::Closed:
            return ECONNRESET;
        case ErrorCategory::NoDevice:
            return ENODEV;
        case ErrorCategory::NotFound:
            return ENOENT;
        case ErrorCategory::Busy:
            return EBUSY;
        case ErrorCategory::NotSupported:
            return ENOTTY;
        case ErrorCategory::Invalid:
            return EINVAL;
        case ErrorCategory::BadHandle:
            return EBADF;
        case ErrorCategory::Aborted:
            return ECANCELED;
        case ErrorCategory::Other:
            break;
    }
    return EIO;
}

}  // namespace kelvara::platform
