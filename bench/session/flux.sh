#!/usr/bin/env bash
# The stream's latency, screen change to the first message carrying it, straight from the
# agent's port against through the relay (the gate's « flux » over the technician's control
# connection), for "tuiles" and "h264", in a real session on loopback: a local service and
# relay, session.sh, vimba-agent as the account vimba-essai, vimba-technicien as root.
#   scripts/avec-bureau.sh bench/session/flux.sh BUILD [CHANGEMENTS]    (root)
set -uo pipefail
[ "$(id -u)" = 0 ] || { echo "à lancer en root"; exit 1; }
[ -n "${DISPLAY:-}" ] || { echo "pas d’écran : lancer sous scripts/avec-bureau.sh"; exit 1; }
ici=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$ici/../.." && pwd)
build=$(cd "$1" && pwd)
n=${2:-50}
export VIMBA_PORTE=$build/session/vimba-porte
technicien=$build/tools/technicien/vimba-technicien

pid_agent=
avant_de_finir() {
  "$technicien" fin >/dev/null 2>&1
  [ -n "$pid_agent" ] && kill "$pid_agent" 2>/dev/null
}
. "$src/scripts/session-locale.sh" "$src" "$build" banc-flux
export VIMBA_SERVICE VIMBA_JETON XDG_CONFIG_HOME=$base/technicien
unset XDG_RUNTIME_DIR
en_utilisateur() { setpriv --reuid="$uid" --regid="$gid" --init-groups --reset-env env VIMBA_SERVICE_CONF="$VIMBA_SERVICE_CONF" "$@"; }

code=$("$technicien" code) || exit 1
en_utilisateur bash "$script" preparer "$code" || exit 1
session=$(PKEXEC_UID=$uid bash "$script" activer) || exit 1
setpriv --reuid="$uid" --regid="$gid" --init-groups --reset-env env DISPLAY="$DISPLAY" "$build/agent/vimba-agent" \
  >"$base/agent.log" 2>&1 &
pid_agent=$!
en_utilisateur bash "$script" prevenir "$session" >/dev/null || exit 1
"$technicien" attendre 30 >/dev/null || { echo "la session ne s’est pas ouverte"; exit 1; }
for _ in $(seq 20); do "$technicien" demande etat >/dev/null 2>&1 && break; sleep 0.5; done
config=$(jq -r .execution "$XDG_CONFIG_HOME/vimba-technicien/session.json")/ssh.conf
[ -f "$config" ] || { echo "configuration SSH du technicien introuvable : $config"; exit 1; }

echo "$n changements de 96x96 par voie (deux tours alternés), 150 ms d’écart, flux 1280 de large, qualité 45"
rc=0
for moteur in tuiles h264; do
  r=$("$technicien" demande "flux 1280 45 $moteur")
  case "$r" in "ok flux "*) ;; *) echo "  $moteur : $r"; rc=1; continue ;; esac
  port=$(cat /tmp/vimba-sos/flux.port)
  "$build/bench/session/banc_flux_relais" "$port" "$uid" "$config" "$moteur" "$n" || rc=1
  "$technicien" demande flux-stop >/dev/null
done
exit $rc
