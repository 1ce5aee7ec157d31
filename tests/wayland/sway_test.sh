#!/bin/bash
# Through the real channel on sway, the test window running natively: input (clicks, the
# mixed text of the X11 tests, more distinct characters than one keymap holds, keys, the
# wheel), the front application and password guards, the stream black under a sensitive
# window, the clipboard; then at output scale 1 and 2 (the same logical numbers) the reader's
# places, viser's click and the marker.
# Usage: sway_test.sh BUILD_DIR   (run inside tests/wayland/bureau_wayland.sh)
. "$(dirname "$0")/../bureau.sh" "$1" wl-sway
demarrerAgent --autoriser
# The last window's place from sway (GTK on Wayland knows only its own surface): ox, oy.
placer() {
  read -r ox oy < <(swaymsg -t get_tree | python3 -c '
import json, sys
def f(n):
    if n.get("pid") == '"${pids[-1]}"':
        r, w = n["rect"], n.get("window_rect", {}); print(r["x"] + w.get("x", 0), r["y"] + w.get("y", 0)); return True
    return any(f(c) for k in ("nodes", "floating_nodes") for c in n.get(k, []))
f(json.load(sys.stdin))')
}
e=$tmp/essai

echo "# Input"
fenetre "$e" --focus texte
placer
devant 'devant=Appli essai' || ko "etat: $(d etat)"
d clic $(point "$e" bouton) >/dev/null
verifier "un clic bascule le bouton" 1 "$(attendreEtat "$e" bouton 1)"
d double $(point "$e" zone) >/dev/null
verifier "un double clic compte pour deux appuis et un double" "2 1" "$(attendreEtat "$e" zone "2 1")"
d droit $(point "$e" texte) >/dev/null
verifier "un clic droit ouvre le menu" 1 "$(attendreEtat "$e" menu 1)"
d touche echap >/dev/null
d clic $(point "$e" texte) >/dev/null
texte=$'été ✓ 😀 e\u0301 Été\nÀ « ça » — 漢字 ½ ß ÿ Œ €\t~^`|'
r=$(printf 'tape\n%s' "$texte" | d); verifier "tape compte les graphèmes" "ok 42 caractères" "$r"
verifier "tape écrit le texte tel quel" "$texte" "$(attendreEtat "$e" texte "$texte")"
# More distinct characters than one keymap holds: the keymap is renewed on the way.
long=$(python3 -c 'print("".join(chr(c) for c in range(0x4e00, 0x4e00 + 300)), end="")')
d touche cmd-a >/dev/null
printf 'tape\n%s' "$long" | d >/dev/null
verifier "tape de 300 idéogrammes distincts" "$long" "$(attendreEtat "$e" texte "$long")"
for t in cmd-a maj-x entree supprimer gauche y; do d touche $t >/dev/null; done
verifier "touche : cmd-a, maj-x, entree, supprimer, gauche, y" "yX" "$(attendreEtat "$e" texte yX)"
d defiler $(point "$e" liste) -5 >/dev/null
attendreQue 3 sh -c "[ \$(cat '$e/defilement') -gt 0 ]" && ok "defiler -5 descend la liste" || ko "defiler -5: $(cat "$e/defilement")"
d defiler $(point "$e" liste) 5 >/dev/null
verifier "defiler 5 la remonte" 0 "$(attendreEtat "$e" defilement 0)"
d clic $(point "$e" mdp) >/dev/null
r=$(printf 'tape\nS3cret' | d); verifier "tape into the password field is refused" "refus champ de mot de passe" "$r"
verifier "and the field is still empty" "" "$(cat "$e/mdp")"

echo "# Sensitive applications in front, the stream black under them"
# Mean brightness of what a fresh viewer receives, 0 to 1.
clarte() {
  "$build/tools/voir/vimba-voir" --port "$port" --duree 1 --png "$tmp/vue.png" >/dev/null 2>&1 || echo 1
  convert "$tmp/vue.png" -colorspace gray -format '%[fx:mean]' info:
}
noir() { awk -v c="$(clarte)" 'BEGIN { exit !(c < 0.01) }'; }
clair() { awk -v c="$(clarte)" 'BEGIN { exit !(c > 0.05) }'; }
r=$(d flux 1024 45 tuiles)
[[ $r =~ ^ok\ flux\ ([0-9]+) ]] && port=${BASH_REMATCH[1]} || ko "flux: « $r »"
clair && ok "the stream shows the screen" || ko "the stream is dark"
for cas in "Bitwarden|Bitwarden|" "Navigateur|Navigateur, fenêtre « Bitwarden »|Connexion — Bitwarden"; do
  IFS='|' read -r nom attendu titre <<<"$cas"
  fenetre "$tmp/sensible" --nom "$nom" ${titre:+--titre "$titre"}
  devant refus
  r=$(d clic 10 10); verifier "$attendu is refused" "refus application sensible au premier plan ($attendu)" "$r"
  noir && ok "black under $attendu" || ko "not black under $attendu"
  fermer
done
devant 'devant=Appli essai'; attendreQue clair && ok "the picture comes back" || ko "still black"
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

# A floating window away from the corner: its widgets' places are its own plus the window's.
swaymsg 'for_window [app_id="Lecture"] floating enable, move position 300 200' >/dev/null
for echelle in 1 2; do
  echo "# Output scale $echelle"
  swaymsg output HEADLESS-1 mode $((1920 * echelle))x$((1080 * echelle)) scale $echelle >/dev/null
  attendreQue sh -c "swaymsg -t get_outputs | grep -q '\"scale\": $echelle'"
  l=$tmp/lecture$echelle
  fenetre "$l" --scene lecture --nom Lecture
  devant devant=Lecture
  placer
  read -r _ _ _ gl gh < <(grep '^envoyer ' "$l/geometrie")
  attendu=$(point "$l" envoyer | tr ' ' ,)
  r=$(d lire Envoyer); verifier "lire places Envoyer where it is" "Button « Envoyer » @$attendu ${gl}x${gh}" "$(sed -n 2p <<<"$r")"
  r=$(d viser Envoyer); verifier "viser clicks Envoyer" "ok clic Button « Envoyer » en $attendu" "$r"
  verifier "and the click lands on it" Envoyer "$(attendreEtat "$l" actives Envoyer)"
  fermer

  fenetre "$tmp/bouton$echelle" --scene bouton
  [ "$(vert 400 300 30)" -eq 0 ] || ko "green before the marker"
  r=$(d montrer 400 300); verifier "montrer" "ok repère 400 300" "$r"
  attendreQue marque && ok "the marker is in grim's screenshot at 400,300" || ko "no marker at 400,300"
  d clic 400 300 >/dev/null
  verifier "a click on the marker reaches the button below" "Bouton sous le repère" "$(attendreEtat "$tmp/bouton$echelle" actives "Bouton sous le repère")"
  d effacer >/dev/null
  fermer
done
bilan
