#!/usr/bin/env bash
# Installs what the tests need (Debian packages, only those missing), then
# builds and tests twice: a Release build and an AddressSanitizer + UBSan
# build. Every test runs through CTest in both. A ThreadSanitizer build then
# runs the tests of calls from many threads, and each fuzz target runs for
# a minute (FUZZ_SECONDS) from its seeds.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-missing.sh cmake ninja-build g++ pkg-config libgtest-dev zlib1g-dev libbenchmark-dev qpdf \
  poppler-utils python3 python3-pytest python3-setuptools python3-venv python3-pip man-db strace clang libclang-rt-dev

jobs=${JOBS:-2}
build() {  # build DIR TARGET [cmake options...]
  local dir=$1 target=$2; shift 2
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" --target "$target"
}

build build/release all -DCMAKE_BUILD_TYPE=Release -DMORVEL_BUILD_BENCH=ON
(cd build/release && ctest -j "$jobs" --output-on-failure)

build build/asan all -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVEL_SANITIZE=ON
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest -j "$jobs" --output-on-failure)

build build/tsan morvel_tests -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVEL_TSAN=ON
(cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest -j "$jobs" -R '^Threads\.' --output-on-failure)

./scripts/fuzz-smoke.sh "${FUZZ_SECONDS:-60}"
