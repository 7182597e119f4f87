#!/usr/bin/env bash
# Builds and runs every test of Kelvara on a Debian 12 machine (as root):
#   format   clang-format check of every source file
#   portable no errno constant, system header or compiler extension outside
#            the per-system files
#   normal   warnings as errors, unit tests, benchmarks built, install and
#            consumer checks (find_package, add_subdirectory, pkg-config)
#   asan     unit tests under AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan     unit tests under ThreadSanitizer
#   fuzz     every libFuzzer target for FUZZ_SECONDS (default 20) each
#   docs     the API reference (Doxygen), any warning an error
#   package  the Debian packages: built, installed, used, removed, linted
# With no arguments all stages run in that order; name stages to run fewer.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
stages=${*:-format portable normal asan tsan fuzz docs package}
jobs=${JOBS:-2}
fuzz_seconds=${FUZZ_SECONDS:-20}

bash scripts/install-deps.sh

passed=0
failed=0
summary=()

# Runs ctest in a build folder and adds its counts to the totals.
run_ctest() {
    local dir=$1 label=$2 out rc=0
    out=$(ctest --test-dir "$dir" --output-on-failure -j "$jobs" 2>&1) || rc=$?
    echo "$out"
    local line total bad
    line=$(echo "$out" | grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' | tail -n 1)
    total=$(echo "$line" | sed -E 's/.*out of ([0-9]+).*/\1/')
    bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed.*/\1/')
    if [ -z "$line" ]; then
        total=1
        bad=1
    fi
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    summary+=("$label: $((total - bad)) of $total test programs passed")
    return $rc
}

configure_and_build() {
    local dir=$1
    shift
    cmake -S "$root" -B "$dir" -G Ninja -DKELVARA_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

stage_format() {
    echo "== format"
    git ls-files '*.h' '*.cpp' | xargs clang-format --dry-run --Werror
    summary+=("format: clean")
}

stage_portable() {
    echo "== portable"
    bash scripts/check-portable.sh
    summary+=("portable: clean")
}

stage_normal() {
    echo "== normal build"
    configure_and_build build/normal -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVARA_BUILD_BENCH=ON
    run_ctest build/normal normal
    echo "== install and consumer checks"
    local prefix=$root/build/normal-install
    rm -rf "$prefix" build/consumer-*
    cmake --install build/normal --prefix "$prefix" >/dev/null
    cmake -S cmake/consumer -B build/consumer-package -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
    cmake --build build/consumer-package -j "$jobs" >/dev/null
    LD_LIBRARY_PATH=$prefix/lib build/consumer-package/kelvara_consumer
    cmake -S cmake/consumer -B build/consumer-subdir -G Ninja -DKELVARA_SOURCE_DIR="$root" >/dev/null
    cmake --build build/consumer-subdir -j "$jobs" >/dev/null
    build/consumer-subdir/kelvara_consumer
    local pc_flags
    pc_flags=$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --cflags --libs kelvara)
    # shellcheck disable=SC2086
    g++ cmake/consumer/main.cpp -o build/consumer-pkgconfig $pc_flags
    LD_LIBRARY_PATH=$prefix/lib build/consumer-pkgconfig
    objdump -p "$prefix/lib/libkelvara.so" | grep -q 'SONAME *libkelvara.so.0'
    summary+=("install: find_package, add_subdirectory, pkg-config and SONAME checks passed")
}

stage_asan() {
    echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
    configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DKELVARA_SANITIZE="address;undefined"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        run_ctest build/asan asan+ubsan
}

stage_tsan() {
    echo "== ThreadSanitizer"
    configure_and_build build/tsan -DCMAKE_BUILD_TYPE=Debug -DKELVARA_SANITIZE=thread
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest build/tsan tsan
}

stage_fuzz() {
    echo "== fuzz (${fuzz_seconds}s per target)"
    CXX=clang++ configure_and_build build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKELVARA_BUILD_FUZZ=ON -DKELVARA_BUILD_TESTS=OFF -DKELVARA_BUILD_EXAMPLES=OFF
    local target name corpus work
    for target in build/fuzz/fuzz/kelvara_fuzz_*; do
        name=${target##*/kelvara_fuzz_}
        corpus=$root/fuzz/corpus/$name
        work=$root/build/fuzz/corpus-$name
        mkdir -p "$work"
        [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
        echo "-- $name"
        "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 -artifact_prefix="$root/build/fuzz/" "$work" 2>&1 | tail -n 4
        summary+=("fuzz: $name ran ${fuzz_seconds}s without a finding")
    done
}

stage_docs() {
    echo "== docs"
    rm -rf build/docs
    mkdir -p build/docs
    if ! doxygen docs/Doxyfile; then
        cat build/docs/warnings.log
        return 1
    fi
    /usr/bin/python3 docs/count-names.py build/docs/xml
    summary+=("docs: $(/usr/bin/python3 docs/count-names.py build/docs/xml | head -n 1 | sed 's/^docs: //'), build/docs/html/index.html")
}

# The packages and the folders a package run leaves behind.
kelvara_debs=(libkelvara0 libkelvara-dev kelvara-tools)
remove_debs() {
    local installed=()
    local p
    for p in "${kelvara_debs[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && installed+=("$p")
    done
    if [ ${#installed[@]} -gt 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${installed[@]}" >/dev/null
    fi
}

stage_package() {
    echo "== Debian packages"
    local dir=build/package
    remove_debs
    rm -rf "$dir"/*.deb build/consumer-deb build/consumer-deb-pkgconfig
    # Release, as users get it; warnings stay warnings here (the normal stage
    # makes them errors), since GCC's -O3 reports false ones inside libstdc++.
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVARA_BUILD_TESTS=OFF \
        -DKELVARA_WERROR=OFF -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_RPATH=ON >/dev/null
    cmake --build "$dir" -j "$jobs" >/dev/null
    (cd "$dir" && cpack -G DEB >/dev/null)
    local deb
    for deb in "$dir"/*.deb; do
        echo "-- $(basename "$deb")"
        dpkg-deb -f "$deb" Package Version Depends
        dpkg -c "$deb"
    done
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$root/$dir"/*.deb >/dev/null
    objdump -p /usr/lib/*/libkelvara.so.0 | grep -q 'SONAME *libkelvara.so.0'
    echo "-- consumer through find_package, against the installed packages"
    cmake -S cmake/consumer -B build/consumer-deb -G Ninja >/dev/null
    cmake --build build/consumer-deb -j "$jobs" >/dev/null
    build/consumer-deb/kelvara_consumer
    echo "-- consumer through pkg-config"
    local pc_flags
    pc_flags=$(pkg-config --cflags --libs kelvara)
    # shellcheck disable=SC2086
    g++ cmake/consumer/main.cpp -o build/consumer-deb-pkgconfig $pc_flags
    build/consumer-deb-pkgconfig
    echo "-- edfcheck and the demo, as installed"
    edfcheck -a U1U2 -n 3 '[T1(Area) D M][+1N4D(Offset) 0 to 9999]' D0100
    kelvara-demo --polls 50 | tail -n 3
    kelvara-demo --arcnet | tail -n 3
    remove_debs
    if [ -e /usr/bin/edfcheck ] || compgen -G '/usr/lib/*/libkelvara.so*' >/dev/null; then
        echo "files of the packages are left after their removal"
        return 1
    fi
    echo "-- lintian"
    local lint rc=0
    lint=$(lintian --fail-on error "$dir"/*.deb 2>&1) || rc=$?
    echo "$lint" | grep -v 'running with root privileges' || true
    [ $rc -eq 0 ]
    summary+=("package: $(cd "$dir" && ls -- *.deb | tr '\n' ' ')built, installed, used, removed; lintian: no errors, $(lintian "$dir"/*.deb 2>/dev/null | grep -c '^W:') warnings")
}

current=""
finish() {
    local rc=$?
    echo "== summary"
    printf '%s\n' "${summary[@]}"
    if [ $rc -ne 0 ]; then
        echo "stage '$current' FAILED"
        [ $failed -eq 0 ] && failed=1
    fi
    echo "tests: $passed passed, $failed failed"
    exit $rc
}
trap finish EXIT

shopt -s nullglob
for current in $stages; do
    "stage_$current"
done
