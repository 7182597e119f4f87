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

}  // namespace kelvara::platform
