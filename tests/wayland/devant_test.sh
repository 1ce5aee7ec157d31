#!/bin/bash
# The front application, password fields, the reader's places, the clipboard and the marker
# on Wayland, through the real channel, and the stream black while a sensitive window is in
# front. The reader and the marker are checked at output scale 1 and 2: the same logical numbers.
# Usage: devant_test.sh BUILD_DIR   (run inside tests/wayland/bureau_wayland.sh)
. "$(dirname "$0")/../bureau.sh" "$1" wl-devant
essai=$build/tests/saisie/appli_essai
lecture=$build/tests/reading/appli_lecture
bouton=$build/tests/marker/fenetre_bouton
demarrerAgent --autoriser

ouvrir() {  # etat commande…: a window, until shown and in front
  local e=$1; shift
  mkdir -p "$e"; rm -f "$e/pret"
  "$@" & pids+=($!)
  attendreQue test -e "$e/pret" || { ko "la fenêtre d’essai ne s’ouvre pas"; bilan; }
}
fermer() { kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null; unset 'pids[-1]'; }
devant() { d etat | grep -q "devant=$1"; }

echo "# Front application and password field"
ouvrir "$tmp/essai" "$essai" --etat "$tmp/essai" --nom "Appli essai"
attendreQue devant "Appli essai" || ko "etat: $(d etat)"
r=$(printf 'tape\nx' | d); verifier "tape goes into a plain entry" "ok" "${r%% *}"
fermer
for cas in "Bitwarden|Bitwarden|" "Navigateur|Navigateur, fenêtre « Bitwarden »|Connexion — Bitwarden"; do
  IFS='|' read -r nom attendu titre <<<"$cas"
  ouvrir "$tmp/sensible" "$essai" --etat "$tmp/sensible" --nom "$nom" ${titre:+--titre "$titre"}
  attendreQue sh -c "'$demande' --dossier '$dossier' etat | grep -q refus"
  r=$(d clic 10 10); verifier "$attendu is refused" "refus application sensible au premier plan ($attendu)" "$r"
  fermer
done
ouvrir "$tmp/mdp" "$essai" --etat "$tmp/mdp" --nom "Appli essai" --focus mdp
attendreQue devant "Appli essai"
r=$(printf 'tape\nS3cret' | d); verifier "tape into the password field is refused" "refus champ de mot de passe" "$r"
verifier "and the field is still empty" "" "$(cat "$tmp/mdp/mdp")"
fermer

echo "# Stream"
# Mean brightness of what a fresh viewer receives, 0 to 1.
clarte() {
  "$build/tools/voir/vimba-voir" --port "$port" --duree 1 --png "$tmp/vue.png" >/dev/null 2>&1 || echo 1
  convert "$tmp/vue.png" -colorspace gray -format '%[fx:mean]' info:
}
noir() { awk -v c="$(clarte)" 'BEGIN { exit !(c < 0.01) }'; }
clair() { awk -v c="$(clarte)" 'BEGIN { exit !(c > 0.05) }'; }
ouvrir "$tmp/essai" "$essai" --etat "$tmp/essai" --nom "Appli essai"
attendreQue 10 sh -c "'$demande' --dossier '$dossier' etat | grep -q 'ecran=1'"
r=$(d flux 1024 45 tuiles)
[[ $r =~ ^ok\ flux\ ([0-9]+) ]] && port=${BASH_REMATCH[1]} || ko "flux: « $r »"
clair && ok "the stream shows the screen" || ko "the stream is dark"
ouvrir "$tmp/sensible" "$essai" --etat "$tmp/sensible" --nom Bitwarden
attendreQue devant Bitwarden; noir && ok "black while Bitwarden is in front" || ko "not black under Bitwarden"
fermer
attendreQue devant "Appli essai"; attendreQue clair && ok "the picture comes back" || ko "still black"
d flux-stop >/dev/null
fermer

