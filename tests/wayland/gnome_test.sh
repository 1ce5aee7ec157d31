#!/bin/bash
# GNOME on Wayland through the real channel: headless mutter, xdg-desktop-portal-gnome's
# consent dialog answered through the accessibility bus (consentement.py). "etat" says
# ecran=1 once granted; "vue" shows the screen as it is: the test window is found on it,
# and clicks aimed from that place land on its widgets; a mixed text reaches the window
# through the RemoteDesktop portal; both stream engines, decoded by vimba-voir, follow changes.
# Usage: gnome_test.sh BUILD_DIR   (run inside VIMBA_WL_BUREAU=gnome tests/wayland/bureau_wayland.sh)
. "$(dirname "$0")/../bureau.sh" "$1" wl-gnome
voir="$build/tools/voir/vimba-voir"
e=$tmp/etat
fenetre "$e" --focus texte
python3 "$(dirname "$0")/consentement.py" >"$tmp/consentement" 2>&1 & pids+=($!)

demarrerAgent
R=$(d etat)
[[ $R =~ ecran=0 ]] && ok "etat avant autorisation : $R" || ko "etat avant autorisation : $R"
kill -TERM "$agentPid"; wait "$agentPid" 2>/dev/null
demarrerAgent --autoriser
attendreQue 30 sh -c "'$demande' --dossier '$dossier' etat | grep -q 'ecran=1 agir=1'" && ok "ecran=1 agir=1 après le dialogue" ||
  { ko "etat après le dialogue : $(d etat) ; $(cat "$tmp/consentement" "$tmp/agent.err")"; bilan; }

R=$(d vue)
[[ $R =~ ^ok\ vue\ [0-9]+$ ]] && ok "vue : $R" || ko "vue : $R"
read -r L H < "$dossier/vue.txt"
verifier "vue.txt" "1920 1080" "$L $H"
# The window is the only light thing on mutter's blue background (its shadows are off, see
# bureau_wayland.sh): its box on the picture, brought back to screen points.
read -r lf hf xf yf < <(convert "$dossier/vue.jpg" -colorspace Gray -threshold 70% -format '%@' info: | tr 'x+' '  ')
k=$(identify -format '%w' "$dossier/vue.jpg")
read -r ox oy lw < <(awk -v k="$k" -v L="$L" -v x="$xf" -v y="$yf" -v l="$lf" 'BEGIN { s = L / k; printf "%d %d %d\n", x * s + 0.5, y * s + 0.5, l * s + 0.5 }')
[ "$lw" -ge 496 ] && [ "$lw" -le 504 ] && ok "la fenêtre sur la vue : $lw points de large en $ox,$oy" ||
  ko "la fenêtre sur la vue : $lf×$hf+$xf+$yf (image de $k), $lw points de large"

d clic $(point "$e" bouton) >/dev/null
verifier "un clic bascule le bouton" 1 "$(attendreEtat "$e" bouton 1)"
d clic $(point "$e" coche) >/dev/null
verifier "un clic coche la case" 1 "$(attendreEtat "$e" coche 1)"
# Headless mutter's seat has no keyboard until the first virtual key: only then is the
# window active, and so in front for the guards.
d touche droite >/dev/null
d clic $(point "$e" texte) >/dev/null
devant 'devant=Appli essai' || ko "devant : $(d etat)"
# Accents and the emoji are not in mutter's layout (US): they go through the Unicode entry.
texte=$'Vimba: 42 ok, été ✓ 😀 Ça «ß» — ½\nFIN'
r=$(printf 'tape\n%s' "$texte" | d); verifier "tape compte les graphèmes" "ok 36 caractères" "$r"
verifier "tape écrit le texte tel quel" "$texte" "$(attendreEtat "$e" texte "$texte")"

for moteur in tuiles h264; do
  R=$(d "flux 1280 45 $moteur")
  [[ $R =~ ^ok\ flux\ ([0-9]+) ]] || { ko "$moteur : réponse « $R »"; continue; }
  "$voir" --port "${BASH_REMATCH[1]}" --stats --duree 3.5 --png "$tmp/flux.png" >"$tmp/stats" 2>"$tmp/erreurs" & vue=$!
  sleep 0.5
  for i in $(seq 12); do d clic $(point "$e" bouton) >/dev/null; sleep 0.2; done
  wait $vue || ko "$moteur : visionneur : $(cat "$tmp/erreurs")"
  verifier "$moteur : images après les changements" 11 "$(tail -2 "$tmp/stats" | awk '{print ($6 > 0)}' | tr -d '\n')"
  # The final picture against the agent's own view of the same, now still, screen.
  d vue >/dev/null
  convert "$dossier/vue.jpg" -resize "$(identify -format '%wx%h' "$tmp/flux.png")!" "$tmp/vue-reduite.png"
  ec=$(compare -metric MAE "$tmp/flux.png" "$tmp/vue-reduite.png" null: 2>&1 | sed -E 's/.*\(([0-9.e-]+)\).*/\1/')
  awk -v e="$ec" 'BEGIN { exit !(e != "" && e < 0.03) }' && ok "$moteur : image finale comme la vue (écart $ec)" ||
    ko "$moteur : image finale et vue diffèrent (écart $ec)"
  verifier "$moteur : flux-stop" "ok flux arrêté" "$(d flux-stop)"
done
bilan
