#!/usr/bin/env bash
# The relay for real: scripts/service-local.sh (stock sshd, shipped fragment, keys from the
# service), two sessions of two technicians, and what each key may and may not do there.
# Usage: relais_test.sh BUILD_DIR. Exit 77 (skipped) when not root.
[ "$(id -u)" -eq 0 ] || { echo "relais : il faut être root (sshd)"; exit 77; }
# The shared harness for its temporary folder, its checks and its clean-up; no desktop needed.
. "$(dirname "$0")/../bureau.sh" "$1" relais
racine=$(cd "$(dirname "$0")/../.." && pwd)
d=$tmp
local_pid=''
nettoyer() { [ -z "$local_pid" ] || { kill "$local_pid"; wait "$local_pid"; } 2>/dev/null; }

VIMBA_BUILD=$build "$racine/scripts/service-local.sh" "$d/local" >"$d/sortie" 2>"$d/erreurs" &
local_pid=$!
for i in $(seq 1 200); do grep -q prêt "$d/sortie" 2>/dev/null && break; sleep 0.05; done
if ! grep -q prêt "$d/sortie"; then echo "service-local ne démarre pas :"; cat "$d/erreurs"; exit 1; fi
verifier "service-local n’écrit que « prêt »" "prêt" "$(cat "$d/sortie")"
set -a; . "$d/local/env"; set +a
outil=$build/service/vimba-service

for k in tech1 tech2 tun1 tun2 inconnue hote; do ssh-keygen -q -t ed25519 -N '' -C "$k" -f "$d/$k"; done
jeton2=$("$outil" jeton creer autre --base "$VIMBA_SERVICE_BASE")
# A scalar field of a flat-enough JSON answer (the names read here occur once).
champ() { sed -n "s/.*\"$1\": *\"\{0,1\}\([^\",}]*\).*/\1/p"; }
ouvrir_session() {  # JETON TECH_KEY TUNNEL_KEY -> "ID SECRET PORT"
  local c a
  c=$(curl -s -H "Authorization: Bearer $1" -d "{\"nom\":\"T\",\"cle\":\"$(cat "$2.pub")\"}" "$VIMBA_SERVICE/v1/codes" | champ code)
  a=$(curl -s -d "{\"code\":\"$c\",\"cle_tunnel\":\"$(cat "$3.pub")\"}" "$VIMBA_SERVICE/v1/codes/accepter")
  echo "$(echo "$a" | champ session) $(echo "$a" | champ secret) $(echo "$a" | champ port_tunnel)"
}
read -r id1 secret1 port1 <<<"$(ouvrir_session "$VIMBA_JETON" "$d/tech1" "$d/tun1")"
read -r id2 secret2 port2 <<<"$(ouvrir_session "$jeton2" "$d/tech2" "$d/tun2")"

options=(-F /dev/null -o BatchMode=yes -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null
  -o LogLevel=ERROR -o IdentitiesOnly=yes -o IdentityAgent=none -o ConnectTimeout=5 -p "$VIMBA_RELAIS_PORT")
relais() { local cle=$1; shift; timeout 10 ssh "${options[@]}" -i "$cle" "$@" vimba-relais@127.0.0.1; }
ecoute() { ss -ltnH "sport = :$1" | grep -c "127.0.0.1:$1"; }

# Each computer's tunnel brings its relay port back to a server that greets (the relay's
# own sshd), so reaching a port shows as an SSH banner.
for n in 1 2; do
  eval "ssh \"\${options[@]}\" -i $d/tun$n -N -o ExitOnForwardFailure=yes -R 127.0.0.1:\$port$n:127.0.0.1:$VIMBA_RELAIS_PORT vimba-relais@127.0.0.1 &"
  pids+=($!)
done
for i in $(seq 1 100); do [ "$(ecoute "$port1")$(ecoute "$port2")" = 11 ] && break; sleep 0.05; done
verifier "tunnel : son propre port" "11" "$(ecoute "$port1")$(ecoute "$port2")"
prete() {  # ID SECRET PORT
  curl -s -o /dev/null -w '%{http_code}' -H "Authorization: Bearer $2" \
    -d "{\"port_tunnel\":$3,\"cle_hote\":\"$(cat "$d/hote.pub")\",\"compte\":\"vimba-technicien\"}" \
    "$VIMBA_SERVICE/v1/sessions/$1/prete"
}
verifier "sessions prêtes" "200 200" "$(prete "$id1" "$secret1" "$port1") $(prete "$id2" "$secret2" "$port2")"

# A line that is no SSH greeting makes the far sshd hang up right after its banner.
banniere() { printf 'x\r\n' | relais "$1" -W "127.0.0.1:$2" 2>/dev/null | head -c 7; }
autre=$((port2 + 1))
relais "$d/tun1" -N -o ExitOnForwardFailure=yes -R "127.0.0.1:$autre:127.0.0.1:$VIMBA_RELAIS_PORT" 2>/dev/null
verifier "tunnel : un autre port refusé" "255 0" "$? $(ecoute "$autre")"
verifier "tunnel : pas de transfert local" "" "$(banniere "$d/tun1" "$port1")"
verifier "tunnel : pas de commande" "" "$(relais "$d/tun1" echo OUVERT 2>/dev/null)"
verifier "technicien : sa session" "SSH-2.0" "$(banniere "$d/tech1" "$port1")"
verifier "technicien : pas la session d’un autre" "" "$(banniere "$d/tech1" "$port2")"
verifier "technicien : pas le relais lui-même" "" "$(banniere "$d/tech1" "$VIMBA_RELAIS_PORT")"
verifier "technicien : pas de commande" "" "$(relais "$d/tech1" echo OUVERT 2>/dev/null)"
relais "$d/tech1" -N -o ExitOnForwardFailure=yes -R "127.0.0.1:$autre:127.0.0.1:$VIMBA_RELAIS_PORT" 2>/dev/null
verifier "technicien : pas d’écoute" "255" "$?"
relais "$d/inconnue" true 2>/dev/null
verifier "clé inconnue refusée" "255" "$?"
verifier "autre compte : aucune ligne" "" "$("$outil" cles --base "$VIMBA_SERVICE_BASE" root $(cut -d' ' -f1,2 "$d/tech1.pub"))"

# Once closed, neither key of session 1 gets in again; session 2 is untouched.
curl -s -o /dev/null -H "Authorization: Bearer $VIMBA_JETON" -d '{}' "$VIMBA_SERVICE/v1/sessions/$id1/fermer"
verifier "session close : technicien refusé" "" "$(banniere "$d/tech1" "$port1")"
relais "$d/tun1" -N -o ExitOnForwardFailure=yes -R "127.0.0.1:$port1:127.0.0.1:$VIMBA_RELAIS_PORT" 2>/dev/null
verifier "session close : tunnel refusé" "255" "$?"
verifier "l’autre session continue" "SSH-2.0" "$(banniere "$d/tech2" "$port2")"

# SIGTERM stops the pair and removes the relay's copy of the service.
outils=$(grep -o '/run/vimba-relais\.[A-Za-z0-9]*' "$d/local/sshd_config" | head -1)
kill "$local_pid"; wait "$local_pid"
verifier "service-local : arrêt propre" "0 absent" "$? $([ -e "$outils" ] && echo présent || echo absent)"
local_pid=''
bilan
