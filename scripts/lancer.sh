#!/usr/bin/env bash
# Installs what is needed, builds, and runs the main job. Without a display (a server, CI)
# it starts a virtual one first, so it runs anywhere.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target vimba-agent vimba-demande
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec build/agent/vimba-agent "$@"
fi
exec scripts/avec-bureau.sh build/agent/vimba-agent "$@"
