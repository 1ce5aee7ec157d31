#!/usr/bin/env bash
# Input synthesis and the guards on a real desktop: vimba-agent driven by vimba-demande
# acts on a GTK window (appli_essai), whose state files say what really happened.
# Usage: saisie_test.sh BUILD_DIR   (run inside scripts/avec-bureau.sh)
set -uo pipefail
build=$1
agent=$build/agent/vimba-agent
demande=$build/tools/vimba-demande
appli=$build/tests/saisie/appli_essai
carte=$build/tests/saisie/carte_clavier
tmp=$(mktemp -d /tmp/essai-saisie-XXXXXX)
dossier=$tmp/canal
mkdir -p -m 700 "$dossier"
echecs=0
reussites=0
pids=()
fin() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$tmp"
}
trap fin EXIT

verifier() {  # nom attendu obtenu
  if [ "$2" == "$3" ]; then
    echo "ok   - $1"; reussites=$((reussites + 1))
  else
    echo "FAIL - $1: attendu «$2» obtenu «$3»"; echecs=$((echecs + 1))
  fi
}
d() {  # the words of the request as arguments, or its text on stdin
  if [ $# -gt 0 ]; then "$demande" --dossier "$dossier" "$*"; else "$demande" --dossier "$dossier"; fi
}
maintenant() { date +%s%N; }

# Polls a state file of the window until it holds the value (3 s at most); prints what it holds.
attendre() {  # etat fichier valeur
  local f=$1/$2 fin=$(($(maintenant) + 3000000000))
  while [ "$(maintenant)" -lt $fin ]; do
    [ "$(cat "$f" 2>/dev/null)" == "$3" ] && break
    sleep 0.02
  done
  cat "$f" 2>/dev/null
}
attendreQue() {  # commande...: polls until it succeeds (5 s at most)
  local fin=$(($(maintenant) + 5000000000))
  while [ "$(maintenant)" -lt $fin ]; do "$@" && return 0; sleep 0.05; done
  return 1
}

# The window's widgets, as "x y" of a point inside them (dx, dy from the top-left, or the middle).
point() {  # etat widget [dx dy]
  awk -v n="$2" -v dx="${3:-}" -v dy="${4:-}" '$1 == n {
    px = dx == "" ? int($2 + $4 / 2) : $2 + dx; py = dy == "" ? int($3 + $5 / 2) : $3 + dy; print px, py }' "$1/geometrie"
}

ouvrir() {  # etat [options...]: starts a test window and waits until it is shown and in front
  local e=$1; shift
  mkdir -p "$e"
  "$appli" --etat "$e" "$@" & pids+=($!)
  attendreQue test -e "$e/pret" || { echo "FAIL - la fenêtre d'essai ne s'ouvre pas"; exit 1; }
}

# _NET_ACTIVE_WINDOW comes from a window manager; start one when the desktop has none
# (a manager that has gone leaves its check property naming a window that is no more).
gestionnaire() {
  local w
  w=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | awk '/window id/ {print $NF}')
  [ -n "$w" ] && xprop -id "$w" _NET_SUPPORTING_WM_CHECK >/dev/null 2>&1
}
if ! gestionnaire; then
  openbox --sm-disable >/dev/null 2>&1 & pids+=($!)
  attendreQue gestionnaire || echo "(pas de gestionnaire de fenêtres)"
fi

# A desktop entry that names a window class, for the guard's second way of naming.
mkdir -p "$tmp/donnees/applications"
printf '[Desktop Entry]\nType=Application\nName=Banque Populaire\nExec=true\nStartupWMClass=ComptesEnLigne\n' \
  > "$tmp/donnees/applications/essai-comptes.desktop"

carteAvant=$("$carte")
XDG_DATA_HOME=$tmp/donnees "$agent" --dossier "$dossier" & pids+=($!); agentPid=$!
e=$tmp/essai
ouvrir "$e"
attendreQue sh -c "'$demande' --dossier '$dossier' etat | grep -q 'devant=Appli essai'"

echo "# Front application"
r=$(d etat); verifier "etat names the window in front" "Appli essai" "${r#*devant=}"

