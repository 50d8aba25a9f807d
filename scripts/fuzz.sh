#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang under AddressSanitizer and UndefinedBehaviorSanitizer,
# replays the seed corpus kept in the repository (every seed once, whole), then fuzzes each target
# for a bounded time. Exits non-zero on the first crash, leak or failed check; the input that did
# it is left under the build directory's fuzz-artifacts/ and named in the output.
#
#   bash scripts/fuzz.sh                     # about a minute in all
#   FUZZ_SECONDS=300 bash scripts/fuzz.sh    # longer, per target
#   FUZZ_BUILD_DIR=build-fuzz FUZZ_JOBS=2    # where to build, how many compile jobs
#
# A crash found this way becomes a seed (fuzz/corpus/<corpus>/regression-...) and, where it shows a
# behaviour, a unit test; see README.md, "Reliability".
set -euo pipefail
cd "$(dirname "$0")/.."

build="${FUZZ_BUILD_DIR:-build-fuzz}"
seconds="${FUZZ_SECONDS:-15}"
jobs="${FUZZ_JOBS:-2}"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DBREVONIX_FUZZ=ON -DBREVONIX_TESTS=OFF >/dev/null
cmake --build "$build" --target fuzzers -j "$jobs"

artifacts="$PWD/$build/fuzz-artifacts"
mkdir -p "$artifacts"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp:print_suppressions=0"

# target  corpus  longest input while fuzzing (bytes)
targets=(
  "value_conversion_fuzzer attribute_values 4096"
  "format_values_fuzzer attribute_values 4096"
  "csv_writer_fuzzer csv_writer 80000"
  "schema_fuzzer schema 4096"
  "ber_attributes_fuzzer ber_attributes 4096"
)

for entry in "${targets[@]}"; do
  read -r target corpus maxlen <<<"$entry"
  bin="$build/fuzz/$target"
  seeds="fuzz/corpus/$corpus"
  echo "== $target: replaying $(find "$seeds" -type f | wc -l) seeds from $seeds =="
  # Listing files runs each once, whole, whatever its size.
  find "$seeds" -type f -print0 | xargs -0 "$bin" -artifact_prefix="$artifacts/$target-" -rss_limit_mb=2048 \
    >"$build/$target-replay.log" 2>&1 || { tail -n 60 "$build/$target-replay.log"; exit 1; }

  echo "== $target: fuzzing for ${seconds}s =="
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  cp -r "$seeds/." "$work/"
  if ! "$bin" "$work" -max_total_time="$seconds" -max_len="$maxlen" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$artifacts/$target-" -print_final_stats=1 >"$build/$target-fuzz.log" 2>&1; then
    tail -n 80 "$build/$target-fuzz.log"
    echo "$target failed; the input is in $artifacts" >&2
    exit 1
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$build/$target-fuzz.log" | tr '\n' ' '
  echo
  rm -rf "$work"
  trap - EXIT
done
echo "fuzzing: all targets passed"
