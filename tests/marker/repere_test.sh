#!/usr/bin/env bash
# The overlay on a real desktop, through the request folder: green target pixels in a root
# screenshot with and without a compositing manager (and one that comes and goes), clicks
# passing through to a button below, erasing by request, by the 14 s delay and when the agent
# stops.
# Usage: repere_test.sh BUILD_DIR   (run inside scripts/avec-bureau.sh)
. "$(dirname "$0")/../bureau.sh" "$1" repere

# "r g b" of a pixel of the screen as it is shown now.
pixel() {
  import -window root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null |
    sed -n '2s/^[^(]*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3/p'
}
vert() { local r g b; read -r r g b <<<"$(pixel "$1" "$2")"; [ "${g:-0}" -ge 230 ] && [ "${r:-255}" -le 90 ] && [ "${b:-255}" -le 140 ]; }
pasVert() { ! vert "$@"; }
# Away from what is drawn, the desktop shows: the button's own colour, not black.
fondVisible() { local r g b; read -r r g b <<<"$(pixel 150 500)"; [ "${r:-0}" -gt 100 ]; }
clics() { cat "$tmp/etat/actives" 2>/dev/null | wc -l; }
plusDe() { [ "$(clics)" -gt "$1" ]; }
compositeur() {  # whether GTK sees a compositing manager
  python3 -c '
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XGetSelectionOwner.restype = ctypes.c_ulong
x.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
d = x.XOpenDisplay(None)
sys.exit(0 if d and x.XGetSelectionOwner(d, x.XInternAtom(d, b"_NET_WM_CM_S0", 0)) else 1)' 2>/dev/null; }
pasCompositeur() { ! compositeur; }
montre() {  # nom x: a target shown at (x, x) with the desktop around it
  d "montrer $2 $2" >/dev/null
  if attendreQue vert $(($2 + 24)) "$2" && attendreQue 3 fondVisible; then ok "$1: cible et bureau visibles"; else ko "$1"; fi
}

fenetre "$tmp/etat" --scene bouton
demarrerAgent

essai() {  # nom: target, label, stroke, click-through, erase
  local nom=$1 avant
  d $'dire 300 300\nCliquez sur ce bouton' >/dev/null
  if attendreQue vert 324 300; then ok "$nom: cible verte autour de (300, 300)"; else ko "$nom: pas de cible verte"; fi
  d "tracer 500,200 700,260 760,420" >/dev/null
  attendreQue 3 vert 600 230 && ok "$nom: trait dessiné" || ko "$nom: trait absent"
  avant=$(clics)
  xdotool mousemove 324 300 click 1
  attendreQue 3 plusDe "$avant" && ok "$nom: le clic sur la cible atteint le bouton" || ko "$nom: le clic n’atteint pas le bouton"
  fondVisible && ok "$nom: le bureau reste visible autour" || ko "$nom: fond masqué ($(pixel 150 500))"
  d "effacer" >/dev/null
  attendreQue 3 pasVert 324 300 && pasVert 600 230 && ok "$nom: effacer retire tout" || ko "$nom: reste affiché après effacer"
}

essai "sans compositeur"

# The overlay follows a compositing manager that comes and goes while a target is shown.
montre "avant le compositeur" 300
xcompmgr >/dev/null 2>&1 & comp=$!
pids+=($comp)
if attendreQue compositeur; then
  montre "compositeur démarré pendant l’affichage" 300
  essai "avec compositeur"
  montre "avant l’arrêt du compositeur" 300
  kill $comp 2>/dev/null
  attendreQue pasCompositeur
  sleep 0.3  # the server shows the ARGB window black at once; give GTK the time to rebuild it
  montre "compositeur arrêté pendant l’affichage" 300
else
  ko "xcompmgr ne démarre pas"
fi
kill $comp 2>/dev/null

# The erase delay after a lone target, for real; counted from before the request, for
# checking that the target shows can take a while on a busy machine.
debut=$(maintenant)
montre "délai" 400
if attendreQue 20 pasVert 424 400; then
  duree=$((($(maintenant) - debut) / 1000000))
  [ $duree -ge 13000 ] && ok "délai: effacé après ${duree} ms" || ko "délai: effacé trop tôt (${duree} ms)"
else
  ko "délai: toujours affiché après 20 s"
fi

# Stopping the agent erases the overlay and leaves cleanly.
montre "arrêt" 400
kill -TERM "$agentPid"
wait "$agentPid"; rc=$?
[ $rc -eq 0 ] && attendreQue 3 pasVert 424 400 && ok "arrêt: repère effacé, sortie propre" || ko "arrêt: code $rc"
grep -i "critical\|warning" "$tmp/agent.err" && ko "avertissements de l’agent"
bilan
