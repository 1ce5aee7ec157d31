#!/usr/bin/env bash
# `lire` and `viser` through the request folder on the test window's scenes built like
# everyday applications, each click checked by what the window saw; a stopped application
# cuts the walk short. Usage: lecture_test.sh BUILD_DIR   (run inside scripts/avec-bureau.sh)
. "$(dirname "$0")/../bureau.sh" "$1" lecture
gestionnaire
demarrerAgent
e=$tmp/fenetre
# The request again until the window, just shown, answers it.
lu() { attendreQue 10 sh -c "'$demande' --dossier '$dossier' \"\$1\" >'$tmp/lu'; grep -q '^ok [0-9c]' '$tmp/lu'" sh "$1"; cat "$tmp/lu"; }
active() { attendreQue 3 sh -c "[ \"\$(tail -n 1 '$e/actives')\" = \"\$1\" ]" sh "$1" && ok "$2" || ko "$2: $(cat "$e/actives")"; }

echo "# Controls where the window put them, the application first"
fenetre "$e" --scene lecture --lignes 300
r=$(lu lire)
verifier "the application comes first" "Application" "$(sed -n 2p <<<"$r" | cut -d' ' -f1)"
for c in "Button « Envoyer »|envoyer" "Button « Réglages »|reglages" "CheckBox « Actif » = 0|actif" \
  "TextField « Recherche » = chat|recherche" "StaticText « Réglages du compte »|texte"; do
  attendu=$(awk -v l="${c%|*}" -v n="${c#*|}" '$1 == n { printf "%s @%d,%d %dx%d", l, $2 + $4 / 2, $3 + $5 / 2, $4, $5 }' "$e/geometrie")
  verifier "lire: $attendu" "$attendu" "$(grep -F "${c%|*} @" <<<"$r")"
done
kill -STOP "${pids[-1]}"
r=$(d lire Bouton 300); verifier "a stopped application: the walk gives up at once and says so" "… liste partielle (délai dépassé)" "$(tail -n 1 <<<"$r")"
kill -CONT "${pids[-1]}"; fermer

echo "# A calculator's keys by their name, not their value"
fenetre "$e" --scene touches
for t in 0 - '<-' 7; do
  r=$(lu "viser $t"); verifier "viser $t" "ok clic CheckBox « $t »" "${r% en *}"
  active "$t" "and $t is the key pressed"
done
fermer

echo "# A modal dialog in front of a window with menus"
fenetre "$e" --scene dialogue
r=$(lu lire)
[[ $r == *"Window « Enregistrer sous »"*"Window « Éditeur »"* ]] && ok "the dialog before the window" || ko "order: $r"
for present in "TextField « Nom : » = notebook.txt @" "TextField « Dossier : » @" "Button « OK » @" "« Fichier »" "Texte du document"; do
  [[ $r == *"$present"* ]] && ok "lire shows $present" || ko "lire misses $present"
done
[[ $r == *Coller* || $r == *au-delà* ]] && ko "a closed menu's items are listed" || ok "a closed menu's items are left out"
[[ $(d lire coller) == *"MenuItem « Coller » @"* ]] && ok "found when asked for by name" || ko "lire coller"
r=$(d viser dossier); verifier "viser dossier" "ok clic TextField « Dossier : »" "${r% en *}"
active dossier "and the field has the focus"
# The name field's value holds "ok": the button named OK is the one clicked.
r=$(d viser OK); verifier "viser OK" "ok clic Button « OK »" "${r% en *}"
active OK "and the dialog got OK"
fermer

echo "# More than 140 on screen"
fenetre "$e" --scene pave
r=$(lu lire)
verifier "140 lines between the count and the last line" "142 ok 140 éléments dans « Appli essai »" "$(wc -l <<<"$r") $(head -1 <<<"$r")"
verifier "the last line says the list is cut" "… et d’autres éléments au-delà de ces 140 (« lire MOTIF » pour les chercher)" "$(tail -n 1 <<<"$r")"
r=$(d lire case 20); [ "$(wc -l <<<"$r")" = 3 ] && ok "lire case 20 finds Case 20 and Case 200" || ko "lire case 20: $r"
bilan
