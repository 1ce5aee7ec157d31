#!/usr/bin/env bash
# Input synthesis and the guards on a real desktop: vimba-agent driven by vimba-demande
# acts on a GTK window (appli_essai), whose state files say what really happened.
# Usage: saisie_test.sh BUILD_DIR   (run inside scripts/avec-bureau.sh)
. "$(dirname "$0")/../bureau.sh" "$1" saisie
carte=$build/tests/saisie/carte_clavier
fermerDevant() { fermer; devant 'devant=Appli essai'; }  # the last window opened
vider() {  # etat widget
  d clic $(point "$1" "$2") >/dev/null; d touche cmd-a >/dev/null; d touche supprimer >/dev/null
  attendreEtat "$1" "$2" "" >/dev/null
}

gestionnaire
# A desktop entry that names a window class, for the guard's second way of naming.
mkdir -p "$tmp/donnees/applications"
printf '[Desktop Entry]\nType=Application\nName=Banque Populaire\nExec=true\nStartupWMClass=ComptesEnLigne\n' \
  > "$tmp/donnees/applications/essai-comptes.desktop"
carteAvant=$("$carte")
XDG_DATA_HOME=$tmp/donnees demarrerAgent
e=$tmp/essai
fenetre "$e"
devant 'devant=Appli essai'
r=$(d etat); verifier "etat names the window in front" "Appli essai" "${r#*devant=}"

echo "# Pointer"
r=$(d clic $(point "$e" bouton)); verifier "clic replies" "ok clic $(point "$e" bouton)" "$r"
verifier "clic toggles the button" 1 "$(attendreEtat "$e" bouton 1)"
d double $(point "$e" zone) >/dev/null; verifier "double is two presses and one double click for GTK" "2 1" "$(attendreEtat "$e" zone "2 1")"
# Server times: press, 50 ms, release, 40 ms, press (lower bounds only, with slack for a busy server).
ordre=$(paste -d' ' <(awk '$1 == 1 {print $2}' "$e/temps") "$e/lachers" | tr '\n' ' ' |
  awk '{ print ($2 - $1 >= 35 && $3 - $2 >= 25 && $4 - $3 >= 35) ? "ok" : $0 }')
verifier "double keeps its pauses between press, release and press" ok "$ordre"
d double $(point "$e" lecture 12 8) >/dev/null; verifier "double selects the word" alpha "$(attendreEtat "$e" selection alpha)"
d droit $(point "$e" texte) >/dev/null; verifier "droit opens the context menu" 1 "$(attendreEtat "$e" menu 1)"
d touche echap >/dev/null
d bouger 123 234 >/dev/null; verifier "bouger moves the pointer" "x:123 y:234" "$(xdotool getmouselocation | cut -d' ' -f1-2)"
r=$(d defiler $(point "$e" liste) -3); verifier "defiler replies" "ok defiler -3" "$r"
attendreQue sh -c "[ \"\$(cat '$e/defilement')\" -gt 0 ]"; bas=$(cat "$e/defilement")
d defiler $(point "$e" liste) 1 >/dev/null
attendreQue sh -c "[ \"\$(cat '$e/defilement')\" -lt $bas ]"; haut=$(cat "$e/defilement")
verifier "defiler -3 goes down, 1 back up by a third" "1 1" "$([ "$bas" -gt 0 ] && echo 1) $([ "$haut" -lt "$bas" ] && [ "$haut" -gt 0 ] && echo 1)"

echo "# Typing"
d clic $(point "$e" texte) >/dev/null
texte=$'été ✓ 😀 e\u0301 Été\nÀ « ça » — 漢字 ½ ß ÿ Œ €\t~^`|'
r=$(printf 'tape\n%s' "$texte" | d); verifier "tape counts grapheme clusters" "ok 42 caractères" "$r"
verifier "tape types the text exactly" "$texte" "$(attendreEtat "$e" texte "$texte")"
vider "$e" texte
long=""
for i in 1 2 3 4; do long+="Ünïcødé $i: «Été» ça‑va ✓ 😀🎉 日本語テキスト 한국어 ¿¡ Ωμέγα ﬁ ∑∫ √ "; done
# More symbols outside the layout than there are keycodes to lend: keycodes are taken back.
for c in $(seq 19968 20067); do long+=$(printf "\\u$(printf %x "$c")"); done
printf 'tape\n%s' "$long" | d >/dev/null
verifier "a long mixed text comes back exactly" "$long" "$(attendreEtat "$e" texte "$long")"
verifier "the keyboard mapping is back as it was" "$carteAvant" "$("$carte")"

