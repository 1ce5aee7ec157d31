#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test inside a private desktop.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
# Many tests draw on or read the one shared screen: they run one at a time.
VIMBA_XVFB=1 scripts/avec-bureau.sh ctest --test-dir build --output-on-failure -j1 --timeout 600 "$@"
