/** \addtogroup resources
 @{ */
// The library's own string table: error texts, captions and the texts of
// the table-location checks, under two resource languages with identical
// texts.
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Resource.h"
#include "kelvara/framework/Types.h"

/// The library's module handle, to pass to ModuleLoadString.
KELVARA_API HINSTANCE KelvaraGetResourceHandle();
/// The framework's name for the same handle.
inline HINSTANCE AfxGetResourceHandle() {
    return KelvaraGetResourceHandle();
}
/** @} */