echo "# Key combinations"
d clic $(point "$e" entree) >/dev/null
printf 'tape\ncopie' | d >/dev/null
# Right after a long text the window manager, busy with the mapping changes, holds the click.
verifier "the click moves the focus before the keys arrive" copie "$(attendreEtat "$e" entree copie)"
r=$(d touche CMD-A); verifier "touche echoes the word as written" "ok touche CMD-A" "$r"
d touche pomme-c >/dev/null; d touche droite >/dev/null; d touche cmd-v >/dev/null
verifier "cmd-a, cmd-c and cmd-v copy and paste" copiecopie "$(attendreEtat "$e" entree copiecopie)"
d touche maj-gauche >/dev/null; d touche maj-gauche >/dev/null; d touche supprimer >/dev/null
verifier "maj-gauche selects with the modifier held" copiecop "$(attendreEtat "$e" entree copiecop)"
r=$(d touche cmd-shift); verifier "an unknown key is named" "erreur touche inconnue cmd-shift" "$r"

echo "# Password field"
vider "$e" entree
d clic $(point "$e" mdp) >/dev/null
printf 'presse-ecrire\nS3cret' | d >/dev/null
for req in $'tape\nsecret' 'touche maj-s' 'touche cmd-v'; do
  r=$(printf '%s' "$req" | d); verifier "${req%%$'\n'*} is refused in the password entry" "refus champ de mot de passe" "$r"
done
r=$(d touche tab); verifier "keys that write nothing still go" "ok touche tab" "$r"
vider "$e" entree
r=$(printf 'tape\nalice\tS3cret' | d); verifier "a Tab into the password entry stops the text there" "refus champ de mot de passe" "$r"
verifier "the user name was typed" alice "$(attendreEtat "$e" entree alice)"
sleep 0.2; verifier "and nothing reached the password entry" "" "$(cat "$e/mdp" 2>/dev/null)"
echo "# Accessibility switched off, the window still on its bus"
a11y() { gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus --method org.freedesktop.DBus.Properties.Set \
  org.a11y.Status IsEnabled "<$1>" >/dev/null; }
long=$(for i in $(seq 800); do printf '漢字 abc '; done)
vider "$e" texte
(printf 'tape\n%s' "$long" | d > "$tmp/reponse-a11y") & client=$!
attendreQue sh -c "[ \"\$(wc -m < '$e/texte')\" -ge 20 ]"
a11y false
wait "$client"; verifier "switching it off stops a text being typed" "refus champ de mot de passe" "$(cat "$tmp/reponse-a11y")"
r=$(d etat); verifier "etat says agir=0" "agir=0" "$(echo "$r" | grep -o 'agir=.')"
vider "$e" texte
r=$(printf 'tape\nz' | d); verifier "tape is refused as for a password field" "refus champ de mot de passe" "$r"
r=$(d touche z); verifier "so is a key that writes" "refus champ de mot de passe" "$r"
sleep 0.2; verifier "nothing was typed" "" "$(cat "$e/texte")"
a11y true
fenetre "$tmp/vide" --nom "Sans focus" --focus aucun
devant 'Sans focus'
r=$(printf 'tape\nx' | d); verifier "tape is refused when nothing has the focus" "refus champ de mot de passe" "$r"
fermerDevant

echo "# Sensitive application in front"
fenetre "$tmp/sensible" --nom "Bitwarden"
devant Bitwarden
for verbe in etat lire "clic 10 10" flux presse-lire $'tape\nx'; do
  r=$(printf '%s' "$verbe" | d); verifier "${verbe%%$'\n'*} is refused" "refus application sensible au premier plan (Bitwarden)" "$r"
