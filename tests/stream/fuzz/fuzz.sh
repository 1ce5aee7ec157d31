#!/usr/bin/env bash
# Builds the viewer's parser fuzz target with clang and runs it for a bounded time on a
# copy of the committed corpus. Usage: fuzz.sh WORK_DIR [SECONDS]
set -euo pipefail
ici=$(cd "$(dirname "$0")" && pwd)
racine=$(cd "$ici/../../.." && pwd)
travail=$1
secondes=${2:-30}
mkdir -p "$travail"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$racine" $(pkg-config --cflags libjpeg libpng libavcodec libavutil) \
  "$ici/lecteur_fuzz.cpp" "$racine/tools/voir/lecteur.cpp" "$racine/tools/voir/decodeur_h264.cpp" \
  $(pkg-config --libs libjpeg libpng libavcodec libavutil) -lyuv -o "$travail/lecteur_fuzz"
rm -rf "$travail/corpus" && cp -r "$ici/corpus" "$travail/corpus"
"$travail/lecteur_fuzz" -max_total_time="$secondes" -max_len=8192 -timeout=5 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$travail/" "$travail/corpus" 2>&1 | tail -n 12
