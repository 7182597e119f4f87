#!/usr/bin/env bash
# Installs, from Debian's packages, what building and testing Kelvara needs.
# Does nothing when everything is already there. Run as root.
set -euo pipefail

packages=(cmake g++ ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          clang libclang-rt-14-dev clang-format socat libmodbus-dev mbpoll
          doxygen graphviz python3 dpkg-dev lintian)
if [ "${1:-}" = "--demo" ]; then
    packages=(cmake g++ ninja-build)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
