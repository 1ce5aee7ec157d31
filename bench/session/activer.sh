#!/usr/bin/env bash
# From the code typed to the technician's first reply, on loopback, against a local service
# and relay (scripts/service-local.sh), as root with the account vimba-essai as the user.
# Prints each stage and the whole, and activer as a ratio of its irreducible OpenSSH work
# measured in the same run: a fresh host key, an sshd started until it listens, and one
# key login over loopback.
#   bench/session/activer.sh BUILD [TOURS]      (BUILD holds service/ and session/)
set -uo pipefail
[ "$(id -u)" = 0 ] || { echo "à lancer en root"; exit 1; }
ici=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$ici/../.." && pwd)
build=$(cd "$1" && pwd)
tours=${2:-5}
export VIMBA_PORTE=$build/session/vimba-porte

pid_repondeur= pid_sshd=
avant_de_finir() {
  [ -n "$pid_repondeur" ] && kill "$pid_repondeur" 2>/dev/null
  [ -n "$pid_sshd" ] && kill "$pid_sshd" 2>/dev/null
}
. "$src/scripts/session-locale.sh" "$src" "$build" banc-session

ms() { echo $((($(date +%s%N) - $1) / 1000000)); }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
en_utilisateur() { setpriv --reuid="$uid" --regid="$gid" --init-groups --reset-env env VIMBA_SERVICE_CONF="$VIMBA_SERVICE_CONF" "$@"; }
ssh-keygen -q -t ed25519 -N '' -f "$base/technicien"

# The baseline: host key, sshd until it listens, one login (the stand-in account's key).
ssh-keygen -q -t ed25519 -N '' -f "$base/cle_base"
echo "$(cut -d' ' -f1,2 "$base/technicien.pub")" >"$base/autorisees"
chmod 0644 "$base/autorisees"
base_ssh() {
  local t=$(date +%s%N) port=$((32000 + RANDOM % 20000)) i
  rm -f "$base/hote_base" "$base/hote_base.pub"
  ssh-keygen -q -t ed25519 -N '' -f "$base/hote_base"
  /usr/sbin/sshd -D -o "ListenAddress=127.0.0.1:$port" -o "HostKey=$base/hote_base" -o UsePAM=no \
    -o PidFile=none -o StrictModes=no -o "AuthorizedKeysFile=$base/autorisees" -o AllowUsers=vimba-essai \
    -o ForceCommand=true -f /dev/null & pid_sshd=$!
  for i in $(seq 500); do ss -Hltn "sport = :$port" | grep -q . && break; sleep 0.005; done
  ssh -F /dev/null -i "$base/technicien" -o IdentitiesOnly=yes -o StrictHostKeyChecking=no \
    -o UserKnownHostsFile=/dev/null -o BatchMode=yes -o LogLevel=ERROR -p "$port" vimba-essai@127.0.0.1 true 2>/dev/null
  kill "$pid_sshd"; wait "$pid_sshd" 2>/dev/null; pid_sshd=
  ms "$t"
}

cat >"$base/repondeur.sh" <<'EOF'
while [ -d /tmp/vimba-sos ]; do
  for f in /tmp/vimba-sos/demande-*; do
    case $f in *.tmp | *'*') continue ;; esac
    id=${f##*/demande-}; t=$(cat "$f"); rm -f "$f"
    (umask 027; printf 'ok %s' "$t" >/tmp/vimba-sos/.r) && mv /tmp/vimba-sos/.r "/tmp/vimba-sos/reponse-$id"
  done
  sleep 0.01
done
EOF

: >"$base/preparer" ; : >"$base/activer" ; : >"$base/premiere" ; : >"$base/tout" ; : >"$base/base"
for tour in $(seq "$tours"); do
  base_ssh >>"$base/base"
  code=$(curl -sS -X POST -H "Authorization: Bearer $VIMBA_JETON" -H 'Content-Type: application/json' \
    -d "$(jq -cn --arg c "$(cat "$base/technicien.pub")" '{nom: "Ilvo", cle: $c}')" "$VIMBA_SERVICE/v1/codes" | jq -r .code)
  t0=$(date +%s%N)
  en_utilisateur bash "$script" preparer "$code" || exit 1
  ms "$t0" >>"$base/preparer"
  t=$(date +%s%N)
  session=$(PKEXEC_UID=$uid bash "$script" activer) || exit 1
  ms "$t" >>"$base/activer"
  setpriv --reuid="$uid" --regid="$gid" --init-groups --reset-env bash "$base/repondeur.sh" & pid_repondeur=$!
  t=$(date +%s%N)
  en_utilisateur bash "$script" prevenir "$session" >/dev/null
  r=$(curl -sS -H "Authorization: Bearer $VIMBA_JETON" "$VIMBA_SERVICE/v1/sessions/$session/attendre?delai=10")
  pt=$(jq -r .ordinateur.port_tunnel <<<"$r")
  { echo "[127.0.0.1]:$VIMBA_RELAIS_PORT $(jq -r .relais.cle_hote <<<"$r")"
    echo "[127.0.0.1]:$pt $(jq -r .ordinateur.cle_hote <<<"$r")"; } >"$base/connus"
  reponse=$(ssh -F /dev/null -i "$base/technicien" -o IdentitiesOnly=yes -o UserKnownHostsFile="$base/connus" \
    -o BatchMode=yes -o "ProxyCommand=ssh -F /dev/null -i $base/technicien -o IdentitiesOnly=yes -o UserKnownHostsFile=$base/connus -o BatchMode=yes -W %h:%p -p $VIMBA_RELAIS_PORT vimba-relais@127.0.0.1" \
    -p "$pt" vimba-technicien@127.0.0.1 demande <<<etat)
  [ "$reponse" = "ok etat" ] || { echo "réponse inattendue : $reponse"; exit 1; }
  ms "$t" >>"$base/premiere"
  ms "$t0" >>"$base/tout"
  PKEXEC_UID=$uid bash "$script" arreter >/dev/null
  wait "$pid_repondeur" 2>/dev/null; pid_repondeur=
done

b=$(median <"$base/base") a=$(median <"$base/activer")
echo "médianes sur $tours tours (ms)"
echo "  preparer                               $(median <"$base/preparer")"
echo "  activer                                $a"
echo "  prevenir → première réponse (relais)   $(median <"$base/premiere")"
echo "  code tapé → première réponse           $(median <"$base/tout")   (objectif ≤ 3000, mot de passe non compté)"
echo "  base : clé d’hôte + sshd + une connexion  $b"
awk -v a="$a" -v b="$b" 'BEGIN { printf "  activer / base                         %.2f\n", a / b }'
