#!/usr/bin/env bash
# Installs what is missing, builds Quavera and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)"
exec ./build/release/app/quavera "$@"
