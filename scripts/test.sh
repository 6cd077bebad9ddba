#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: once in a plain build,
# once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
for preset in dev asan; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)"
  echo "== $preset tests"
  ctest --preset "$preset"
done
