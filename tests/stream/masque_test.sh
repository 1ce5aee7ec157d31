#!/bin/bash
# Through the real channel: while a sensitive application is in front the stream sends a
# black picture, the picture comes back once it is gone, and "flux-stop" is still served.
# Usage: masque_test.sh BUILD_DIR   (run inside scripts/avec-bureau.sh)
. "$(dirname "$0")/../bureau.sh" "$1" masque
# Mean brightness of what a fresh viewer receives, 0 to 1.
clarte() {
  "$build/tools/voir/vimba-voir" --port "$port" --duree 1 --png "$tmp/vue.png" >/dev/null 2>&1 || echo 1
  convert "$tmp/vue.png" -colorspace gray -format '%[fx:mean]' info:
}
noir() { awk -v c="$(clarte)" 'BEGIN { exit !(c < 0.01) }'; }
clair() { awk -v c="$(clarte)" 'BEGIN { exit !(c > 0.05) }'; }
devant() { [[ $(d etat 2>/dev/null) == *"$1"* ]]; }
ouvrir() {  # nom
  mkdir -p "$tmp/$1"
  "$build/tests/saisie/appli_essai" --etat "$tmp/$1" --nom "$1" & pids+=($!)
  attendreQue test -e "$tmp/$1/pret" || ko "la fenêtre $1 ne s’ouvre pas"
}
attendu() {  # nom motif-d’etat noir|clair
  attendreQue devant "$2" || ko "$1 : « $2 » pas vu"
  sleep 0.3
  $3 && ok "$1" || ko "$1 : pas $3"
}

gestionnaire
demarrerAgent
ouvrir "Appli essai"
# Both engines: the tiles' pictures and the H.264 planes.
for moteur in h264 tuiles; do
  R=$(d "flux 1024 45 $moteur")
  [[ $R =~ ^ok\ flux\ ([0-9]+)\ aucun$ ]] || ko "réponse « $R »"
  port=${BASH_REMATCH[1]}
  clair && ok "$moteur : image de départ" || ko "$moteur : image de départ trop sombre"
  ouvrir Bitwarden
  attendu "$moteur : noir avec Bitwarden devant" Bitwarden noir
  kill "${pids[-1]}"; rm -rf "$tmp/Bitwarden"
  attendu "$moteur : l’image revient" "devant=Appli essai" clair
done

# A title that turns sensitive in the same window (a browser tab, say).
fenetre=$(xprop -root _NET_ACTIVE_WINDOW | awk '{print $NF}')
xprop -id "$fenetre" -f _NET_WM_NAME 8u -set _NET_WM_NAME "Coffre Bitwarden"
attendu "noir sous un titre sensible" "fenêtre « Bitwarden »" noir
xprop -id "$fenetre" -f _NET_WM_NAME 8u -set _NET_WM_NAME "Appli essai"
attendu "l’image revient avec le titre" "devant=Appli essai" clair

ouvrir Bitwarden
attendreQue devant Bitwarden || ko "Bitwarden pas au premier plan"
verifier "flux-stop servi sous Bitwarden" "ok flux arrêté" "$(d flux-stop)"
[ -e "$dossier/flux.port" ] && ko "flux.port laissé après l’arrêt" || ok "flux.port retiré"
bilan
