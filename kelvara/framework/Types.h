// Integer typedefs and small value types of the application framework.
//
// The widths are fixed: DWORD is 32 bits on every platform, so archive records
// written here read back byte for byte wherever the library runs.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using BOOL = std::int32_t;
using UINT = unsigned int;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using INT_PTR = std::ptrdiff_t;
using UINT_PTR = std::size_t;
using LPCSTR = const char*;
using LPCTSTR = const char*;
using LPSTR = char*;
using LPTSTR = char*;
using LPVOID = void*;

// A wait without a time limit.
constexpr DWORD INFINITE = 0xFFFFFFFFu;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// 64-bit count of 100 ns intervals since 1601-01-01 UTC, split in two halves.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

// Opaque iterator of the framework's lists.
struct __POSITION {};
using POSITION = __POSITION*;

// Builds a FILETIME from its 64-bit value and back.
inline FILETIME MakeFileTime(ULONGLONG value) {
    return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}
inline ULONGLONG FileTimeToULongLong(const FILETIME& ft) {
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
