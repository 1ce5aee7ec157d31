#!/bin/bash
# The screen on Wayland through the real channel: "etat" says ecran=0 until the portal
# granted the stream; then "vue" matches the compositor's own screenshot (grim) and both
# stream engines, decoded by vimba-voir, show the screen and follow its changes.
# Usage: capture_test.sh BUILD_DIR   (run inside tests/wayland/bureau_wayland.sh)
. "$(dirname "$0")/../bureau.sh" "$1" wl-capture
voir="$build/tools/voir/vimba-voir"

# A terminal over the whole output, repainted in the colour written to the pipe.
peinture=$tmp/peinture
mkfifo "$peinture"
cat >"$tmp/peintre.sh" <<FIN
printf '\e[?25l'
while :; do
  read -r c <"$peinture" || continue
  printf '\e[%sm\e[2J\e[H' "\$c"
  for i in \$(seq 12); do printf '\e[3%dm Dépannage Vimba %d — ligne de couleur \e[7m inverse \e[27m\n' \$((i % 8)) \$i; done
done
FIN
foot -e sh "$tmp/peintre.sh" >/dev/null 2>&1 & pids+=($!)
peindre() { echo "$1" >"$peinture"; }
attendreQue 5 sh -c 'swaymsg -t get_tree | grep -q foot' || ko "le terminal ne s’ouvre pas"
peindre 44
sleep 0.3

# Mean absolute difference (0..1) between a picture and grim's screenshot at its size.
ecart() {
  local taille
  taille=$(identify -format '%wx%h' "$1")
  grim "$tmp/grim.png"
  convert "$tmp/grim.png" -resize "$taille!" "$tmp/grim-reduit.png"
  compare -metric MAE "$1" "$tmp/grim-reduit.png" null: 2>&1 | sed -E 's/.*\(([0-9.e-]+)\).*/\1/'
}
petit() { awk -v e="$1" -v max="$2" 'BEGIN { exit !(e != "" && e < max) }'; }

demarrerAgent
R=$(d etat)
[[ $R =~ ecran=0 ]] && ok "etat avant autorisation : $R" || ko "etat avant autorisation : $R"
verifier "vue avant autorisation" "refus autorisation d'écran non accordée" "$(d vue)"
kill -TERM "$agentPid"; wait "$agentPid" 2>/dev/null

demarrerAgent --autoriser
attendreQue 10 sh -c "'$demande' --dossier '$dossier' etat | grep -q 'ecran=1'" && ok "ecran=1 après autorisation" ||
  ko "etat après autorisation : $(d etat)"
[[ $(d etat) =~ agir=1 ]] && ok "agir=1" || ko "agir : $(d etat)"

R=$(d vue)
[[ $R =~ ^ok\ vue\ [0-9]+$ ]] && ok "vue : $R" || ko "vue : $R"
verifier "vue.txt" "1920 1080" "$(cat "$dossier/vue.txt" 2>/dev/null)"
e=$(ecart "$dossier/vue.jpg")
petit "$e" 0.03 && ok "vue comme grim (écart $e)" || ko "vue et grim diffèrent (écart $e)"

# The pointer's place comes with the stream only where the portal sends it as metadata
# (xdg-desktop-portal-wlr does not): otherwise the stream says it is unknown.
d "bouger 640 360" >/dev/null
for moteur in tuiles h264; do
  R=$(d "flux 1280 45 $moteur")
  [[ $R =~ ^ok\ flux\ ([0-9]+) ]] || { ko "$moteur : réponse « $R »"; continue; }
  "$voir" --port "${BASH_REMATCH[1]}" --stats --duree 3.5 --png "$tmp/flux.png" >"$tmp/stats" 2>"$tmp/erreurs" & vue=$!
  sleep 0.5
  for c in 41 42 43 45 46 40 41 42 43 45 46 40 44; do peindre $c; sleep 0.2; done
  wait $vue || ko "$moteur : visionneur : $(cat "$tmp/erreurs")"
  apres=$(tail -2 "$tmp/stats" | awk '{print ($6 > 0)}' | tr -d '\n')
  verifier "$moteur : images après les changements" 11 "$apres"
  pointeur=$(tail -1 "$tmp/stats" | awk '{print $8, $9}')
  case "$pointeur" in "-1 -1" | "427 240") ok "$moteur : pointeur $pointeur" ;; *) ko "$moteur : pointeur $pointeur" ;; esac
  e=$(ecart "$tmp/flux.png")
  petit "$e" 0.05 && ok "$moteur : image finale comme grim (écart $e)" || ko "$moteur : image finale et grim diffèrent (écart $e)"
  verifier "$moteur : flux-stop" "ok flux arrêté" "$(d flux-stop)"
done
bilan
