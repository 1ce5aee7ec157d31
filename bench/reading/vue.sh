#!/usr/bin/env bash
# "vue" round trip through the channel (vimba-demande to vimba-agent and back) beside the
# usual pipeline of a screenshot tool and ImageMagick reduction to the same size and
# quality, on X servers of two sizes started here. Prints medians and their ratio.
# Usage: vue.sh BUILD_DIR [TOURS]   (inside scripts/avec-bureau.sh, for the session bus)
set -uo pipefail
build=$1
tours=${2:-21}
agent=$build/agent/vimba-agent
demande=$build/tools/vimba-demande
mediane() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
ms() { echo "scale=2; ($2 - $1) / 1000000" | bc; }
for taille in 1920x1080 2880x1800; do
  for n in $(seq 160 199); do [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || break; done
  Xvfb :$n -screen 0 ${taille}x24 -nolisten tcp >/dev/null 2>&1 & x=$!
  for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.05; done
  export DISPLAY=:$n
  tmp=$(mktemp -d /tmp/bench-vue-XXXXXX)
  mkdir -m 700 "$tmp/canal"
  "$agent" --dossier "$tmp/canal" >/dev/null 2>&1 & a=$!
  "$demande" --dossier "$tmp/canal" vue >/dev/null
  canal=$(for _ in $(seq "$tours"); do
    t0=$(date +%s%N); "$demande" --dossier "$tmp/canal" vue >/dev/null; t1=$(date +%s%N); ms "$t0" "$t1"
  done | mediane)
  outils=$(for _ in $(seq "$tours"); do
    t0=$(date +%s%N)
    import -silent -window root "png:$tmp/brut.png" && convert "$tmp/brut.png" -resize '1440x1440>' -quality 55 "$tmp/vue.jpg"
    t1=$(date +%s%N); ms "$t0" "$t1"
  done | mediane)
  echo "vue $taille : canal $canal ms, import + convert $outils ms, rapport $(echo "scale=1; $outils / $canal" | bc)×"
  kill $a $x 2>/dev/null
  wait $a $x 2>/dev/null
  rm -rf "$tmp"
done
