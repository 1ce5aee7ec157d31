# Shared by the desktop shell tests (sourced, inside scripts/avec-bureau.sh):
#   . "$(dirname "$0")/../bureau.sh" BUILD_DIR NOM
# Gives: $build, $agent, $demande, $tmp (private, removed at exit), $dossier (the request
# folder, mode 700), pids+=(…) killed at exit (a function `nettoyer`, when the test defines
# one, runs first), verifier NOM ATTENDU OBTENU / ok NOM / ko NOM with `bilan` printing the
# counts as the last line and exiting non-zero on any failure, d (vimba-demande on the
# folder: the words of the request, or its text on stdin), maintenant (ns), attendreQue
# [SECONDES] COMMANDE… (polls, 5 s by default), demarrerAgent [ARGS…] (sets agentPid, returns
# once the agent answers), gestionnaire (starts a window manager when none runs), devant MOTIF
# (waits for `etat` to show it), and the test window (tests/saisie/appli_essai): fenetre ETAT
# [OPTIONS…] (shown, its pid last in pids), fermer (the last one opened), attendreEtat ETAT
# FICHIER VALEUR (until its state file holds it, 3 s at most; prints what it holds) and point
# ETAT WIDGET [DX DY] (a point from the widget's corner or its middle, plus $ox,$oy when set).
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

devant() { attendreQue sh -c "'$demande' --dossier '$dossier' etat | grep -q \"\$1\"" sh "$1"; }
fenetre() {  # etat [options…]
  local e=$1; shift
  mkdir -p "$e"; rm -f "$e/pret"
  "$build/tests/saisie/appli_essai" --etat "$e" "$@" & pids+=($!)
  attendreQue 10 test -e "$e/pret" || { ko "la fenêtre d’essai ne s’ouvre pas"; bilan; }
}
fermer() { kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null; unset 'pids[-1]'; }
attendreEtat() {  # etat fichier valeur
  attendreQue 3 sh -c '[ "$(cat "$1" 2>/dev/null)" = "$2" ]' sh "$1/$2" "$3"
  cat "$1/$2" 2>/dev/null
}
point() {  # etat widget [dx dy]
  awk -v n="$2" -v dx="${3:-}" -v dy="${4:-}" -v ox="${ox:-0}" -v oy="${oy:-0}" '$1 == n {
    print ox + (dx == "" ? int($2 + $4 / 2) : $2 + dx), oy + (dy == "" ? int($3 + $5 / 2) : $3 + dy) }' "$1/geometrie"
}
