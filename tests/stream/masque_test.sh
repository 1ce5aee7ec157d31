#!/bin/bash
# Through the real channel, both engines: "flux" answers with the port written in
# "flux.port"; the pictures keep their size and keep coming after the display changes size
# (xrandr); a sensitive application or title in front blacks the stream out until it is
# gone; "flux-stop", served even then, and the agent's end close the stream.
# Usage: masque_test.sh BUILD_DIR   (run inside scripts/avec-bureau.sh)
. "$(dirname "$0")/../bureau.sh" "$1" flux
voir="$build/tools/voir/vimba-voir"
ecran=$(xrandr | awk '/\*/ {print $1; exit}')
nettoyer() { xrandr --output screen --mode "$ecran" >/dev/null 2>&1; }
xrandr --newmode 1280x1024 0 1280 0 0 0 1024 0 0 0 2>/dev/null
xrandr --addmode screen 1280x1024 2>/dev/null
flux() {  # moteur: starts the stream, sets $port
  R=$(d "flux 1024 45 $1")
  [[ $R =~ ^ok\ flux\ ([0-9]+)\ aucun$ ]] || { ko "$1 : réponse « $R »"; return 1; }
  port=${BASH_REMATCH[1]}
}
arrete() {  # nom
  verifier "$1 : flux-stop" "ok flux arrêté" "$(d flux-stop)"
  [ -e "$dossier/flux.port" ] && ko "$1 : flux.port laissé après l’arrêt" || ok "$1 : flux.port retiré"
  "$voir" --port "$port" --duree 1 2>/dev/null && ko "$1 : toujours à l’écoute" || ok "$1 : plus à l’écoute"
}
# Mean brightness of what a fresh viewer receives, 0 to 1.
clarte() {
  "$voir" --port "$port" --duree 1 --png "$tmp/clarte.png" >/dev/null 2>&1 || echo 1
  convert "$tmp/clarte.png" -colorspace gray -format '%[fx:mean]' info:
}
noir() { awk -v c="$(clarte)" 'BEGIN { exit !(c < 0.01) }'; }
clair() { awk -v c="$(clarte)" 'BEGIN { exit !(c > 0.05) }'; }
attendu() {  # nom motif-d’etat noir|clair
  devant "$2" || ko "$1 : « $2 » pas vu"
  sleep 0.3
  $3 && ok "$1" || ko "$1 : pas $3"
}

gestionnaire
demarrerAgent
fenetre "$tmp/appli" --nom "Appli essai"
for moteur in tuiles h264; do
  flux $moteur || continue
  verifier "$moteur : flux.port" "$port" "$(cat "$dossier/flux.port")"
  "$voir" --port "$port" --stats --duree 4.2 --png "$tmp/vue.png" >"$tmp/stats" 2>"$tmp/erreurs" & vue=$!
  sleep 1.3
  # Another shape (5:4 after 16:9): the frames keep the size they started with.
  xrandr --output screen --mode 1280x1024 || ko "$moteur : xrandr ne change pas la taille"
  for c in red green blue yellow black white red green blue yellow black white; do xsetroot -solid $c; sleep 0.2; done
  wait $vue || ko "$moteur : visionneur : $(cat "$tmp/erreurs")"
  nettoyer
  [ -s "$tmp/vue.png" ] && ok "$moteur : PNG" || ko "$moteur : pas de PNG"
  verifier "$moteur : taille gardée" "1024x576" "$(tail -1 "$tmp/stats" | awk '{print $NF}')"
  apres=$(tail -2 "$tmp/stats" | awk '{print ($6 > 0)}' | tr -d '\n')
  verifier "$moteur : images après le changement de taille" 11 "$apres"
  grep -qE 'pointeur [0-9]+ [0-9]+' "$tmp/stats" && ok "$moteur : pointeur" || ko "$moteur : pas de pointeur"
  clair && ok "$moteur : image claire" || ko "$moteur : image trop sombre"
  fenetre "$tmp/bitwarden" --nom Bitwarden
  attendu "$moteur : noir avec Bitwarden devant" Bitwarden noir
  fermer
  attendu "$moteur : l’image revient" "devant=Appli essai" clair
  arrete "$moteur"
done

# A title that turns sensitive in the same window (a browser tab, say).
flux tuiles
active=$(xprop -root _NET_ACTIVE_WINDOW | awk '{print $NF}')
xprop -id "$active" -f _NET_WM_NAME 8u -set _NET_WM_NAME "Coffre Bitwarden"
attendu "noir sous un titre sensible" "fenêtre « Bitwarden »" noir
xprop -id "$active" -f _NET_WM_NAME 8u -set _NET_WM_NAME "Appli essai"
attendu "l’image revient avec le titre" "devant=Appli essai" clair
fenetre "$tmp/bitwarden" --nom Bitwarden
devant Bitwarden || ko "Bitwarden pas au premier plan"
arrete "sous Bitwarden"
fermer

# Stopping the agent closes the stream too.
devant "devant=Appli essai" && flux tuiles
kill -TERM "$agentPid"; wait "$agentPid" 2>/dev/null
"$voir" --port "$port" --duree 1 2>/dev/null && ko "écoute après l’arrêt de l’agent" || ok "fermé avec l’agent"
bilan
