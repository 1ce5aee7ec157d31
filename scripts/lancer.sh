#!/usr/bin/env bash
# The main job: installs what is needed, builds, and plays a whole help session on this
# computer (scripts/demo.sh): a local support service and relay, the application, a scripted
# technician. Its outputs land in demo-sortie/. As root (or with sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target depannage-vimba vimba-agent vimba-demande vimba-voir \
  vimba-porte vimba-service vimba-technicien
exec scripts/demo.sh "$@"
