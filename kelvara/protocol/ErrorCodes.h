/** \addtogroup protocol
 @{ */
// The standard error codes shared by every driver, transport and host, and
// the one rule that turns a code into its message.
//
// A code's message is string 10000 + code of the library's string table;
// a code without a string (a driver's own, say) gets the text
// "Unknown standard error, code  <code>".
#pragma once

#include "kelvara/framework/Export.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Types.h"

/// The standard error codes.
enum StandardErrorCode : DWORD {
    SE_NO_ERROR = 0,

    /// Serial COM port.
    SE_COM_OPEN_FAILED = 1100,
    SE_COM_CLOSE_FAILED = 1101,
    SE_COM_INIT_FAILED = 1102,
    SE_COM_HANGUP_FAILED = 1103,
    SE_COM_CONTROL_LINE_FAILED = 1104,
    SE_COM_WRITE_FAILED = 1105,
    SE_COM_READ_FAILED = 1106,
    SE_COM_NOT_CONNECTED = 1107,
    SE_COM_HARDWARE_PROBLEM = 1108,

    /// ARCNET network port.
    SE_NET_UNKNOWN_ERROR = 1200,
    SE_NET_ACK_TIMEOUT = 1201,
    SE_NET_POLL_LIST_TOO_SMALL = 1202,
    SE_NET_NO_POLL_LIST = 1203,
    SE_NET_NOT_SENT = 1204,

    /// TCP/IP port.
    SE_TCPIP_SOCKET_ERROR = 1400,
    SE_TCPIP_LISTEN_NOT_RUNNING = 1401,
    SE_TCPIP_NOT_CONNECTED = 1402,
    SE_TCPIP_READ_FAILED = 1403,
    SE_TCPIP_WRITE_FAILED = 1404,
    SE_TCPIP_WOULD_BLOCK = 1405,

    /// Protocol level: the base classes and the drivers.
    SE_NOT_IMPLEMENTED = 2000,
    SE_TIMEOUT = 2001,
    SE_CHECKSUM_ERROR = 2002,
    SE_INVALID_FORMAT = 2003,
    SE_NAK_RECEIVED = 2004,
    SE_INVALID_BLOCK = 2005,
    SE_PROTOCOL_RESTART = 2006,
    SE_PROTOCOL_NOT_STARTED = 2007,
    SE_NO_NEXT_ADDRESS = 2008,
    SE_PROPERTY_SHEET_FAILED = 2009,
    SE_INVALID_BIT_OFFSET = 2010,
    SE_INVALID_STRING_LENGTH = 2011,
    SE_INVALID_DATA_TYPE = 2012,
    SE_INTERNAL_ERROR = 2013,
};

/// String ids of the table that belong to the error codes.
constexpr UINT IDS_STANDARD_ERROR_BASE = 10000;
/// "%s : Reported Win32 error code %d, message "%s"": port name, system
/// error number, system text.
constexpr UINT IDS_SYSTEM_ERROR_FORMAT = 12014;

/// The message of a standard error code; never fails.
KELVARA_API CString GetStandardErrorMessage(DWORD dwCode);
/** @} */
