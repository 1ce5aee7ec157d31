# Sourced by the relay benchmark (as root): a local support service and
# relay (scripts/service-local.sh), and the computer played by a private sshd whose forced
# command is a stub gate, reached through a reverse tunnel opened as the computer would.
# Needs B (build folder) and S (source folder); sets D, T and the session's variables.

D=$(mktemp -d /tmp/vimba-technicien-essai.XXXXXX)
chmod 0755 "$D"
T=$B/tools/technicien/vimba-technicien
export XDG_CONFIG_HOME=$D/config
unset XDG_RUNTIME_DIR
pids=()

nettoyer() {
  set +e
  "$T" fin >/dev/null 2>&1
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  # VIMBA_ESSAI_GARDER=1 keeps the folder and its logs for a look after a failure.
  [ -n "${VIMBA_ESSAI_GARDER:-}" ] || rm -rf "$D"
}
trap nettoyer EXIT

echec() {
  echo "ÉCHEC : $*" >&2
  for j in service/service.log service/relais.log bouchon.log tunnel.log; do
    [ -s "$D/$j" ] && { echo "--- $j" >&2; tail -5 "$D/$j" >&2; }
  done
  exit 1
}

# Service and relay; their address and token in the environment.
VIMBA_BUILD=$B "$S/scripts/service-local.sh" "$D/service" >"$D/service.sortie" 2>&1 &
pids+=($!)
for _ in $(seq 300); do [ -s "$D/service/env" ] && break; sleep 0.05; done
[ -s "$D/service/env" ] || echec "le service local ne démarre pas : $(cat "$D/service.sortie")"
# shellcheck disable=SC1091
. "$D/service/env"
export VIMBA_SERVICE VIMBA_JETON

# The computer's account, host key and stub gate. It answers a few canned requests and
# writes down every request it is given.
if ! getent passwd vimba-bouchon >/dev/null; then useradd --system --home-dir / --shell /bin/sh vimba-bouchon 2>/dev/null; fi
[ "$(getent passwd vimba-bouchon | cut -d: -f6)" = / ] || usermod -d / vimba-bouchon 2>/dev/null
for _ in 1 2 3 4 5; do
  case "$(getent shadow vimba-bouchon | cut -d: -f2)" in '!'*) usermod -p '*' vimba-bouchon 2>/dev/null || sleep 0.2 ;; *) break ;; esac
done
mkdir -p /run/sshd && chmod 0755 /run/sshd
ssh-keygen -q -t ed25519 -N '' -C bouchon -f "$D/bouchon_hote"
base64 -d >"$D/vue.jpg" <<'JPEG'
/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDABALDA4MChAODQ4SERATGCgaGBYWGDEjJR0oOjM9PDkzODdASFxOQERXRTc4UG1RV19iZ2hnPk1xeXBkeFxlZ2P/2wBDARESEhgVGC8aGi9jQjhCY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2NjY2P/wAARCAAIAAgDASIAAhEBAxEB/8QAFQABAQAAAAAAAAAAAAAAAAAAAAX/xAAUEAEAAAAAAAAAAAAAAAAAAAAA/8QAFQEBAQAAAAAAAAAAAAAAAAAABQb/xAAUEQEAAAAAAAAAAAAAAAAAAAAA/9oADAMBAAIRAxEAPwCKALXj/9k=
JPEG
: >"$D/demandes.log"
chmod 0666 "$D/demandes.log"
cat >"$D/porte.sh" <<PORTE
#!/bin/bash
case "\$SSH_ORIGINAL_COMMAND" in
  demande)
    r=\$(cat)
    printf '%s\n--\n' "\$r" >>$D/demandes.log
    case "\$r" in
      etat) printf 'ok ecran=1 agir=1 devant=Bouchon' ;;
      vue) printf 'ok vue %s' "\$(stat -c %s $D/vue.jpg)" ;;
      flux*) printf 'ok flux 4321 tuiles' ;;
      tape$'\n'*) printf 'ok %s' "\${r//\$'\n'/⏎}" ;;
      muet) echo "vimba-porte : pas de réponse" >&2; exit 2 ;;
      *) printf 'erreur inconnu « %s »' "\$r"; exit 1 ;;
    esac ;;
  "lire vue.jpg") cat $D/vue.jpg ;;
  flux) printf 'FLUX-BOUCHON' ;;
  *) echo "vimba-porte : commande refusée" >&2; exit 3 ;;
