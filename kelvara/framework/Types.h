/** \addtogroup framework
 @{ */
// Integer typedefs and small value types of the application framework.
//
// The widths are fixed: DWORD is 32 bits on every platform, so archive records
// written here read back byte for byte wherever the library runs.
#pragma once

#include <cstddef>
#include <cstdint>

/// The framework's integer and pointer types, with fixed widths.
using BYTE = std::uint8_t;        ///< 8-bit unsigned
using WORD = std::uint16_t;       ///< 16-bit unsigned
using DWORD = std::uint32_t;      ///< 32-bit unsigned
using LONG = std::int32_t;        ///< 32-bit signed
using ULONG = std::uint32_t;      ///< 32-bit unsigned
using BOOL = std::int32_t;        ///< 32-bit boolean: 0 or nonzero
using UINT = unsigned int;        ///< unsigned int
using LONGLONG = std::int64_t;    ///< 64-bit signed
using ULONGLONG = std::uint64_t;  ///< 64-bit unsigned
using INT_PTR = std::ptrdiff_t;   ///< signed, pointer-sized
using UINT_PTR = std::size_t;     ///< unsigned, pointer-sized
using LPCSTR = const char*;       ///< constant C string
using LPCTSTR = const char*;      ///< constant C string
using LPSTR = char*;              ///< C string
using LPTSTR = char*;             ///< C string
using LPVOID = void*;             ///< untyped pointer

/// A wait without a time limit.
constexpr DWORD INFINITE = 0xFFFFFFFFu;

#ifndef TRUE
///@{
/// The framework's boolean values.
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
///@}
#endif

/// 64-bit count of 100 ns intervals since 1601-01-01 UTC, split in two halves.
struct FILETIME {
    ///@{
    /// Low and high 32 bits of the 64-bit value.
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
    ///@}
};

/// Opaque iterator of the framework's lists.
struct __POSITION {};
/// A place in one of the framework's lists; null is before the head or past the tail.
using POSITION = __POSITION*;

/// Builds a FILETIME from its 64-bit value and back.
inline FILETIME MakeFileTime(ULONGLONG value) {
    return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}
/// See MakeFileTime.
inline ULONGLONG FileTimeToULongLong(const FILETIME& ft) {
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
/** @} */