echo "# Pointer"
t0=$(maintenant)
r=$(d clic $(point "$e" bouton)); verifier "clic replies" "ok clic $(point "$e" bouton)" "$r"
verifier "clic toggles the button" 1 "$(attendre "$e" bouton 1)"
latence=$((($(maintenant) - t0) / 1000000))
d clic $(point "$e" coche 8 8) >/dev/null; verifier "clic ticks the check box" 1 "$(attendre "$e" coche 1)"
d double $(point "$e" zone) >/dev/null; verifier "double is two presses and one double click for GTK" "2 1" "$(attendre "$e" zone "2 1")"
# Server times: press, 50 ms, release, 40 ms, press (lower bounds only, with slack for a busy server).
ordre=$(paste -d' ' <(awk '$1 == 1 {print $2}' "$e/temps") "$e/lachers" | tr '\n' ' ' |
  awk '{ print ($2 - $1 >= 35 && $3 - $2 >= 25 && $4 - $3 >= 35) ? "ok" : $0 }')
verifier "double keeps its pauses between press, release and press" ok "$ordre"
d double $(point "$e" lecture 12 8) >/dev/null; verifier "double selects the word" alpha "$(attendre "$e" selection alpha)"
d droit $(point "$e" texte) >/dev/null; verifier "droit opens the context menu" 1 "$(attendre "$e" menu 1)"
d touche echap >/dev/null
r=$(d bouger 123 234); verifier "bouger replies" "ok bouger" "$r"
verifier "bouger moves the pointer" "x:123 y:234" "$(xdotool getmouselocation | cut -d' ' -f1-2)"
r=$(d defiler $(point "$e" liste) -3); verifier "defiler replies" "ok defiler -3" "$r"
attendreQue sh -c "[ \"\$(cat '$e/defilement')\" -gt 0 ]"; bas=$(cat "$e/defilement")
verifier "defiler -3 moves the list down" 1 "$([ "$bas" -gt 0 ] && echo 1 || echo 0)"
d defiler $(point "$e" liste) 1 >/dev/null
attendreQue sh -c "[ \"\$(cat '$e/defilement')\" -lt $bas ]"; haut=$(cat "$e/defilement")
verifier "defiler 1 moves it back up, by a third" 1 "$([ "$haut" -lt "$bas" ] && [ "$haut" -gt 0 ] && echo 1 || echo 0)"

echo "# Typing"
d clic $(point "$e" texte) >/dev/null
texte=$'été ✓ 😀 e\u0301 Été\nÀ « ça » — 漢字 ½ ß ÿ Œ €\t~^`|'
debut=$(maintenant)
r=$(printf 'tape\n%s' "$texte" | d); verifier "tape counts grapheme clusters" "ok 42 caractères" "$r"
verifier "tape types the text exactly" "$texte" "$(attendre "$e" texte "$texte")"
verifier "the keyboard mapping is back as it was" "$carteAvant" "$("$carte")"

d touche cmd-a >/dev/null; d touche supprimer >/dev/null
verifier "cmd-a then supprimer empties the text view" "" "$(attendre "$e" texte "")"
long=""
for i in 1 2 3 4; do long+="Ünïcødé $i: «Été» ça‑va ✓ 😀🎉 日本語テキスト 한국어 ¿¡ Ωμέγα ﬁ ∑∫ √ "; done
debut=$(maintenant)
printf 'tape\n%s' "$long" | d >/dev/null
duree=$((($(maintenant) - debut) / 1000000))
verifier "a long mixed text comes back exactly" "$long" "$(attendre "$e" texte "$long")"
scalaires=$(printf '%s' "$long" | wc -m)

echo "# Key combinations"
d clic $(point "$e" entree) >/dev/null
printf 'tape\nBonjour' | d >/dev/null
verifier "tape in the entry" Bonjour "$(attendre "$e" entree Bonjour)"
r=$(d touche CMD-A); verifier "touche echoes the word as written" "ok touche CMD-A" "$r"
d touche supprimer >/dev/null
verifier "cmd-a then supprimer empties the entry" "" "$(attendre "$e" entree "")"
printf 'tape\ncopie' | d >/dev/null
attendre "$e" entree copie >/dev/null
d touche cmd-a >/dev/null; d touche pomme-c >/dev/null; d touche droite >/dev/null; d touche cmd-v >/dev/null
verifier "cmd-c and cmd-v copy and paste" copiecopie "$(attendre "$e" entree copiecopie)"
d touche maj-gauche >/dev/null; d touche maj-gauche >/dev/null; d touche supprimer >/dev/null
verifier "maj-gauche selects with the modifier held" copiecop "$(attendre "$e" entree copiecop)"
for mot in f1 cmd cmd-shift 1; do
  r=$(d touche "$mot"); verifier "touche $mot is unknown" "erreur touche inconnue $mot" "$r"
