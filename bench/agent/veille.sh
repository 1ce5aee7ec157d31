#!/usr/bin/env bash
# Idle cost of the agent against its floor: the CPU time of vimba-agent waiting on an empty
# folder and of a bare GLib loop with the same 12 ms timer, measured side by side over the
# same seconds. Prints both as a share of a core and their ratio.
# Usage (inside scripts/avec-bureau.sh): bench/agent/veille.sh BUILD_DIR [SECONDES]
set -uo pipefail
build=$1
secondes=${2:-20}
tmp=$(mktemp -d /tmp/banc-veille-XXXXXX)
mkdir -m 700 "$tmp/canal"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$tmp"' EXIT
"$build/agent/vimba-agent" --dossier "$tmp/canal" & pids+=($!); agent=$!
"$build/bench/agent/bench_boucle_nue" & pids+=($!); nue=$!
# Let start-up settle, one request answered, then count only the idle time.
for _ in $(seq 100); do "$build/tools/vimba-demande" --dossier "$tmp/canal" --attente 1 etat >/dev/null 2>&1 && break; done
sleep 2
# Time on the CPU in ns, all threads (schedstat, finer than the 10 ms ticks of stat).
tics() { local t=0 f; for f in /proc/$1/task/*/schedstat; do t=$((t + $(cut -d' ' -f1 "$f"))); done; echo $t; }
a0=$(tics $agent); n0=$(tics $nue); t0=$(date +%s%N)
sleep "$secondes"
a1=$(tics $agent); n1=$(tics $nue); t1=$(date +%s%N)
awk -v a=$((a1 - a0)) -v n=$((n1 - n0)) -v ns=$((t1 - t0)) 'BEGIN {
  s = ns / 1e9
  printf "agent au repos : %.2f %% d’un cœur ; boucle GLib nue (12 ms) : %.2f %% ; rapport %.2f (sur %.0f s)\n",
    100 * a / ns, 100 * n / ns, n ? a / n : 0, s }'
