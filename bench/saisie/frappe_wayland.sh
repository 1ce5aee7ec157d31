#!/usr/bin/env bash
# Typing on Wayland against X11 on the same machine: the same 100-character texts typed
# through the real channel into the same GTK window, once in Xvfb (bench/saisie/frappe.sh)
# and once on headless sway (tests/wayland/bureau_wayland.sh); prints each time and the
# Wayland / X11 ratio.
# Usage: bench/saisie/frappe_wayland.sh BUILD_DIR [ROUNDS]
set -uo pipefail
ici=$(cd "$(dirname "$0")" && pwd)
racine=$(cd "$ici/../.." && pwd)
build=$(cd "$1" && pwd)
tours=${2:-3}

if [ "${VIMBA_FRAPPE_DEDANS:-}" = 1 ]; then
  # Inside the Wayland desktop: the window's place comes from sway, GTK only knows its surface.
  agent=$build/agent/vimba-agent
  demande=$build/tools/vimba-demande
  tmp=$(mktemp -d)
  pids=()
  trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$tmp"' EXIT
  ms() { echo $(($(date +%s%N) / 1000000)); }
  d() { if [ $# -gt 0 ]; then "$demande" --dossier "$tmp/canal" "$*" >/dev/null; else "$demande" --dossier "$tmp/canal" >/dev/null; fi; }
  attendre() { local fin=$(($(ms) + 10000)); while [ "$(ms)" -lt $fin ] && [ "$(cat "$1" 2>/dev/null)" != "$2" ]; do sleep 0.002; done; }
  mkdir -p -m 700 "$tmp/canal" "$tmp/e"
  "$agent" --dossier "$tmp/canal" 2>/dev/null & pids+=($!)
  "$build/tests/saisie/appli_essai" --etat "$tmp/e" --focus texte & pids+=($!)
  appli=$!
  while [ ! -e "$tmp/e/pret" ]; do sleep 0.05; done
  sleep 0.5
  read -r ox oy < <(swaymsg -t get_tree | python3 -c '
import json, sys
def chercher(n):
    if n.get("pid") == '"$appli"':
        print(n["rect"]["x"], n["rect"]["y"]); return True
    return any(chercher(c) for c in n.get("nodes", []) + n.get("floating_nodes", []))
chercher(json.load(sys.stdin))')
  centre() { awk -v n="$1" -v ox="$ox" -v oy="$oy" '$1 == n { print int(ox + $2 + $4 / 2), int(oy + $3 + $5 / 2) }' "$tmp/e/geometrie"; }
  ascii=$(printf 'Bonjour, voici un texte ordinaire de cent caracteres pour mesurer la frappe au clavier: %s' "0123456789ab")
  mixte=$(printf 'Été « ça » ✓ 😀 日本語 한국어 Ωμέγα ∑∫√ ¿¡ ½ €; %s' "la suite est ordinaire, elle complète la centaine de caractères.....")
  for nom in ascii mixte; do
    texte=${!nom}
    total=0
    for _ in $(seq "$tours"); do
      d clic $(centre texte); d touche cmd-a; d touche supprimer
      t0=$(ms); printf 'tape\n%s' "$texte" | d; attendre "$tmp/e/texte" "$texte"; total=$((total + $(ms) - t0))
    done
    echo "tape $nom ($(printf '%s' "$texte" | wc -m) caractères): $((total / tours)) ms"
  done
  exit 0
fi

x11=$(VIMBA_XVFB=1 "$racine/scripts/avec-bureau.sh" "$ici/frappe.sh" "$build" "$tours" 2>/dev/null)
wl=$(VIMBA_FRAPPE_DEDANS=1 "$racine/tests/wayland/bureau_wayland.sh" "$ici/frappe_wayland.sh" "$build" "$tours" 2>/dev/null)
for nom in ascii mixte; do
  a=$(sed -n "s/^tape $nom .*: \([0-9]*\) ms.*/\1/p" <<<"$x11")
  b=$(sed -n "s/^tape $nom .*: \([0-9]*\) ms.*/\1/p" <<<"$wl")
  if [ -z "$a" ] || [ -z "$b" ]; then echo "tape $nom: pas de mesure (X11 «$a», Wayland «$b»)"; continue; fi
  echo "tape $nom (100 caractères): X11 $a ms, Wayland $b ms, ratio Wayland/X11 $(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.2f", b / a }')"
done