echo "# Clipboard"
r=$(printf 'presse-ecrire\nBonjour « Été »\nligne 2' | d); verifier "presse-ecrire" "ok presse 23 caractères" "$r"
verifier "another client reads it" $'Bonjour « Été »\nligne 2' "$(timeout 5 wl-paste -n)"
printf 'venu d’ailleurs' | wl-copy
r=$(d presse-lire); verifier "presse-lire reads another client's text" $'ok presse\nvenu d’ailleurs' "$r"

# The green of the ring's pixels inside the square of side 2·R around (x, y), logical points.
vert() {  # x y r
  grim -t ppm "$tmp/ecran.ppm"
  python3 - "$tmp/ecran.ppm" "$@" <<'FIN'
import sys
import re
d = open(sys.argv[1], 'rb').read()
m = re.match(rb'P6\s+(\d+)\s+(\d+)\s+\d+\s', d)
l, h, i = int(m[1]), int(m[2]), m.end()
x, y, r = (int(a) for a in sys.argv[2:5])
e = l // 1920
n = 0
for py in range((y - r) * e, (y + r) * e):
    for px in range((x - r) * e, (x + r) * e):
        o = i + 3 * (py * l + px)
        R, G, B = d[o], d[o + 1], d[o + 2]
        n += G > 150 and R < 110 and B < 110
print(n)
FIN
}

marque() { [ "$(vert 400 300 30)" -gt 20 ]; }

for echelle in 1 2; do
  echo "# Output scale $echelle"
  swaymsg output HEADLESS-1 mode $((1920 * echelle))x$((1080 * echelle)) scale $echelle >/dev/null
  attendreQue sh -c "swaymsg -t get_outputs | grep -q '\"scale\": $echelle'"
  # A floating window away from the corner: its widgets' places are its own plus the window's.
  swaymsg "for_window [app_id=\"appli-lecture\"] floating enable, move position 300 200" >/dev/null
  ouvrir "$tmp/lecture$echelle" "$lecture" --etat "$tmp/lecture$echelle"
  attendreQue devant appli-lecture
  place=$(swaymsg -t get_tree | python3 -c '
import json, sys
def f(n):
    if n.get("app_id") == "appli-lecture":
        r, w = n["rect"], n["window_rect"]; print(r["x"] + w["x"], r["y"] + w["y"]); return True
    return any(f(c) for k in ("nodes", "floating_nodes") for c in n.get(k, []))
f(json.load(sys.stdin))')
  read -r fx fy <<<"$place"
  read -r _ gx gy gl gh < <(grep '^envoyer ' "$tmp/lecture$echelle/geometrie")
  attendu="$((fx + gx + gl / 2)),$((fy + gy + gh / 2))"
  r=$(d lire Envoyer); verifier "lire places Envoyer where it is" "Button « Envoyer » @$attendu ${gl}x${gh}" "$(sed -n 2p <<<"$r")"
  r=$(d viser Envoyer); verifier "viser clicks Envoyer" "ok clic Button « Envoyer » en $attendu" "$r"
  attendreQue grep -q '^1 ' "$tmp/lecture$echelle/clics"; verifier "and the click lands on it" "1 0" "$(cat "$tmp/lecture$echelle/clics")"
  fermer

  ouvrir "$tmp/bouton$echelle" "$bouton" "$tmp/bouton$echelle"
  [ "$(vert 400 300 30)" -eq 0 ] || ko "green before the marker"
  r=$(d montrer 400 300); verifier "montrer" "ok repère 400 300" "$r"
  attendreQue marque && ok "the marker is in grim's screenshot at 400,300" || ko "no marker at 400,300"
  d clic 400 300 >/dev/null
  attendreQue test -s "$tmp/bouton$echelle/clics"; verifier "a click on the marker reaches the button below" "1" "$(wc -l <"$tmp/bouton$echelle/clics" 2>/dev/null)"
  d effacer >/dev/null
  fermer
done

bilan
