#!/usr/bin/env bash
# Builds the library and its demo host on a Debian 12 machine (as root) and
# runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --demo
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVARA_BUILD_TESTS=OFF >/dev/null
cmake --build build/demo -j "${JOBS:-2}" --target kelvara_demo
exec build/demo/examples/kelvara_demo "$@"
