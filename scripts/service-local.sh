#!/usr/bin/env bash
# A local support service (SQLite) and relay (stock sshd) on free loopback ports, for the
# demo and the tests. Usage: service-local.sh DOSSIER   (as root)
# Writes DOSSIER/env and DOSSIER/service.conf, prints « prêt » once both answer, and
# stays until SIGTERM or SIGINT, then stops both.
set -euo pipefail
ici=$(cd "$(dirname "$0")" && pwd)
racine=$(cd "$ici/.." && pwd)

dire() { echo "service-local : $*" >&2; }
if [ $# -ne 1 ]; then dire "usage : service-local.sh DOSSIER"; exit 2; fi
if [ "$(id -u)" -ne 0 ]; then
  dire "il faut être root : le relais est un sshd qui change d’utilisateur"
  exit 1
fi
mkdir -p "$1"
dossier=$(cd "$1" && pwd)
case "$dossier" in *[[:space:]]*) dire "le chemin du dossier ne doit pas contenir d’espace : $dossier"; exit 2 ;; esac
build=${VIMBA_BUILD:-$racine/build}
case "$build" in /*) ;; *) build=$racine/$build ;; esac
binaire=$build/service/vimba-service
if [ ! -x "$binaire" ]; then dire "vimba-service introuvable : $binaire (construisez la cible vimba-service)"; exit 1; fi

pid_service='' pid_sshd='' pid_jeton='' outils=''
arreter() {
  trap - EXIT INT TERM
  for p in $pid_service $pid_sshd $pid_jeton; do kill "$p" 2>/dev/null || true; done
  for p in $pid_service $pid_sshd $pid_jeton; do wait "$p" 2>/dev/null || true; done
  if [ -n "$outils" ]; then rm -rf "$outils"; fi
}
trap 'arreter; exit 0' INT TERM
trap 'arreter' EXIT

# sshd runs AuthorizedKeysCommand only from a root-owned path none but root may change,
# which a checkout under /tmp is not: the relay gets its own copy.
outils=$(mktemp -d /run/vimba-relais.XXXXXX)
chmod 0755 "$outils"
install -m 0755 "$binaire" "$outils/vimba-service"
mkdir -p /run/sshd && chmod 0755 /run/sshd

# The relay's account; sshd without PAM refuses one whose password field starts with « ! ».
if ! getent passwd vimba-relais >/dev/null; then
  useradd --system --shell /bin/sh vimba-relais 2>/dev/null || getent passwd vimba-relais >/dev/null
fi
for essai in 1 2 3 4 5 6 7 8 9 10; do
  case "$(getent shadow vimba-relais | cut -d: -f2)" in '!'*) ;; *) break ;; esac
  usermod -p '*' vimba-relais 2>/dev/null || sleep 0.2
done

rm -f "$dossier/relais_hote" "$dossier/relais_hote.pub" "$dossier/adresse" "$dossier/env"
base=sqlite:$dossier/service.db
# Tunnel ports from a random block, so that several local relays rarely pick the same one.
debut_ports=$((20000 + RANDOM % 40 * 1000))

# The service needs the relay's port and host key file name, not the relay itself: both
# start together. sshd cannot take port 0, so a random port is tried until it binds.
lancer_service() {
  cat >"$dossier/vimba-service.conf" <<CONF
ecoute=127.0.0.1:0
base=$base
annonce=$dossier/adresse
relais_hote=127.0.0.1
relais_port=$port_sshd
relais_compte=vimba-relais
relais_cle_hote_fichier=$dossier/relais_hote.pub
ports=$debut_ports-$((debut_ports + 999))
CONF
  rm -f "$dossier/adresse"
  "$outils/vimba-service" servir --conf "$dossier/vimba-service.conf" 2>>"$dossier/service.log" &
  pid_service=$!
}
lancer_relais() {
  {
    cat <<CONF
Port $port_sshd
ListenAddress 127.0.0.1
HostKey $dossier/relais_hote
PidFile none
UsePAM no
AuthorizedKeysFile none
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin no
LogLevel VERBOSE
CONF
    sed -e "s|/usr/lib/vimba-service/vimba-service|$outils/vimba-service|" \
        -e "s|sqlite:/var/lib/vimba-service/service.db|$base|" \
        -e "s|AuthorizedKeysCommandUser vimba-service|AuthorizedKeysCommandUser root|" \
        "$racine/service/vimba-relais.conf"
  } >"$dossier/sshd_config"
  : >"$dossier/relais.log"
  /usr/sbin/sshd -D -f "$dossier/sshd_config" -E "$dossier/relais.log" &
  pid_sshd=$!
}

# A name of its own, since the folder may hold the base of an earlier run.
"$outils/vimba-service" jeton creer "local-$(date +%s%N)" --base "$base" >"$dossier/jeton" &
pid_jeton=$!
ssh-keygen -q -t ed25519 -N '' -C vimba-relais -f "$dossier/relais_hote"
port_sshd=$((20000 + RANDOM % 40000))
lancer_service
relais=''
for essai in $(seq 1 20); do
  lancer_relais
  for i in $(seq 1 250); do
    if grep -q "Server listening on 127.0.0.1 port $port_sshd" "$dossier/relais.log"; then relais=1; break 2; fi
    if ! kill -0 "$pid_sshd" 2>/dev/null; then break; fi
    sleep 0.02
  done
  kill "$pid_sshd" "$pid_service" 2>/dev/null || true
  wait "$pid_sshd" "$pid_service" 2>/dev/null || true
  pid_sshd='' pid_service=''
  port_sshd=$((20000 + RANDOM % 40000))
  lancer_service
done
if [ -z "$relais" ]; then dire "le relais sshd ne démarre pas : voir $dossier/relais.log"; exit 1; fi
if ! wait "$pid_jeton"; then dire "jeton impossible à créer : voir $dossier/service.log"; exit 1; fi
jeton=$(cat "$dossier/jeton")
rm -f "$dossier/jeton"
for i in $(seq 1 250); do
  [ -s "$dossier/adresse" ] && break
  if ! kill -0 "$pid_service" 2>/dev/null; then dire "le service ne démarre pas : voir $dossier/service.log"; exit 1; fi
  sleep 0.02
done
adresse=$(cat "$dossier/adresse" 2>/dev/null || true)
if [ -z "$adresse" ] || ! curl -sf --max-time 5 "$adresse/v1/sante" >/dev/null; then
  dire "le service ne répond pas : voir $dossier/service.log"
  exit 1
fi

echo "adresse=$adresse" >"$dossier/service.conf"
cat >"$dossier/env.tmp" <<ENV
VIMBA_SERVICE=$adresse
VIMBA_JETON=$jeton
VIMBA_RELAIS_PORT=$port_sshd
VIMBA_SERVICE_CONF=$dossier/service.conf
VIMBA_SERVICE_BASE=$base
ENV
mv "$dossier/env.tmp" "$dossier/env"
echo "prêt"

# Either one ending by itself ends the pair.
set +e
wait -n "$pid_service" "$pid_sshd"
dire "le service ou le relais s’est arrêté : voir $dossier/service.log et $dossier/relais.log"
exit 1
