#!/usr/bin/env bash
# Typing and clicking through the real channel, against their floor: the fixed pauses
# (12 ms a character, 40 + 50 ms a click). Prints each time and its ratio to the floor.
# Usage (inside scripts/avec-bureau.sh): bench/saisie/frappe.sh BUILD_DIR [ROUNDS]
set -uo pipefail
build=$1
tours=${2:-3}
agent=$build/agent/vimba-agent
demande=$build/tools/vimba-demande
appli=$build/tests/saisie/appli_essai
tmp=$(mktemp -d /tmp/banc-saisie-XXXXXX)
pids=()
fin() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$tmp"; }
trap fin EXIT
ms() { echo $(($(date +%s%N) / 1000000)); }
d() {  # the words of the request as arguments, or its text on stdin
  if [ $# -gt 0 ]; then "$demande" --dossier "$tmp/canal" "$*" >/dev/null; else "$demande" --dossier "$tmp/canal" >/dev/null; fi
}
attendre() {  # fichier valeur
  local fin=$(($(ms) + 10000))
  while [ "$(ms)" -lt $fin ] && [ "$(cat "$1" 2>/dev/null)" != "$2" ]; do sleep 0.002; done
}

xprop -root _NET_ACTIVE_WINDOW 2>/dev/null | grep -q 'window id' || { openbox --sm-disable >/dev/null 2>&1 & pids+=($!); sleep 1; }
mkdir -p -m 700 "$tmp/canal" "$tmp/e"
"$agent" --dossier "$tmp/canal" & pids+=($!)
"$appli" --etat "$tmp/e" --focus texte & pids+=($!)
while [ ! -e "$tmp/e/pret" ]; do sleep 0.05; done
sleep 0.5
centre() { awk -v n="$1" '$1 == n { print int($2 + $4 / 2), int($3 + $5 / 2) }' "$tmp/e/geometrie"; }

ascii=$(printf 'Bonjour, voici un texte ordinaire de cent caracteres pour mesurer la frappe au clavier: %s' "0123456789ab")
mixte=$(printf 'Été « ça » ✓ 😀 日本語 한국어 Ωμέγα ∑∫√ ¿¡ ½ €; %s' "la suite est ordinaire, elle complète la centaine de caractères.....")
for nom in ascii mixte; do
  texte=${!nom}
  n=$(printf '%s' "$texte" | wc -m)
  total=0
  for _ in $(seq "$tours"); do
    d clic $(centre texte); d touche cmd-a; d touche supprimer
    t0=$(ms); printf 'tape\n%s' "$texte" | d; attendre "$tmp/e/texte" "$texte"; total=$((total + $(ms) - t0))
  done
  moyenne=$((total / tours))
  echo "tape $nom ($n caractères): $moyenne ms, ratio au plancher $(awk -v m=$moyenne -v n=$n 'BEGIN { printf "%.2f", m / (12 * n) }')"
done
total=0
for i in $(seq "$tours"); do
  avant=$(cat "$tmp/e/bouton")
  t0=$(ms); d clic $(centre bouton)
  attendre "$tmp/e/bouton" $((1 - avant)); total=$((total + $(ms) - t0))
done
moyenne=$((total / tours))
echo "clic → effet: $moyenne ms, ratio au plancher $(awk -v m=$moyenne 'BEGIN { printf "%.2f", m / 90 }')"