done

echo "# Password field"
d clic $(point "$e" mdp) >/dev/null
r=$(printf 'tape\nsecret' | d); verifier "tape is refused in the password entry" "refus champ de mot de passe" "$r"
sleep 0.2; verifier "and nothing was typed there" "" "$(cat "$e/mdp")"
d clic $(point "$e" entree) >/dev/null
r=$(printf 'tape\n!' | d); verifier "back in the plain entry it types" "ok 1 caractères" "$r"
d touche cmd-a >/dev/null; d touche supprimer >/dev/null; attendre "$e" entree "" >/dev/null
r=$(printf 'tape\nalice\tS3cret' | d); verifier "a Tab into the password entry stops the text there" "refus champ de mot de passe" "$r"
verifier "the user name was typed" alice "$(attendre "$e" entree alice)"
sleep 0.2; verifier "and nothing after the Tab" "" "$(cat "$e/mdp")"
for mot in s maj-s espace; do
  r=$(d touche $mot); verifier "touche $mot is refused in the password entry" "refus champ de mot de passe" "$r"
done
printf 'presse-ecrire\nS3cret' | d >/dev/null
r=$(d touche cmd-v); verifier "pasting into the password entry is refused" "refus champ de mot de passe" "$r"
sleep 0.2; verifier "and the password entry is still empty" "" "$(cat "$e/mdp")"
r=$(d touche tab); verifier "keys that write nothing still go" "ok touche tab" "$r"

vide=$tmp/vide
ouvrir "$vide" --nom "Sans focus" --focus aucun
attendreQue sh -c "'$demande' --dossier '$dossier' etat | grep -q 'Sans focus'"
r=$(printf 'tape\nx' | d); verifier "tape is refused when nothing has the focus" "refus champ de mot de passe" "$r"
kill "${pids[-1]}"
attendreQue sh -c "'$demande' --dossier '$dossier' etat | grep -q 'devant=Appli essai'"

echo "# Sensitive application in front"
s=$tmp/sensible
ouvrir "$s" --nom "Bitwarden"
attendreQue sh -c "'$demande' --dossier '$dossier' etat | grep -q Bitwarden"
for verbe in etat vue lire "viser Bouton" "clic 10 10" "double 10 10" "droit 10 10" "bouger 10 10" "defiler 10 10 1" \
  "touche a" "montrer 10 10" "dire 10 10" "tracer 1,1 2,2" effacer flux presse-lire presse-ecrire inconnu; do
  r=$(d $verbe); verifier "$verbe is refused" "refus application sensible au premier plan (Bitwarden)" "$r"
done
r=$(printf 'tape\nx' | d); verifier "tape is refused" "refus application sensible au premier plan (Bitwarden)" "$r"
r=$(d flux-stop); verifier "stopping the stream is still served" "ok flux arrêté" "$r"
kill "${pids[-1]}"
attendreQue sh -c "'$demande' --dossier '$dossier' etat | grep -q 'devant=Appli essai'"
r=$(d etat); verifier "served again once it is gone" "Appli essai" "${r#*devant=}"
# Look-alike names, and a sensitive window title in an application that is not.
for cas in "Ｂａｎｑｕｅ Nationale|Ｂａｎｑｕｅ Nationale" "Вitwarden|Вitwarden" "Navigateur|Navigateur, fenêtre « Bitwarden »|Connexion — Bitwarden"; do
  IFS='|' read -r nom attendu titre <<<"$cas"
  ouvrir "$tmp/semblable" --nom "$nom" ${titre:+--titre "$titre"}
  attendreQue sh -c "'$demande' --dossier '$dossier' etat | grep -q refus"
  r=$(d clic 10 10); verifier "$attendu is refused" "refus application sensible au premier plan ($attendu)" "$r"
  kill "${pids[-1]}"
  attendreQue sh -c "'$demande' --dossier '$dossier' etat | grep -q 'devant=Appli essai'"
done

