# Shared by the session tests (sourced): the local service and relay, the user vimba-essai,
# the technician's key and OpenSSH configuration, and what a closed session may not leave.
#   . commun.sh SOURCES BUILD VIMBA_PORTE
set -uo pipefail
src=$1 build=$2
export VIMBA_PORTE=$3
script=$src/resources/session.sh
[ "$(id -u)" = 0 ] || { echo "à lancer en root"; exit 77; }
[ -x "$src/scripts/service-local.sh" ] || { echo "scripts/service-local.sh absent"; exit 77; }
[ -x "$build/service/vimba-service" ] || { echo "vimba-service absent de $build"; exit 77; }
[ -x "$VIMBA_PORTE" ] || { echo "vimba-porte absent : $VIMBA_PORTE"; exit 77; }

echecs=0
verifier() {  # NOM ATTENDU OBTENU
  if [ "$2" == "$3" ]; then echo "ok   - $1"; else echo "FAIL - $1 : attendu « $2 », obtenu « $3 »"; echecs=$((echecs + 1)); fi
}
contient() {  # NOM MOT TEXTE
  if [[ $3 == *"$2"* ]]; then echo "ok   - $1"; else echo "FAIL - $1 : « $2 » absent de « $3 »"; echecs=$((echecs + 1)); fi
}

pid_repondeur= pid_attaque= pid_agent= pid_xvfb= pid_tls=
avant_de_finir() {
  [ -n "$pid_attaque" ] && kill "$pid_attaque" 2>/dev/null && wait "$pid_attaque" 2>/dev/null
  for p in $pid_repondeur $pid_agent $pid_xvfb $pid_tls; do kill "$p" 2>/dev/null; done
  # Whatever the attacker left at the folder's name.
  [ "$(stat -c %U /tmp/vimba-sos 2>/dev/null)" = nobody ] && rm -rf /tmp/vimba-sos
  rm -rf /tmp/attaque-vimba
}
# Other suites open sessions too: one at a time, each with its local service and relay.
. "$src/scripts/session-locale.sh" "$src" "$build" essai-session
# What an interrupted run of this test may have left: the attacker's folder.
[ "$(stat -c %U /tmp/vimba-sos 2>/dev/null)" = nobody ] && rm -rf /tmp/vimba-sos
rm -rf /tmp/attaque-vimba
details=/run/user/$uid/depannage-vimba

# As the user, with only what the application gives the script.
en_utilisateur() { setpriv --reuid="$uid" --regid="$gid" --init-groups --reset-env env VIMBA_SERVICE_CONF="$VIMBA_SERVICE_CONF" "$@"; }
etape() { en_utilisateur bash "$script" "$@"; }
activer() { PKEXEC_UID=$uid bash "$script" activer; }
arreter() { PKEXEC_UID=$uid bash "$script" arreter; }

ssh-keygen -q -t ed25519 -N '' -C ilvo -f "$base/technicien"
nouveau_code() {
  curl -sS -X POST -H "Authorization: Bearer $VIMBA_JETON" -H 'Content-Type: application/json' \
    -d "$(jq -cn --arg c "$(cat "$base/technicien.pub")" '{nom: "Ilvo", cle: $c}')" "$VIMBA_SERVICE/v1/codes" | jq -r .code
}
attendre() {
  curl -sS -H "Authorization: Bearer $VIMBA_JETON" "$VIMBA_SERVICE/v1/sessions/$1/attendre?delai=${2:-5}"
}
reste() {  # what a closed session may not leave behind
  local r=
  [ -e /tmp/vimba-sos ] && r+=" dossier"
  [ -e /run/depannage-vimba ] && r+=" état"
  [ -e "$details" ] && r+=" détails"
  # Zombies are dead already; this container's init reaps them late.
  ps -u vimba-technicien -o stat=,args= 2>/dev/null | grep -v '^Z' | grep -q . && r+=" processus-technicien"
  pgrep -f "sshd -D -f /run/depannage-vimba" >/dev/null && r+=" sshd"
  pgrep -u vimba-essai -f "session.sh _tunnel" >/dev/null && r+=" tunnel"
  echo "${r:- rien}"
}

# The technician's OpenSSH configuration from the service's answer to attendre; `tech` runs
# ssh with it, `ordinateur` being the computer through the relay.
config_technicien() {
  local reponse=$1 port_tunnel
  port_tunnel=$(jq -r .ordinateur.port_tunnel <<<"$reponse")
  { echo "[127.0.0.1]:$VIMBA_RELAIS_PORT $(jq -r .relais.cle_hote <<<"$reponse")"
    echo "[127.0.0.1]:$port_tunnel $(jq -r .ordinateur.cle_hote <<<"$reponse")"; } >"$base/connus"
  cat >"$base/ssh_config" <<EOF
Host relais
  HostName 127.0.0.1
  Port $VIMBA_RELAIS_PORT
  User vimba-relais
Host ordinateur
  HostName 127.0.0.1
  Port $port_tunnel
  User vimba-technicien
  ProxyJump relais
  ControlPath $base/cm
Host *
  IdentityFile $base/technicien
  IdentitiesOnly yes
  UserKnownHostsFile $base/connus
  GlobalKnownHostsFile /dev/null
  StrictHostKeyChecking yes
  BatchMode yes
EOF
}
tech() { timeout 30 ssh -F "$base/ssh_config" "$@"; }
