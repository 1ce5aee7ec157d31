#!/usr/bin/env bash
# Installs the application into a root-owned prefix (its polkit action bound there), then
# plays the demo with its checks: a real session from the code typed in the page to the
# user's « Terminer », through the local service and relay.
set -euo pipefail
build=$(cd "$1" && pwd)
racine=$(cd "$(dirname "$0")/../.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "SKIP: the administrator step and the relay need root"; exit 77; }

# Other suites and benchmarks open sessions too: one at a time on this computer.
mkdir -p /run/lock
exec 8>/run/lock/vimba-sos.essais
flock -w 900 8

action=/usr/share/polkit-1/actions/org.vimba.depannage.policy
prefixe=$(mktemp -d /opt/vimba-chaine.XXXXXX)
chmod 0755 "$prefixe"
sortie=$(mktemp -d)
sauve=""
if [ -e "$action" ]; then sauve=$(mktemp); cp -p "$action" "$sauve"; fi
finir() {
  if [ -n "$sauve" ]; then mv "$sauve" "$action"; else rm -f "$action"; fi
  rm -rf "$prefixe"
  [ "${rc:-1}" -ne 0 ] || rm -rf "$sortie"
}
trap finir EXIT

cmake --install "$build" --prefix "$prefixe" >/dev/null
grep -q "$prefixe/share/depannage-vimba/session.sh" "$action"

rc=0
# A desktop and buses of its own: those the suite shares carry what earlier tests left on
# the accessibility bus.
env -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u AT_SPI_BUS_ADDRESS VIMBA_BUILD="$build" \
  VIMBA_APP="$prefixe/bin/depannage-vimba" "$racine/scripts/demo.sh" --sortie "$sortie" --verifier || rc=$?
cat "$sortie/transcription.txt" 2>/dev/null || true
if [ $rc -ne 0 ]; then
  echo "--- journal ($sortie)"; tail -40 "$sortie/journal.txt" 2>/dev/null || true
  exit $rc
fi
test -s "$sortie/vue.jpg" && test -s "$sortie/flux.png"
echo "chaîne complète vérifiée"
