/** \addtogroup sibling
 @{ */
// The log library's entry point: QZLogMessage hands a level and a text to
// the sink the host installed; without one, the line goes to standard
// error.
#pragma once

#include <functional>

#include "kelvara/framework/Export.h"
#include "kelvara/framework/Types.h"

/// Level of the system error messages of the transports.
constexpr DWORD QZLOG_LEVEL_SYSTEM_ERROR = 1;

/// Where the log's lines go: a level and a text.
using QZLogSink = std::function<void(DWORD dwLevel, const char* pszText)>;

/// Sends one message to the installed sink. A null text counts as empty.
KELVARA_API void QZLogMessage(DWORD dwLevel, const char* pszText);

/// Installs the sink for every later message, from any thread; an empty
/// sink restores standard error. The sink may be called from several
/// threads at once.
KELVARA_API void QZSetLogSink(QZLogSink sink);
/** @} */
