#include "kelvara/sibling/SystemUtility.h"

#include "kelvara/platform/Clock.h"
#include "kelvara/platform/SystemError.h"

CString GetLastErrorMessage() {
    const int nError = kelvara::platform::LastSystemError();
    return CString(kelvara::platform::SystemErrorText(nError));
}

void GetCurrentFileTime(FILETIME& ft) {
    ft = MakeFileTime(kelvara::platform::CurrentFileTime());
}
