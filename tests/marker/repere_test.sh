#!/usr/bin/env bash
# The overlay on a real desktop, through the request folder: green target pixels in a root
# screenshot with and without a compositing manager, clicks passing through to a button
# below, erasing by request, by the 14 s delay and when the agent stops.
# Usage: repere_test.sh BUILD_DIR [SCREENSHOT_DIR]   (run inside scripts/avec-bureau.sh)
set -uo pipefail
build=$1
photos=${2:-}
agent=$build/agent/vimba-agent
demande=$build/tools/vimba-demande
appli=$build/tests/marker/fenetre_bouton
tmp=$(mktemp -d /tmp/essai-repere-XXXXXX)
dossier=$tmp/canal
mkdir -p -m 700 "$dossier" "$tmp/etat"
echecs=0
pids=()
fin() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$tmp"
}
trap fin EXIT

ok() { echo "ok   - $1"; }
ko() { echo "FAIL - $1"; echecs=$((echecs + 1)); }
d() { "$demande" --dossier "$dossier" "$*" >/dev/null; }
maintenant() { date +%s%N; }
attendreQue() {  # secondes commande...: polls until it succeeds
  local fin=$(($(maintenant) + $1 * 1000000000)); shift
  while [ "$(maintenant)" -lt $fin ]; do "$@" && return 0; sleep 0.05; done
  return 1
}
# "r g b" of a pixel of the screen as it is shown now.
pixel() {
  import -window root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null |
    sed -n '2s/^[^(]*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3/p'
}
vert() { local r g b; read -r r g b <<<"$(pixel "$1" "$2")"; [ "${g:-0}" -ge 230 ] && [ "${r:-255}" -le 90 ] && [ "${b:-255}" -le 140 ]; }
pasVert() { ! vert "$@"; }
photo() { [ -n "$photos" ] && import -window root "$photos/$1.png" 2>/dev/null; true; }
clics() { cat "$tmp/etat/clics" 2>/dev/null | wc -l; }
plusDe() { [ "$(clics)" -gt "$1" ]; }
compositeur() {  # whether GTK sees a compositing manager
  python3 - <<'PY' 2>/dev/null
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XGetSelectionOwner.restype = ctypes.c_ulong
x.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
d = x.XOpenDisplay(None)
sys.exit(0 if d and x.XGetSelectionOwner(d, x.XInternAtom(d, b"_NET_WM_CM_S0", 0)) else 1)
PY
}

"$appli" "$tmp/etat" & pids+=($!)
attendreQue 5 test -e "$tmp/etat/pret" || { echo "FAIL - la fenêtre d'essai ne s'ouvre pas"; exit 1; }
"$agent" --dossier "$dossier" 2>"$tmp/agent.err" & agent_pid=$!
pids+=($agent_pid)

essai() {  # nom: target, label, click-through, erase
  local nom=$1
  d $'dire 300 300\nCliquez sur ce bouton'
  if attendreQue 5 vert 324 300; then ok "$nom: cible verte autour de (300, 300)"; else ko "$nom: pas de cible verte"; fi
  vert 300 230 && ko "$nom: l’anneau ne devrait pas atteindre 70 px à la phase 0"
  photo "$nom-dire"
  d "tracer 500,200 700,260 760,420"
  attendreQue 3 vert 600 230 && ok "$nom: trait dessiné" || ko "$nom: trait absent"
  photo "$nom-tracer"
  local avant; avant=$(clics)
  xdotool mousemove 324 300 click 1
  if attendreQue 3 plusDe "$avant"; then ok "$nom: le clic sur la cible atteint le bouton"; else ko "$nom: le clic n’atteint pas le bouton"; fi
  # Away from what is drawn, the desktop shows: the button's own colour, not black.
  read -r r g b <<<"$(pixel 150 500)"
  [ "${r:-0}" -gt 100 ] && ok "$nom: le bureau reste visible autour" || ko "$nom: fond masqué ($r $g $b)"
  d "effacer"
  if attendreQue 3 pasVert 324 300 && pasVert 600 230; then ok "$nom: effacer retire tout"; else ko "$nom: reste affiché après effacer"; fi
  photo "$nom-efface"
}

if compositeur; then echo "(un compositeur tourne déjà)"; fi
essai "sans compositeur"

# The overlay follows a compositing manager that comes and goes while a target is shown.
pasCompositeur() { ! compositeur; }
fondVisible() { local r g b; read -r r g b <<<"$(pixel 150 500)"; [ "${r:-0}" -gt 100 ]; }
suivi() {  # nom
  if attendreQue 5 vert 324 300 && attendreQue 3 fondVisible; then ok "$1: cible et bureau visibles"; else ko "$1"; fi
}
d "montrer 300 300"
attendreQue 5 vert 324 300 || ko "pas de cible avant le compositeur"
xcompmgr >/dev/null 2>&1 & comp=$!
pids+=($comp)
if attendreQue 5 compositeur; then
  suivi "compositeur démarré pendant l’affichage"
  photo "compositeur-arrive"
  essai "avec compositeur"
  d "montrer 300 300"
  attendreQue 5 vert 324 300 || ko "pas de cible avant l’arrêt du compositeur"
  kill $comp 2>/dev/null
  attendreQue 5 pasCompositeur
  sleep 0.3  # the server shows the ARGB window black at once; give GTK the time to rebuild it
  suivi "compositeur arrêté pendant l’affichage"
  photo "compositeur-parti"
  d "effacer"
else
  ko "xcompmgr ne démarre pas"
fi
kill $comp 2>/dev/null

# The erase delay after a lone target, for real.
d "montrer 400 400"
attendreQue 5 vert 424 400 || ko "délai: pas de cible"
debut=$(maintenant)
if attendreQue 20 pasVert 424 400; then
  duree=$((($(maintenant) - debut) / 1000000))
  [ $duree -ge 13000 ] && ok "délai: effacé après ${duree} ms" || ko "délai: effacé trop tôt (${duree} ms)"
else
  ko "délai: toujours affiché après 20 s"
fi

# Stopping the agent erases the overlay and leaves cleanly.
d "montrer 400 400"
attendreQue 5 vert 424 400 || ko "arrêt: pas de cible"
kill -TERM $agent_pid
wait $agent_pid; rc=$?
[ $rc -eq 0 ] && attendreQue 3 pasVert 424 400 && ok "arrêt: repère effacé, sortie propre" || ko "arrêt: code $rc"
grep -i "critical\|warning" "$tmp/agent.err" && ko "avertissements de l’agent"

[ $echecs -eq 0 ] && echo "tout va bien" || echo "$echecs échec(s)"
exit $((echecs > 0))
