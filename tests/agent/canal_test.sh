#!/usr/bin/env bash
# The channel end to end on a real desktop: vimba-agent answering vimba-demande.
# Usage: canal_test.sh BUILD_DIR   (run inside scripts/avec-bureau.sh)
set -uo pipefail
build=$1
agent=$build/agent/vimba-agent
demande=$build/tools/vimba-demande
dossier=$(mktemp -d /tmp/essai-canal-XXXXXX)
echecs=0
pid=
fin() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$dossier"; }
trap fin EXIT

verifier() {  # nom attendu obtenu
  if [ "$2" == "$3" ]; then echo "ok   - $1"; else echo "FAIL - $1: attendu «$2» obtenu «$3»"; echecs=$((echecs + 1)); fi
}
d() { "$demande" --dossier "$dossier" "$@"; }

"$agent" --dossier "$dossier" & pid=$!

r=$(d etat); verifier "etat answers" "ok ecran=1" "${r%% agir=*}"
r=$(d 'sauter'); rc=$?; verifier "unknown verb exits 1" "1 erreur verbe inconnu sauter" "$rc $r"

r=$(printf 'presse-ecrire\nBonjour « Été » ✓\nligne 2' | d); verifier "presse-ecrire" "ok presse 25 caractères" "$r"
r=$(timeout 5 xclip -o -selection clipboard); verifier "another client reads what the agent set" $'Bonjour « Été » ✓\nligne 2' "$r"
r=$(timeout 5 xclip -o -selection clipboard); verifier "and it stays served" $'Bonjour « Été » ✓\nligne 2' "$r"

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
  local k=$1 i r faux=0
  for i in $(seq 50); do
    r=$(d "clic $k $i") || { faux=$((faux + 1)); continue; }
    [ "$r" == "ok clic $k $i" ] || faux=$((faux + 1))
  done
  echo "$faux" > "$dossier.rafale$k"
}
clients=()
for k in 1 2 3 4; do rafale "$k" & clients+=($!); done
wait "${clients[@]}"
total=0
for k in 1 2 3 4; do total=$((total + $(cat "$dossier.rafale$k"))); rm -f "$dossier.rafale$k"; done
verifier "200 requests from 4 clients all answered correctly" 0 "$total"

# Oversized requests: answered with an error, removed, and the agent keeps serving.
r=$(head -c 2000000 /dev/zero | tr '\0' a | d); rc=$?
verifier "a 2 MB request gets an error" "1 erreur demande trop longue" "$rc $r"
truncate -s 1T "$dossier/demande-0-enorme.tmp" && mv "$dossier/demande-0-enorme.tmp" "$dossier/demande-0-enorme"
for _ in $(seq 100); do [ -e "$dossier/reponse-0-enorme" ] && break; sleep 0.05; done
verifier "a sparse 1 TB request gets an error" "erreur demande trop longue" "$(cat "$dossier/reponse-0-enorme" 2>/dev/null)"
rm -f "$dossier/reponse-0-enorme"
r=$(d etat); verifier "and the agent still answers" "ok ecran=1" "${r%% agir=*}"
r=$( (printf 'dire 10 10\n'; head -c 170000 /dev/zero | tr '\0' e) | d); verifier "a 170 KB label is refused" "erreur étiquette trop longue (au plus 500 caractères)" "$r"

# No agent: the client says so and exits 2.
r=$("$demande" --dossier "$dossier/absent" etat 2>&1); rc=$?
verifier "missing folder exits 2" 2 "$rc"
kill -STOP "$pid"
r=$(d --attente 0.3 etat 2>/dev/null); rc=$?
verifier "no reply exits 2" 2 "$rc"
kill -CONT "$pid"

: > "$dossier/vue.jpg"; : > "$dossier/flux.port"; : > "$dossier/demande-zz.tmp"
kill -TERM "$pid"; wait "$pid"; rc=$?; pid=
verifier "SIGTERM stops cleanly" 0 "$rc"
verifier "stopper clears the folder" "flux.port" "$(ls "$dossier")"

echo "$((18 - echecs)) passed, $echecs failed"
[ "$echecs" -eq 0 ]
