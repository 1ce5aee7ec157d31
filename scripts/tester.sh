#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test inside a private desktop.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
VIMBA_XVFB=1 scripts/avec-bureau.sh ctest --test-dir build --output-on-failure -j2 --timeout 600 "$@"
