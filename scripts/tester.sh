#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test inside a private desktop.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
# Tests that draw on or read the shared screen run one at a time; the others in parallel.
VIMBA_XVFB=1 scripts/avec-bureau.sh bash -c '
  ctest --test-dir build --output-on-failure -j2 --timeout 600 -LE bureau "$@"; a=$?
  ctest --test-dir build --output-on-failure -j1 --timeout 600 -L bureau "$@"; b=$?
  [ $a -eq 0 ] && [ $b -eq 0 ]' bash "$@"
