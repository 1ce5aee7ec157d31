# Shared by the desktop shell tests (sourced, inside scripts/avec-bureau.sh):
#   . "$(dirname "$0")/../bureau.sh" BUILD_DIR NOM
# Gives: $build, $agent, $demande, $tmp (private, removed at exit), $dossier (the request
# folder, mode 700), pids+=(…) killed at exit (a function `nettoyer`, when the test defines
# one, runs first), verifier NOM ATTENDU OBTENU / ok NOM / ko NOM with `bilan` printing the
# counts as the last line and exiting non-zero on any failure, d (vimba-demande on the
# folder: the words of the request, or its text on stdin), maintenant (ns), attendreQue
# [SECONDES] COMMANDE… (polls, 5 s by default), demarrerAgent [ARGS…] (sets agentPid, returns
# once the agent answers) and gestionnaire (starts a window manager when none runs).
set -uo pipefail
build=$1
agent=$build/agent/vimba-agent
demande=$build/tools/vimba-demande
tmp=$(mktemp -d "/tmp/essai-${2:-bureau}-XXXXXX")
dossier=$tmp/canal
mkdir -p -m 700 "$dossier"
pids=()
reussites=0
echecs=0
agentPid=

_finBureau() {
  declare -F nettoyer >/dev/null && nettoyer
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$tmp"
}
trap _finBureau EXIT

ok() { echo "ok   - $1"; reussites=$((reussites + 1)); }
ko() { echo "FAIL - $1"; echecs=$((echecs + 1)); }
verifier() {  # nom attendu obtenu
  if [ "$2" == "$3" ]; then ok "$1"; else ko "$1: attendu «$2» obtenu «$3»"; fi
}
bilan() {
  echo "$reussites passed, $echecs failed"
  [ "$echecs" -eq 0 ]
  exit
}

d() {
  if [ $# -gt 0 ]; then "$demande" --dossier "$dossier" "$*"; else "$demande" --dossier "$dossier"; fi
}
maintenant() { date +%s%N; }
attendreQue() {  # [secondes] commande…
  local s=5
  [[ $1 =~ ^[0-9]+$ ]] && { s=$1; shift; }
  local fin=$(($(maintenant) + s * 1000000000))
  while [ "$(maintenant)" -lt $fin ]; do "$@" && return 0; sleep 0.05; done
  return 1
}

demarrerAgent() {  # [args…]: the agent on $dossier, stderr in $tmp/agent.err
  "$agent" --dossier "$dossier" "$@" 2>>"$tmp/agent.err" & agentPid=$!
  pids+=("$agentPid")
  attendreQue 10 sh -c "'$demande' --dossier '$dossier' --attente 1 etat >/dev/null 2>&1" ||
    { echo "FAIL - l’agent ne répond pas : $(cat "$tmp/agent.err")"; exit 1; }
}

# _NET_ACTIVE_WINDOW comes from a window manager (a manager that has gone leaves its check
# property naming a window that is no more).
_gestionnaireLa() {
  local w
  w=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | awk '/window id/ {print $NF}')
  [ -n "$w" ] && xprop -id "$w" _NET_SUPPORTING_WM_CHECK >/dev/null 2>&1
}
gestionnaire() {
  _gestionnaireLa && return 0
  openbox --sm-disable >/dev/null 2>&1 & pids+=($!)
  attendreQue _gestionnaireLa || echo "(pas de gestionnaire de fenêtres)"
}
