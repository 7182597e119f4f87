#!/usr/bin/env bash
# Fails when system-specific code appears outside the per-system files:
# an errno constant, an operating-system header or a compiler extension.
#
# The per-system files are kelvara/platform/<system>/; compiler differences
# that cannot be avoided live in kelvara/framework/Export.h. Tests and
# benchmarks may include system headers where they play a device or a peer
# through the system's own calls (ptys, raw sockets, child processes), but
# assert error categories, not errno values; only the test peers of
# tests/support/ and the benchmarks' baselines may name errno constants.
set -euo pipefail
cd "$(dirname "$0")/.."

sources=(kelvara examples tools tests bench fuzz cmake/consumer)
per_system=(':!kelvara/platform/posix/*' ':!kelvara/platform/win32/*')
system_peers=(':!tests/support/*' ':!bench/*')
status=0

report() {
    local what=$1 hits=$2
    if [ -n "$hits" ]; then
        echo "$what outside the per-system files:"
        echo "$hits" | sed 's/^/    /'
        status=1
    fi
}

errno_names='E(2BIG|ACCES|ADDRINUSE|ADDRNOTAVAIL|AGAIN|ALREADY|BADF|BUSY|CANCELED|CONNABORTED|CONNREFUSED|CONNRESET|DEADLK|DESTADDRREQ|EXIST|FAULT|HOSTUNREACH|INPROGRESS|INTR|INVAL|IO|ISCONN|MFILE|NETDOWN|NETUNREACH|NFILE|NOBUFS|NODEV|NOENT|NOMEM|NOSPC|NOSYS|NOTCONN|NOTSOCK|NOTSUP|NOTTY|NXIO|OPNOTSUPP|OVERFLOW|PERM|PIPE|RANGE|TIMEDOUT|WOULDBLOCK)'
report "errno constants" "$(git grep -n -I -w -E "$errno_names|errno\\b" -- "${sources[@]/%//*.cpp}" \
    "${sources[@]/%//*.h}" "${per_system[@]}" "${system_peers[@]}" || true)"

os_headers='#include <((cerrno|errno|unistd|termios|fcntl|poll|pthread|dlfcn|pty|signal|windows|winsock2|ws2tcpip|io|direct)\.h|cerrno|(sys|arpa|netinet|asm|linux)/)'
product=(kelvara examples tools fuzz cmake/consumer)
report "operating-system headers" "$(git grep -n -I -E "$os_headers" -- \
    "${product[@]/%//*.cpp}" "${product[@]/%//*.h}" "${per_system[@]}" || true)"

extensions='__attribute__|__declspec|__int128|__extension__|__builtin_|__asm|_Pragma|#[[:space:]]*pragma[[:space:]]+(GCC|clang|warning)'
report "compiler extensions" "$(git grep -n -I -E "$extensions" -- "${sources[@]/%//*.cpp}" \
    "${sources[@]/%//*.h}" "${per_system[@]}" ':!kelvara/framework/Export.h' || true)"

if [ $status -eq 0 ]; then
    echo "portable: no errno constant, system header or compiler extension outside the per-system files"
fi
exit $status
