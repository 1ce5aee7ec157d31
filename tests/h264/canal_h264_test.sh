#!/bin/bash
# Through the real channel with the default engine: "flux" with no argument, then the
# viewer decodes H.264 pictures of the whole screen and writes one as PNG.
set -u
B=$1
D=$(mktemp -d)
trap 'kill $AGENT 2>/dev/null; wait 2>/dev/null; rm -rf "$D"' EXIT
"$B/agent/vimba-agent" --dossier "$D" & AGENT=$!
echec() { echo "ÉCHEC : $*" >&2; exit 1; }

R=$("$B/tools/vimba-demande" --dossier "$D" 'flux')
[[ $R =~ ^ok\ flux\ ([0-9]+)\ aucun$ ]] || echec "réponse « $R »"
PORT=${BASH_REMATCH[1]}

"$B/tools/voir/vimba-voir" --port "$PORT" --stats --duree 1.6 --png "$D/vue.png" > "$D/stats" 2> "$D/erreurs" \
  || echec "visionneur : $(cat "$D/erreurs")"
[[ -s $D/vue.png ]] || echec "pas de PNG"
grep -qE 'images [1-9][0-9]* .*taille 1440x' "$D/stats" || echec "pas d’image H.264 : $(cat "$D/stats")"
echo "canal h264 : bon"
