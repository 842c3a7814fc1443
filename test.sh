#!/usr/bin/env bash
# Builds everything and runs every test: once in a normal build, and the unit
# tests a second time under AddressSanitizer and UndefinedBehaviorSanitizer.
# Installs the missing Debian packages first. Exits nonzero on any failure.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

echo "== Build (Release, warnings as errors)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKORVADEL_WERROR=ON -DKORVADEL_BENCH=ON > build-configure.log \
  || { cat build-configure.log; exit 1; }
cmake --build build -j "$jobs"

echo "== Tests"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== Unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-san -DKORVADEL_SANITIZE=ON -DKORVADEL_WERROR=ON -DCMAKE_BUILD_TYPE=Debug \
  > build-san-configure.log || { cat build-san-configure.log; exit 1; }
cmake --build build-san -j "$jobs"
# The leaks LeakSanitizer is told to pass over (libraries' caches kept to
# the process's end) are in tests/lsan-suppressions.txt.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS="suppressions=$PWD/tests/lsan-suppressions.txt" \
  ctest --test-dir build-san --output-on-failure -j "$jobs" -LE e2e
