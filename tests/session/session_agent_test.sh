#!/usr/bin/env bash
# The computer's half with the real agent: session.sh opens the session, vimba-agent runs as
# the user on a private Xvfb, and the technician, through the relay and vimba-porte, gets
# its replies, a screenshot and the stream.
#   session_agent_test.sh SOURCES BUILD VIMBA_PORTE VIMBA_AGENT
agent=$4
command -v Xvfb >/dev/null || { echo "Xvfb absent"; exit 77; }
[ -x "$agent" ] || { echo "vimba-agent absent : $agent"; exit 77; }
. "$(dirname "$0")/commun.sh"

for n in $(seq 150 199); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { ecran=:$n; break; }
done
Xvfb "$ecran" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pid_xvfb=$!

session=$(etape preparer "$(nouveau_code)" && activer)
verifier "session ouverte" 0 $?
etape prevenir "$session" >/dev/null
config_technicien "$(attendre "$session")"
setpriv --reuid="$uid" --regid="$gid" --init-groups --reset-env env DISPLAY="$ecran" "$agent" >"$base/agent.log" 2>&1 &
pid_agent=$!

r=
for _ in $(seq 20); do
  r=$(tech ordinateur demande <<<"etat" 2>/dev/null) && break
  sleep 0.5
done
contient "l’agent répond par la porte" "ok ecran=1" "$r"
r=$(tech ordinateur demande <<<"vue")
contient "vue" "ok vue " "$r"
taille=${r#ok vue }
verifier "lire vue.jpg : un JPEG de la taille annoncée" "ffd8 $taille" \
  "$(tech ordinateur 'lire vue.jpg' >"$base/vue.jpg"; od -An -tx1 -N2 "$base/vue.jpg" | tr -d ' ') $(stat -c %s "$base/vue.jpg")"
r=$(tech ordinateur demande <<<"flux")
contient "flux démarré" "ok flux " "$r"
# A still screen: the first picture, then heartbeats.
octets=$( (sleep 2) | tech ordinateur flux 2>/dev/null | wc -c)
[ "$octets" -ge 200 ]; verifier "le flux arrive par la porte ($octets octets)" 0 $?

kill "$pid_agent"; wait "$pid_agent" 2>/dev/null; pid_agent=
sortie=$(arreter); verifier "arreter" "0 fermee" "$? $sortie"
verifier "rien ne reste après arreter" " rien" "$(reste)"

[ "$echecs" = 0 ] && echo "tout va bien" || { echo "$echecs échecs"; cat "$base/agent.log"; }
[ "$echecs" = 0 ]
