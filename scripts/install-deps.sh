#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test the project.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
packages=$(grep -hv '^\s*#' "$here"/../deps/*.txt | tr -s ' \n' ' ')
missing=()
for p in $packages; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
