#!/usr/bin/env bash
# Installs what the build needs, then builds and runs every test twice: a plain build and one
# under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
for variant in plain sanitize; do
    dir=build
    flags=()
    if [ "$variant" = sanitize ]; then
        dir=build-asan
        flags=(-DMORVIK_SANITIZE=ON)
        export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    fi
    echo "== $variant build ($dir)"
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" >/dev/null
    cmake --build "$dir" -j"$jobs"
    (cd "$dir" && ctest --output-on-failure --timeout 300)
done
