#!/usr/bin/env bash
# Installs what is needed, builds and starts Brevonix.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBREVONIX_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target brevonix
exec ./build/brevonix "$@"
