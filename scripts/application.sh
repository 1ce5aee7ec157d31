#!/usr/bin/env bash
# The application alone, for real use against the support service named in
# /etc/depannage-vimba/service.conf. Installs what is needed and builds first; without a
# display it starts a virtual one.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target depannage-vimba vimba-agent vimba-demande vimba-porte
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec build/app/depannage-vimba "$@"
fi
exec scripts/avec-bureau.sh build/app/depannage-vimba "$@"
