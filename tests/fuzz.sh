#!/usr/bin/env bash
# Builds a libFuzzer target with clang and runs it for a bounded time on a copy of the
# corpus committed beside it.
# Usage: fuzz.sh WORK_DIR SECONDS MAX_LEN "PKG-CONFIG MODULES" TARGET.cpp [SOURCE.cpp|-lLIB]…
# (paths from the repository's root)
set -euo pipefail
racine=$(cd "$(dirname "$0")/.." && pwd)
travail=$1 secondes=$2 longueur=$3 modules=$4 cible=$5
shift 5
sources=() bibliotheques=()
for s in "$@"; do if [[ $s == -* ]]; then bibliotheques+=("$s"); else sources+=("$racine/$s"); fi; done
executable=$travail/$(basename "$cible" .cpp)
mkdir -p "$travail"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I"$racine" \
  ${modules:+$(pkg-config --cflags $modules)} "$racine/$cible" "${sources[@]}" \
  ${modules:+$(pkg-config --libs $modules)} "${bibliotheques[@]}" -o "$executable"
rm -rf "$travail/corpus" && cp -r "$racine/$(dirname "$cible")/corpus" "$travail/corpus"
"$executable" -max_total_time="$secondes" -max_len="$longueur" -timeout=5 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$travail/" "$travail/corpus" 2>&1 | tail -n 12
