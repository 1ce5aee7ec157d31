#!/bin/bash
# Input on Wayland through the real channel, on a GTK window running natively on sway:
# clicks (single, double, right), the mixed text of the X11 tests, key combinations, the
# wheel; then the output at scale 2, where a point is still the same logical place.
# Usage: saisie_test.sh BUILD_DIR   (run inside tests/wayland/bureau_wayland.sh)
. "$(dirname "$0")/../bureau.sh" "$1" wl-saisie
e=$tmp/etat
mkdir -p "$e"

"$build/tests/saisie/appli_essai" --etat "$e" --focus texte & pids+=($!)
appli=$!
attendreQue 10 test -e "$e/pret" || { ko "la fenêtre d’essai ne s’ouvre pas"; bilan; }
# The window's place from sway (GTK on Wayland knows only its own surface).
origine() {
  swaymsg -t get_tree | python3 -c '
import json, sys
def chercher(n):
    if n.get("pid") == '"$appli"':
        print(n["rect"]["x"], n["rect"]["y"]); return True
    return any(chercher(c) for c in n.get("nodes", []) + n.get("floating_nodes", []))
chercher(json.load(sys.stdin))'
}
centre() {  # widget → logical point of its centre
  read -r ox oy < <(origine)
  awk -v n="$1" -v ox="$ox" -v oy="$oy" '$1 == n { print int(ox + $2 + $4 / 2), int(oy + $3 + $5 / 2) }' "$e/geometrie"
}
vaut() { [ "$(cat "$e/$1" 2>/dev/null)" == "$2" ]; }
attendre() {  # fichier valeur → the value once it is there (or what is there after 3 s)
  attendreQue 3 vaut "$1" "$2"
  cat "$e/$1"
}
demarrerAgent

d clic $(centre bouton) >/dev/null
verifier "un clic bascule le bouton" 1 "$(attendre bouton 1)"
d double $(centre zone) >/dev/null
verifier "un double clic compte pour deux appuis et un double" "2 1" "$(attendre zone "2 1")"
d droit $(centre texte) >/dev/null
verifier "un clic droit ouvre le menu" 1 "$(attendre menu 1)"
d touche echap >/dev/null

d clic $(centre texte) >/dev/null
texte=$'été ✓ 😀 e\u0301 Été\nÀ « ça » — 漢字 ½ ß ÿ Œ €\t~^`|'
r=$(printf 'tape\n%s' "$texte" | d); verifier "tape compte les graphèmes" "ok 42 caractères" "$r"
verifier "tape écrit le texte tel quel" "$texte" "$(attendre texte "$texte")"
# More distinct characters than one keymap holds: the keymap is renewed on the way.
long=$(python3 -c 'print("".join(chr(c) for c in range(0x4e00, 0x4e00 + 300)), end="")')
d touche cmd-a >/dev/null
printf 'tape\n%s' "$long" | d >/dev/null
verifier "tape de 300 idéogrammes distincts" "$long" "$(attendre texte "$long")"
d touche cmd-a >/dev/null
d touche maj-x >/dev/null
d touche entree >/dev/null
d touche supprimer >/dev/null
d touche gauche >/dev/null
d touche y >/dev/null
verifier "touche : cmd-a, maj-x, entree, supprimer, gauche, y" "yX" "$(attendre texte yX)"

d defiler $(centre liste) -5 >/dev/null
attendreQue 3 sh -c "[ \$(cat '$e/defilement') -gt 0 ]" && ok "defiler -5 descend la liste" || ko "defiler -5: $(cat "$e/defilement")"
d defiler $(centre liste) 5 >/dev/null
verifier "defiler 5 la remonte" 0 "$(attendre defilement 0)"

# Scale 2, the same logical size: the window keeps its logical place and the same points hit.
swaymsg output HEADLESS-1 mode 3840x2160 scale 2 >/dev/null
attendreQue 3 sh -c 'swaymsg -t get_outputs | grep -q "\"scale\": 2"' || ko "l’échelle 2 n’est pas prise"
sleep 0.3
d clic $(centre coche) >/dev/null
verifier "à l’échelle 2, un clic touche la case" 1 "$(attendre coche 1)"
d clic $(centre bouton) >/dev/null
verifier "à l’échelle 2, un clic touche le bouton" 0 "$(attendre bouton 0)"
bilan