esac
PORTE
chmod 0755 "$D/porte.sh"

# The stub's sshd, as session.sh would make it: its own host key, only the technician's key,
# only that account, the forced command. sshd takes no port 0: free ones are tried.
bouchon_demarrer() {  # KEY_FILE
  local essai
  for essai in $(seq 20); do
    PORT_BOUCHON=$((20000 + RANDOM % 40000))
    cat >"$D/bouchon_sshd" <<CONF
Port $PORT_BOUCHON
ListenAddress 127.0.0.1
HostKey $D/bouchon_hote
PidFile none
UsePAM no
StrictModes no
AuthorizedKeysFile $1
AllowUsers vimba-bouchon
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin no
DisableForwarding yes
PermitTTY no
ForceCommand $D/porte.sh
LogLevel VERBOSE
CONF
    : >"$D/bouchon.log"
    /usr/sbin/sshd -D -f "$D/bouchon_sshd" -E "$D/bouchon.log" &
    local pid=$!
    for _ in $(seq 100); do
      if grep -q "Server listening on 127.0.0.1 port $PORT_BOUCHON" "$D/bouchon.log"; then pids+=($pid); return 0; fi
      kill -0 $pid 2>/dev/null || break
      sleep 0.02
    done
    kill $pid 2>/dev/null; wait $pid 2>/dev/null
  done
  echec "le sshd du bouchon ne démarre pas : $(cat "$D/bouchon.log")"
}

# The computer's half of a session for CODE: accepts it, starts the stub's sshd with the
# technician's key the service gave, opens the reverse tunnel and says it is ready.
ordinateur_ouvrir() {  # CODE
  [ -e "$D/tunnel" ] || ssh-keygen -q -t ed25519 -N '' -C tunnel -f "$D/tunnel"
  curl -sf -X POST -H 'Content-Type: application/json' \
    -d "{\"code\":\"$1\",\"cle_tunnel\":\"$(cat "$D/tunnel.pub")\"}" "$VIMBA_SERVICE/v1/codes/accepter" >"$D/accepte.json" \
    || echec "code $1 refusé par le service"
  ID=$(jq -r .session "$D/accepte.json")
  SECRET=$(jq -r .secret "$D/accepte.json")
  PORT_TUNNEL=$(jq -r .relais.port_tunnel "$D/accepte.json")
  jq -r .technicien.cle "$D/accepte.json" >"$D/autorises"
  chmod 0644 "$D/autorises"
  echo "[$(jq -r .relais.hote "$D/accepte.json")]:$(jq -r .relais.port "$D/accepte.json") $(jq -r .relais.cle_hote "$D/accepte.json")" >"$D/relais_connu"
  bouchon_demarrer "$D/autorises"
  ssh -F /dev/null -N -i "$D/tunnel" -o IdentitiesOnly=yes -o BatchMode=yes -o StrictHostKeyChecking=yes \
    -o UserKnownHostsFile="$D/relais_connu" -o ExitOnForwardFailure=yes -o ServerAliveInterval=5 \
    -R "127.0.0.1:$PORT_TUNNEL:127.0.0.1:$PORT_BOUCHON" -p "$(jq -r .relais.port "$D/accepte.json")" \
    "$(jq -r .relais.compte "$D/accepte.json")@$(jq -r .relais.hote "$D/accepte.json")" 2>"$D/tunnel.log" &
  TUNNEL=$!
  pids+=($TUNNEL)
  for _ in $(seq 200); do
    ss -Hltn "sport = :$PORT_TUNNEL" | grep -q . && break
    kill -0 $TUNNEL 2>/dev/null || echec "tunnel refusé : $(cat "$D/tunnel.log")"
    sleep 0.05
  done
  local statut
  statut=$(curl -s -o "$D/prete.json" -w '%{http_code}' -X POST -H "Authorization: Bearer $SECRET" -H 'Content-Type: application/json' \
    -d "{\"port_tunnel\":$PORT_TUNNEL,\"cle_hote\":\"$(cat "$D/bouchon_hote.pub")\",\"compte\":\"vimba-bouchon\"}" \
    "$VIMBA_SERVICE/v1/sessions/$ID/prete")
  [ "$statut" = 200 ] || echec "prete : $statut $(cat "$D/prete.json")"
}
