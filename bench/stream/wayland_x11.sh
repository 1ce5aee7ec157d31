#!/usr/bin/env bash
# The Wayland screen beside X11 on this machine, in one run: "vue" round trip through the
# channel (vimba-demande to vimba-agent and back) and change-to-viewer latency of both
# engines (banc_latence_affichage: from the window's paint, and from its repaint request,
# which adds the compositor's frame pacing), on Xvfb then on the headless Wayland test
# desktop. Prints medians and the Wayland / X11 ratios.
#   bench/stream/wayland_x11.sh BUILD_DIR [TOURS]
set -uo pipefail
ici=$(cd "$(dirname "$0")" && pwd)
racine=$(cd "$ici/../.." && pwd)
build=$(cd "$1" && pwd)
tours=${2:-21}

# Inside a desktop: "vue MS", then "MOTEUR P50 P95 P50-DEPUIS-LA-DEMANDE" for both engines.
interieur() {
  local build=$1 tours=$2 tmp
  tmp=$(mktemp -d /tmp/banc-wx-XXXXXX)
  mkdir -m 700 "$tmp/canal"
  "$build/agent/vimba-agent" --dossier "$tmp/canal" --autoriser >/dev/null 2>&1 & local a=$!
  for _ in $(seq 100); do "$build/tools/vimba-demande" --dossier "$tmp/canal" etat 2>/dev/null | grep -q ecran=1 && break; sleep 0.1; done
  "$build/tools/vimba-demande" --dossier "$tmp/canal" vue >/dev/null
  for _ in $(seq "$tours"); do
    t0=$(date +%s%N); "$build/tools/vimba-demande" --dossier "$tmp/canal" vue >/dev/null; t1=$(date +%s%N)
    echo "scale=2; ($t1 - $t0) / 1000000" | bc
  done | sort -n | awk '{v[NR] = $1} END {print "vue", v[int((NR + 1) / 2)]}'
  kill $a; wait $a 2>/dev/null
  "$build/bench/stream/banc_latence_affichage" "$tours"
  rm -rf "$tmp"
}
if [ "${1:-}" = --interieur ]; then shift; interieur "$@"; exit; fi

export -f interieur
x11=$(VIMBA_XVFB=1 "$racine/scripts/avec-bureau.sh" bash "$0" --interieur "$build" "$tours" 2>/dev/null)
wl=$(VIMBA_AFFICHAGE= "$racine/tests/wayland/bureau_wayland.sh" bash "$0" --interieur "$build" "$tours" 2>/dev/null)
valeur() { echo "$1" | awk -v c="$2" -v n="$3" '$1 == c {print $n}'; }
printf '%-34s %10s %10s %8s\n' "mesure (médiane, ms)" X11 Wayland rapport
for m in "vue:vue 2" "tuiles, depuis la peinture:tuiles 2" "h264, depuis la peinture:h264 2" \
         "tuiles, depuis la demande:tuiles 4" "h264, depuis la demande:h264 4"; do
  c=${m%%:*}; cle=${m#*:}
  x=$(valeur "$x11" $cle); w=$(valeur "$wl" $cle)
  r=$( [ -n "$x" ] && [ -n "$w" ] && echo "scale=2; $w / $x" | bc )
  printf '%-34s %10s %10s %7s×\n' "$c" "${x:-?}" "${w:-?}" "${r:-?}"
done