echo "# Applications that AT-SPI cannot name"
ouvrir "$tmp/kraken" --nom Kraken --sans-accessibilite
attendreQue sh -c "'$demande' --dossier '$dossier' etat | grep -q Kraken"
r=$(d clic 10 10); verifier "named by its WM_CLASS, and refused" "refus application sensible au premier plan (Kraken)" "$r"
kill "${pids[-1]}"
ouvrir "$tmp/banque" --nom ComptesEnLigne --sans-accessibilite
attendreQue sh -c "'$demande' --dossier '$dossier' etat | grep -q Banque"
r=$(d clic 10 10); verifier "named by its desktop entry, and refused" "refus application sensible au premier plan (Banque Populaire)" "$r"
kill "${pids[-1]}"
attendreQue sh -c "'$demande' --dossier '$dossier' etat | grep -q 'devant=Appli essai'"

echo "# Accessibility out of reach"
dossier2=$tmp/canal2
mkdir -p -m 700 "$dossier2"
AT_SPI_BUS_ADDRESS=unix:path=$tmp/aucun-bus "$agent" --dossier "$dossier2" 2>/dev/null & pids+=($!)
d clic $(point "$e" entree) >/dev/null
r=$(printf 'tape\nx' | "$demande" --dossier "$dossier2"); verifier "tape is refused when the focus cannot be read" "refus champ de mot de passe" "$r"
r=$("$demande" --dossier "$dossier2" etat); verifier "and that agent still answers" "Appli essai" "${r#*devant=}"

verifier "after all the typing the keyboard mapping is still as it was" "$carteAvant" "$("$carte")"

echo "# Stopping in the middle of a long text"
d clic $(point "$e" texte) >/dev/null
d touche cmd-a >/dev/null; d touche supprimer >/dev/null
attendre "$e" texte "" >/dev/null
r=$(printf 'tape\n%s' "$(printf 'a%.0s' $(seq 10001))" | d); verifier "a text over the bound is refused" "erreur texte trop long (au plus 10000 caractères)" "$r"
long=$(for i in $(seq 800); do printf '漢字 abc '; done)
(printf 'tape\n%s' "$long" | "$demande" --dossier "$dossier" --attente 60 > "$tmp/reponse-longue" 2>&1) & pids+=($!)
attendreQue sh -c "[ \"\$(wc -m < '$e/texte')\" -ge 20 ]"
ouvrir "$tmp/coffre" --nom Bitwarden
attendreQue test -s "$tmp/reponse-longue"
# Which guard speaks first is a race: the new window's focus can be read before the window
# manager names it the active one. Either refusal stops the text.
r=$(cat "$tmp/reponse-longue")
case "$r" in "refus champ de mot de passe") r="refus application sensible au premier plan (Bitwarden)" ;; esac
verifier "a sensitive window coming to the front stops a long text" "refus application sensible au premier plan (Bitwarden)" "$r"
sleep 0.2; verifier "and nothing reaches it" "" "$(cat "$tmp/coffre/entree" 2>/dev/null)"
kill "${pids[-1]}"
attendreQue sh -c "'$demande' --dossier '$dossier' etat | grep -q 'devant=Appli essai'"
d clic $(point "$e" texte) >/dev/null
d touche cmd-a >/dev/null; d touche supprimer >/dev/null
attendre "$e" texte "" >/dev/null
(printf 'tape\n%s' "$long" | "$demande" --dossier "$dossier" --attente 5 >/dev/null 2>&1) & pids+=($!)
attendreQue sh -c "[ \"\$(wc -m < '$e/texte')\" -ge 20 ]"
t0=$(maintenant)
kill -TERM "$agentPid"; wait "$agentPid"
arret=$((($(maintenant) - t0) / 1000000))
verifier "SIGTERM stops the agent in the middle of a long text" 1 "$([ "$arret" -lt 2000 ] && echo 1 || echo 0)"
verifier "and the keyboard mapping is put back" "$carteAvant" "$("$carte")"
tape=$(wc -m < "$e/texte")
verifier "typing stopped there" 1 "$([ "$tape" -lt 1000 ] && echo 1 || echo 0)"

echo "mesure: clic→effet ${latence} ms (réponse comprise); tape de $scalaires scalaires en ${duree} ms; arrêt pendant une saisie en ${arret} ms"
echo "$reussites passed, $echecs failed"
[ "$echecs" -eq 0 ]
