#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: once in a normal build and once under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen

for kind in normal asan; do
  dir="build-ci-$kind"
  flags=(-DCMAKE_BUILD_TYPE=Debug)
  if [ "$kind" = asan ]; then flags+=(-DBREVONIX_SANITIZE=ON); fi
  cmake -S . -B "$dir" -G Ninja "${flags[@]}"
  cmake --build "$dir" -j "$jobs"
  if [ "$kind" = asan ]; then
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
    export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  fi
  echo "== $kind build: tests =="
  ctest --test-dir "$dir" --output-on-failure --timeout 1200
done

# Fuzzing: the fuzz targets under clang with ASan+UBSan, the seed corpus replayed whole, then about a
# minute of fuzzing in all (README.md, "Reliability").
echo "== fuzzing =="
FUZZ_BUILD_DIR=build-ci-fuzz FUZZ_JOBS="$jobs" bash scripts/fuzz.sh
