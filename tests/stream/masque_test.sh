#!/bin/bash
# Through the real channel: while a sensitive application is in front the stream sends a
# black picture, the picture comes back once it is gone, and "flux-stop" is still served.
# Usage: masque_test.sh BUILD_DIR   (run inside scripts/avec-bureau.sh)
set -u
B=$1
D=$(mktemp -d)
mkdir -m 700 "$D/canal"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$D"' EXIT
echec() { echo "ÉCHEC : $*" >&2; exit 1; }
d() { "$B/tools/vimba-demande" --dossier "$D/canal" "$@"; }
attendreQue() {  # commande...: polls until it succeeds (5 s at most)
  for _ in $(seq 100); do "$@" && return 0; sleep 0.05; done
  return 1
}
# Mean brightness of what a fresh viewer receives, 0 to 1.
clarte() {
  "$B/tools/voir/vimba-voir" --port "$PORT" --duree 1 --png "$D/vue.png" >/dev/null 2>&1 || echec "visionneur"
  convert "$D/vue.png" -colorspace gray -format '%[fx:mean]' info:
}
gestionnaire() {
  local w
  w=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | awk '/window id/ {print $NF}')
  [ -n "$w" ] && xprop -id "$w" _NET_SUPPORTING_WM_CHECK >/dev/null 2>&1
}
if ! gestionnaire; then
  openbox --sm-disable >/dev/null 2>&1 & pids+=($!)
  attendreQue gestionnaire || echo "(pas de gestionnaire de fenêtres)"
fi
ouvrir() {  # nom
  mkdir -p "$D/$1"; rm -f "$D/$1/pret"
  "$B/tests/saisie/appli_essai" --etat "$D/$1" --nom "$1" & pids+=($!)
  attendreQue test -e "$D/$1/pret" || echec "la fenêtre $1 ne s’ouvre pas"
}

noir() { awk -v c="$1" 'BEGIN { exit !(c < 0.01) }'; }
clair() { awk -v c="$1" 'BEGIN { exit !(c > 0.05) }'; }

"$B/agent/vimba-agent" --dossier "$D/canal" & pids+=($!)
ouvrir "Appli essai"
# Both engines: the tiles' pictures and the H.264 planes.
for moteur in h264 tuiles; do
  R=$(d "flux 1024 45 $moteur")
  [[ $R =~ ^ok\ flux\ ([0-9]+)\ aucun$ ]] || echec "réponse « $R »"
  PORT=${BASH_REMATCH[1]}
  c=$(clarte); clair "$c" || echec "$moteur : image de départ trop sombre ($c)"

  ouvrir Bitwarden
  attendreQue sh -c "'$B/tools/vimba-demande' --dossier '$D/canal' etat | grep -q Bitwarden" || echec "Bitwarden pas au premier plan"
  sleep 0.3
  c=$(clarte); noir "$c" || echec "$moteur : image envoyée avec Bitwarden au premier plan (clarté $c)"
  kill "${pids[-1]}"
  attendreQue sh -c "'$B/tools/vimba-demande' --dossier '$D/canal' etat | grep -q 'devant=Appli essai'" || echec "Bitwarden reste devant"
  sleep 0.3
  c=$(clarte); clair "$c" || echec "$moteur : l’image ne revient pas ($c)"
done

# A title that turns sensitive in the same window (a browser tab, say).
fenetre=$(xprop -root _NET_ACTIVE_WINDOW | awk '{print $NF}')
xprop -id "$fenetre" -f _NET_WM_NAME 8u -set _NET_WM_NAME "Coffre Bitwarden"
attendreQue sh -c "'$B/tools/vimba-demande' --dossier '$D/canal' etat | grep -q 'fenêtre « Bitwarden »'" || echec "titre non vu"
sleep 0.3
c=$(clarte); noir "$c" || echec "image envoyée sous un titre sensible (clarté $c)"
xprop -id "$fenetre" -f _NET_WM_NAME 8u -set _NET_WM_NAME "Appli essai"
attendreQue sh -c "'$B/tools/vimba-demande' --dossier '$D/canal' etat | grep -q 'devant=Appli essai'" || echec "titre rendu non vu"
sleep 0.3
c=$(clarte); clair "$c" || echec "l’image ne revient pas après le titre ($c)"

ouvrir Bitwarden
attendreQue sh -c "'$B/tools/vimba-demande' --dossier '$D/canal' etat | grep -q Bitwarden" || echec "Bitwarden pas au premier plan"
R=$(d flux-stop); [[ $R == "ok flux arrêté" ]] || echec "flux-stop refusé : « $R »"
[[ -e $D/canal/flux.port ]] && echec "flux.port laissé après l’arrêt"
echo "masque du flux : bon"
