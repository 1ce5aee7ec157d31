#!/usr/bin/env bash
# Builds the request-reading fuzz target with clang and runs it for a bounded time on a
# copy of the committed corpus. Usage: fuzz.sh WORK_DIR [SECONDS]
set -euo pipefail
ici=$(cd "$(dirname "$0")" && pwd)
racine=$(cd "$ici/../../.." && pwd)
travail=$1
secondes=${2:-20}
mkdir -p "$travail"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$racine" "$ici/demandes_fuzz.cpp" "$racine/service/demandes.cpp" "$racine/service/aleatoire.cpp" \
  -lcrypto -o "$travail/demandes_fuzz"
rm -rf "$travail/corpus" && cp -r "$ici/corpus" "$travail/corpus"
"$travail/demandes_fuzz" -max_total_time="$secondes" -max_len=4096 -timeout=5 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$travail/" "$travail/corpus" 2>&1 | tail -n 12
