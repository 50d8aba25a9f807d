#!/usr/bin/env bash
# Installs what is needed, builds an optimised brevonix_bench and runs it: 10,000 and 100,000 users
# (add --million for 1,000,000; any other option goes to the bench, see bench/main.cpp). Prints the
# table and writes it as JSON to build-bench-release/brevonix-bench.json (BENCH_BUILD_DIR names
# another build folder).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

dir="${BENCH_BUILD_DIR:-build-bench-release}"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$dir" --target brevonix_bench -j "$(nproc 2>/dev/null || echo 2)"
exec "$dir/bench/brevonix_bench" --json "$dir/brevonix-bench.json" "$@"