done
r=$(d flux-stop); verifier "stopping the stream is still served" "ok flux arrêté" "$r"
fermerDevant
r=$(d etat); verifier "served again once it is gone" "Appli essai" "${r#*devant=}"
# Look-alike names, a sensitive title in an application that is not, and applications that
# AT-SPI cannot name: by their WM_CLASS, or the desktop entry of that class.
for cas in "Ｂａｎｑｕｅ Nationale|Ｂａｎｑｕｅ Nationale" "Вitwarden|Вitwarden" \
  "Navigateur|Navigateur, fenêtre « Bitwarden »|Connexion — Bitwarden" \
  "Kraken|Kraken||--sans-accessibilite" "ComptesEnLigne|Banque Populaire||--sans-accessibilite"; do
  IFS='|' read -r nom attendu titre option <<<"$cas"
  fenetre "$tmp/semblable" --nom "$nom" ${titre:+--titre "$titre"} $option
  devant refus
  r=$(d clic 10 10); verifier "$attendu is refused" "refus application sensible au premier plan ($attendu)" "$r"
  fermerDevant
done

echo "# A frozen application in front: stopped, then busy"
fenetre "$tmp/fige" --nom Figée
devant Figée
# Each request asks it one bounded question at most, and is answered within the client's wait.
for gel in STOP USR1; do
  kill -$gel "${pids[-1]}"
  rc=$(for verbe in etat "bouger 5 5" "touche a"; do d $verbe >/dev/null 2>&1; [ $? -eq 2 ] && echo -n "$verbe "; done)
  verifier "$gel: etat, bouger and touche are answered" "" "$rc"
  kill -CONT "${pids[-1]}"
done
fermerDevant

echo "# Accessibility out of reach"
dossier2=$tmp/canal2
mkdir -m 700 "$dossier2"
AT_SPI_BUS_ADDRESS=unix:path=$tmp/aucun-bus "$agent" --dossier "$dossier2" 2>/dev/null & pids+=($!)
d clic $(point "$e" entree) >/dev/null
r=$(printf 'tape\nx' | "$demande" --dossier "$dossier2"); verifier "tape is refused when the focus cannot be read" "refus champ de mot de passe" "$r"
r=$("$demande" --dossier "$dossier2" etat); verifier "and that agent still answers" "Appli essai" "${r#*devant=}"

echo "# Long texts"
vider "$e" texte
r=$(printf 'tape\n%s' "$(printf 'a%.0s' $(seq 10001))" | d); verifier "a text over the bound is refused" "erreur texte trop long (au plus 10000 caractères)" "$r"
# Longer than the client's wait (here 1 s, 10 s by default), and a request queued behind it:
# both answered while the agent shows it is working.
sept=$(printf 'ab漢字é%.0s' $(seq 140))
(printf 'tape\n%s' "$sept" | "$demande" --dossier "$dossier" --attente 1 > "$tmp/reponse-700") & client=$!
attendreQue sh -c "[ \"\$(wc -m < '$e/texte')\" -ge 5 ]"
r=$("$demande" --dossier "$dossier" --attente 1 etat); verifier "a request queued behind a long text is answered" "Appli essai" "${r#*devant=}"
wait "$client"; verifier "a 700-character text gets its reply" "ok 700 caractères" "$(cat "$tmp/reponse-700")"
attendreQue 2 sh -c "[ -z \"\$(ls '$dossier')\" ]"; verifier "and nothing is left in the folder" "" "$(ls "$dossier")"
vider "$e" texte
(printf 'tape\n%s' "$long" | d > "$tmp/reponse-longue" 2>&1) & pids+=($!)
attendreQue sh -c "[ \"\$(wc -m < '$e/texte')\" -ge 20 ]"
fenetre "$tmp/coffre" --nom Bitwarden
attendreQue test -s "$tmp/reponse-longue"
# Which guard speaks first is a race: the new window's focus can be read before the window
# manager names it the active one. Either refusal stops the text.
r=$(cat "$tmp/reponse-longue")
case "$r" in "refus champ de mot de passe") r="refus application sensible au premier plan (Bitwarden)" ;; esac
verifier "a sensitive window coming to the front stops a long text" "refus application sensible au premier plan (Bitwarden)" "$r"
sleep 0.2; verifier "and nothing reaches it" "" "$(cat "$tmp/coffre/entree" 2>/dev/null)"
fermerDevant
vider "$e" texte
(printf 'tape\n%s' "$long" | d >/dev/null 2>&1) & pids+=($!)
attendreQue sh -c "[ \"\$(wc -m < '$e/texte')\" -ge 20 ]"
kill -TERM "$agentPid"; wait "$agentPid"
verifier "and the keyboard mapping is put back" "$carteAvant" "$("$carte")"
verifier "typing stopped there" 1 "$([ "$(wc -m < "$e/texte")" -lt 1000 ] && echo 1)"

bilan
