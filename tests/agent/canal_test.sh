#!/usr/bin/env bash
# The channel end to end on a real desktop: vimba-agent answering vimba-demande.
# Usage: canal_test.sh BUILD_DIR   (run inside scripts/avec-bureau.sh)
. "$(dirname "$0")/../bureau.sh" "$1" canal
demarrerAgent

r=$(d sauter); rc=$?; verifier "unknown verb exits 1" "1 erreur verbe inconnu sauter" "$rc $r"
r=$(printf 'presse-ecrire\nBonjour « Été » ✓\nligne 2' | d); verifier "presse-ecrire" "ok presse 25 caractères" "$r"
for fois in 1 2; do  # and it stays served
  r=$(timeout 5 xclip -o -selection clipboard); verifier "another client reads what the agent set ($fois)" $'Bonjour « Été » ✓\nligne 2' "$r"
done
printf 'venu d’ailleurs' | timeout 5 xclip -i -selection clipboard -loops 1 & xclip=$!
sleep 0.3
r=$(d presse-lire); verifier "presse-lire reads another client's text" $'ok presse\nvenu d’ailleurs' "$r"
wait $xclip

# Replies carry other programs' text: escaped for a terminal, exact for a pipe.
piege=$'\e]0;pirate\a\e[2J\u202erouge\u009b'
printf 'presse-ecrire\n%s' "$piege" | d >/dev/null
r=$(d presse-lire); verifier "through a pipe the reply is exact" "ok presse"$'\n'"$piege" "$r"
r=$(script -qec "'$demande' --dossier '$dossier' presse-lire" /dev/null | tr -d '\r')
verifier "at a terminal its controls are shown escaped" 'ok presse
\x1B]0;pirate\x07\x1B[2J\u{202E}rouge\x9B' "$r"

# A burst from four concurrent clients: every reply reaches its own sender.
rafale() {
  local i faux=0
  for i in $(seq 50); do [ "$(d "clic $1 $i")" == "ok clic $1 $i" ] || faux=$((faux + 1)); done
  echo "$faux" > "$tmp/rafale$1"
}
clients=()
for k in 1 2 3 4; do rafale "$k" & clients+=($!); done
wait "${clients[@]}"
verifier "200 requests from 4 clients all answered correctly" 0 "$(cat "$tmp"/rafale* | awk '{ n += $1 } END { print n }')"

# No agent: the client says so and exits 2, and leaves nothing behind.
"$demande" --dossier "$dossier/absent" etat 2>/dev/null; verifier "missing folder exits 2" 2 "$?"
kill -STOP "$agentPid"
"$demande" --dossier "$dossier" --attente 0.3 etat 2>/dev/null; verifier "no reply exits 2" 2 "$?"
verifier "and its request is taken back" "" "$(ls "$dossier")"
kill -CONT "$agentPid"

: > "$dossier/vue.jpg"; : > "$dossier/flux.port"; : > "$dossier/demande-zz.tmp"; : > "$dossier/abandon-1"; : > "$dossier/en-cours"
kill -TERM "$agentPid"; wait "$agentPid"; verifier "SIGTERM stops cleanly" 0 "$?"
verifier "stopper clears the folder" "flux.port" "$(ls "$dossier")"
bilan
