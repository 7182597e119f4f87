#include "kelvara/protocol/ErrorCodes.h"

#include "kelvara/resources/StringTable.h"
#include "kelvara/sibling/Utility.h"

CString GetStandardErrorMessage(DWORD dwCode) {
    CString strMessage;
    // The id is computed in 32 bits, so codes near 2^32 wrap, as they
    // always have.
    const UINT nID = static_cast<UINT>(static_cast<DWORD>(IDS_STANDARD_ERROR_BASE + dwCode));
    if (ModuleLoadString(&strMessage, nID, KelvaraGetResourceHandle()) == 0) {
        // %ld of a 32-bit long: codes from 2^31 up read as negative.
        strMessage.Format("Unknown standard error, code  %ld",
                          static_cast<long>(static_cast<LONG>(dwCode)));
    }
    return strMessage;
}
