#!/bin/bash
# Through the real channel: the agent answers "flux", the viewer gets pictures and
# heartbeats, "flux-stop" closes the stream and removes "flux.port".
set -u
B=$1
D=$(mktemp -d)
trap 'kill $AGENT 2>/dev/null; wait 2>/dev/null; rm -rf "$D"' EXIT
"$B/agent/vimba-agent" --dossier "$D" & AGENT=$!
echec() { echo "ÉCHEC : $*" >&2; exit 1; }

R=$("$B/tools/vimba-demande" --dossier "$D" 'flux 1440 45 tuiles')
[[ $R =~ ^ok\ flux\ ([0-9]+)\ aucun$ ]] || echec "réponse « $R »"
PORT=${BASH_REMATCH[1]}
[[ $(cat "$D/flux.port") == "$PORT" ]] || echec "flux.port"

"$B/tools/voir/vimba-voir" --port "$PORT" --stats --duree 1.6 --png "$D/vue.png" > "$D/stats" || echec "visionneur"
[[ -s $D/vue.png ]] || echec "pas de PNG"
# The first second carries the complete picture, the next only heartbeats with a pointer.
grep -q 'images 1 ' "$D/stats" || echec "pas d’image : $(cat "$D/stats")"
grep -qE 'pointeur [0-9]+ [0-9]+' "$D/stats" || echec "pas de pointeur"

R=$("$B/tools/vimba-demande" --dossier "$D" 'flux-stop')
[[ $R == "ok flux arrêté" ]] || echec "flux-stop : « $R »"
[[ -e $D/flux.port ]] && echec "flux.port laissé après l’arrêt"
"$B/tools/voir/vimba-voir" --port "$PORT" --duree 1 2>/dev/null && echec "toujours à l’écoute"
# Stopping the agent closes the stream too.
R=$("$B/tools/vimba-demande" --dossier "$D" 'flux 1024 45 tuiles')
[[ $R =~ ^ok\ flux\ ([0-9]+)\ aucun$ ]] || echec "réponse « $R »"
PORT=${BASH_REMATCH[1]}
kill -TERM $AGENT; wait $AGENT 2>/dev/null
"$B/tools/voir/vimba-voir" --port "$PORT" --duree 1 2>/dev/null && echec "écoute après l’arrêt de l’agent"
echo "canal flux : bon"
