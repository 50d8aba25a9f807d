#!/usr/bin/env bash
# Installs what is needed, builds and starts Brevonix.
#
#   ./scripts/run.sh            the tool, with a local demo directory to try it against
#   ./scripts/run.sh --no-demo  the tool alone, for your own domain
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
jobs=$(nproc 2>/dev/null || echo 2)

if [ "${1:-}" = "--no-demo" ]; then
  cmake --build build -j "$jobs" --target brevonix
  exec ./build/brevonix
fi
cmake --build build -j "$jobs" --target brevonix brevonix_demo
exec ./build/tests/brevonix_demo "$PWD/build/brevonix"
