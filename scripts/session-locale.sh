# Sourced by the session tests and benchmarks, as root: one such run at a time on this
# computer (there is one /tmp/vimba-sos), the user vimba-essai with its runtime folder, a
# work folder $base, and a local service and relay whose env is loaded. On exit the session
# is closed and all of it removed; a caller with more to stop defines avant_de_finir.
#   . scripts/session-locale.sh SOURCES BUILD NOM     (sets base, uid, gid, script)
src=$1 build=$2
script=$src/resources/session.sh
mkdir -p /run/lock
exec {verrou}>/run/lock/vimba-sos.essais
flock -w 600 "$verrou" || { echo "FAIL - /run/lock/vimba-sos.essais toujours pris"; exit 1; }
base=$(mktemp -d "/tmp/$3-XXXXXX")
chmod 0755 "$base"
getent passwd vimba-essai >/dev/null ||
  useradd --system --no-create-home --home-dir /nonexistent --shell /bin/sh --password '*' vimba-essai
uid=$(id -u vimba-essai) gid=$(id -g vimba-essai)
runtime_cree=
[ -d "/run/user/$uid" ] || { install -d -m 0700 -o "$uid" -g "$gid" "/run/user/$uid"; runtime_cree=1; }
pid_service=
finir_session_locale() {
  declare -F avant_de_finir >/dev/null && avant_de_finir
  PKEXEC_UID=$uid bash "$script" arreter >/dev/null 2>&1
  [ -n "$pid_service" ] && kill "$pid_service" 2>/dev/null && wait "$pid_service" 2>/dev/null
  rm -rf "$base"
  [ -n "$runtime_cree" ] && rm -rf "/run/user/$uid"
}
trap finir_session_locale EXIT

VIMBA_BUILD=$build setsid "$src/scripts/service-local.sh" "$base/service" >"$base/service.out" 2>&1 &
pid_service=$!
for _ in $(seq 300); do [ -s "$base/service/env" ] && break; sleep 0.1; done
[ -s "$base/service/env" ] || { echo "FAIL - service local : $(cat "$base/service.out")"; exit 1; }
. "$base/service/env"
