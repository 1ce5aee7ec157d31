#!/usr/bin/env bash
# Installs what is needed, builds, and runs the main job. Without a display (a server, CI)
# it starts a virtual one first, so it runs anywhere.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target depannage-vimba vimba-agent vimba-demande vimba-voir
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec build/app/depannage-vimba "$@"
fi
exec scripts/avec-bureau.sh build/app/depannage-vimba "$@"
