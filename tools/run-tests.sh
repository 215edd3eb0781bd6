#!/usr/bin/env bash
# Installs what the build needs, then builds and runs every test twice: a plain build (warnings
# as errors, plus the Debian package's test) and one under AddressSanitizer +
# UndefinedBehaviorSanitizer. Everything a test needs is installed, so a skipped test fails.
# Then the fuzz harnesses (clang, libFuzzer) run, each for a bounded time from its corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
morvik_install "${morvik_packages[@]}"
morvik_install --no-install-recommends "${morvik_check_packages[@]}"

jobs=$(nproc 2>/dev/null || echo 2)
for variant in plain sanitize; do
    dir=build
    flags=(-DMORVIK_WERROR=ON)
    if [ "$variant" = plain ]; then
        [ "$(id -u)" -eq 0 ] && flags+=(-DMORVIK_PACKAGE_TEST=ON)
    else
        dir=build-asan
        flags+=(-DMORVIK_SANITIZE=ON)
        export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    fi
    echo "== $variant build ($dir)"
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" >/dev/null
    cmake --build "$dir" -j"$jobs"
    log=$dir/ctest.log
    (cd "$dir" && ctest --output-on-failure --timeout 300) 2>&1 | tee "$log"
    if grep -q 'The following tests did not run' "$log"; then
        echo "FAIL: tests were skipped; the tools they need are installed here, so that is a fault"
        exit 1
    fi
done

# An input that crashed, leaked or hung fails the run; it is kept in build-fuzz/fuzz/crashes/
# and its path printed.
echo "== fuzz build (build-fuzz)"
fuzz_started=$(date +%s)
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DMORVIK_FUZZ=ON -DMORVIK_WERROR=ON >/dev/null
cmake --build build-fuzz -j"$jobs" --target fuzzers
(cd build-fuzz && ctest -L fuzz --output-on-failure)
echo "== fuzz step: $(( $(date +%s) - fuzz_started )) s"
