#!/bin/bash
# Through the real channel, both engines: "flux" answers with the port written in
# "flux.port", the viewer decodes pictures, pictures keep coming after the display changes
# size, "flux-stop" and the agent's end close the stream.
# Usage: canal_flux_test.sh BUILD_DIR   (run inside scripts/avec-bureau.sh)
. "$(dirname "$0")/../bureau.sh" "$1" flux
voir="$build/tools/voir/vimba-voir"
ecran=$(xrandr | awk '/\*/ {print $1; exit}')
nettoyer() { xrandr --output screen --mode "$ecran" >/dev/null 2>&1; }
xrandr --newmode 1280x1024 0 1280 0 0 0 1024 0 0 0 2>/dev/null
xrandr --addmode screen 1280x1024 2>/dev/null
demarrerAgent

for moteur in tuiles h264; do
  R=$(d "flux 1024 45 $moteur")
  [[ $R =~ ^ok\ flux\ ([0-9]+)\ aucun$ ]] || { ko "$moteur : réponse « $R »"; continue; }
  port=${BASH_REMATCH[1]}
  verifier "$moteur : flux.port" "$port" "$(cat "$dossier/flux.port")"
  "$voir" --port "$port" --stats --duree 4.2 --png "$tmp/vue.png" >"$tmp/stats" 2>"$tmp/erreurs" & vue=$!
  sleep 1.3
  # Another shape (5:4 after 16:9): the frames keep the size they started with.
  xrandr --output screen --mode 1280x1024 || ko "$moteur : xrandr ne change pas la taille"
  for c in red green blue yellow white black red green blue yellow white black; do xsetroot -solid $c; sleep 0.2; done
  wait $vue || ko "$moteur : visionneur : $(cat "$tmp/erreurs")"
  nettoyer
  [ -s "$tmp/vue.png" ] && ok "$moteur : PNG" || ko "$moteur : pas de PNG"
  verifier "$moteur : taille gardée" "1024x576" "$(tail -1 "$tmp/stats" | awk '{print $NF}')"
  apres=$(tail -2 "$tmp/stats" | awk '{print ($6 > 0)}' | tr -d '\n')
  verifier "$moteur : images après le changement de taille" 11 "$apres"
  grep -qE 'pointeur [0-9]+ [0-9]+' "$tmp/stats" && ok "$moteur : pointeur" || ko "$moteur : pas de pointeur"
  verifier "$moteur : flux-stop" "ok flux arrêté" "$(d flux-stop)"
  [ -e "$dossier/flux.port" ] && ko "$moteur : flux.port laissé après l’arrêt" || ok "$moteur : flux.port retiré"
  "$voir" --port "$port" --duree 1 2>/dev/null && ko "$moteur : toujours à l’écoute" || ok "$moteur : plus à l’écoute"
done

# Stopping the agent closes the stream too.
R=$(d 'flux 1024 45 tuiles')
[[ $R =~ ^ok\ flux\ ([0-9]+)\ aucun$ ]] || ko "réponse « $R »"
kill -TERM "$agentPid"; wait "$agentPid" 2>/dev/null
"$voir" --port "${BASH_REMATCH[1]}" --duree 1 2>/dev/null && ko "écoute après l’arrêt de l’agent" || ok "fermé avec l’agent"
bilan
