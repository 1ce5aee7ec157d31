#!/usr/bin/env bash
# Builds the dispatcher fuzz target with clang and runs it for a bounded time on a copy
# of the committed corpus. Usage: fuzz.sh WORK_DIR [SECONDS]
set -euo pipefail
ici=$(cd "$(dirname "$0")" && pwd)
racine=$(cd "$ici/../../.." && pwd)
travail=$1
secondes=${2:-30}
mkdir -p "$travail"
sources=(agent/agent.cpp agent/veille.cpp agent/dossier.cpp agent/executer.cpp agent/texte.cpp agent/nombres.cpp agent/sensibles.cpp reading/element.cpp)
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$racine" $(pkg-config --cflags glib-2.0 icu-uc icu-i18n) \
  "$ici/executer_fuzz.cpp" "${sources[@]/#/$racine/}" \
  $(pkg-config --libs glib-2.0 icu-uc icu-i18n) -o "$travail/executer_fuzz"
rm -rf "$travail/corpus" && cp -r "$ici/corpus" "$travail/corpus"
"$travail/executer_fuzz" -max_total_time="$secondes" -max_len=4096 -timeout=5 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$travail/" "$travail/corpus" 2>&1 | tail -n 12
