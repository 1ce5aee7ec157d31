#!/bin/bash
# Dépannage Vimba's session steps. The application runs it with one step name:
#   preparer CODE    (user)          trade the code with the support service
#   activer          (administrator) request folder, private sshd, tunnel; prints the session id
#   prevenir ID      (user)          tell the service the computer is ready
#   veille           (user)          print "ssh=N", N the technician's live connections
#   arreter          (administrator) stop and remove everything the session made
# Failures print their text on standard error and exit non-zero.
#
# Where things live:
#   the user's details   /run/user/UID/depannage-vimba (else ~/.cache/depannage-vimba), 0700,
#                        written by preparer, read by root only as the user
#   the session's state  /run/depannage-vimba, root's: sshd config, host key, allowed key, port
#   the request folder   /tmp/vimba-sos: owner the user, group vimba-technicien, 2770
# vimba-porte is found in ../../libexec/depannage-vimba/ once installed, in the build
# tree's build/session/ otherwise; VIMBA_PORTE names it explicitly (tests; pkexec clears it).
set -u
umask 077

dossier=/tmp/vimba-sos
etat=/run/depannage-vimba
compte=vimba-technicien
adresse_defaut=https://depannage.vimba.fr
conf_systeme=/etc/depannage-vimba/service.conf
script=$(readlink -f "$0")
ici=$(dirname "$script")

echec() { echo "$*" >&2; exit 1; }

# ---------------------------------------------------------------- checks on untrusted text

est_port() { [[ $1 =~ ^[0-9]{1,5}$ ]] && [ "$1" -ge 1 ] && [ "$1" -le 65535 ]; }
est_cle() { [[ $1 =~ ^(ssh-ed25519|ecdsa-sha2-nistp256|ecdsa-sha2-nistp384|ecdsa-sha2-nistp521|ssh-rsa)\ [A-Za-z0-9+/]+={0,2}$ ]]; }
# Lengths are checked apart: large bounded repeats make the regex engine slow.
est_hote() { [ ${#1} -le 253 ] && [[ $1 =~ ^[A-Za-z0-9][A-Za-z0-9.-]*$ || $1 =~ ^[0-9A-Fa-f:]+:[0-9A-Fa-f:]*$ ]]; }
est_adresse() { [[ $1 =~ ^https?://([A-Za-z0-9.-]+|\[[0-9A-Fa-f:]+\])(:[0-9]{1,5})?(/[A-Za-z0-9._~/-]*)?$ ]]; }
# Plain http only to this computer itself (tests, a local demo); anything else is TLS.
est_locale() { [[ $1 =~ ^http://(127\.0\.0\.1|localhost|\[::1\])(:[0-9]+)?(/|$) ]]; }
# The key type and body only: a comment is nobody's business in a key file.
sans_commentaire() { local a b; read -r a b _ <<<"$1"; echo "$a $b"; }

# Reads "cle=valeur" lines into d_* variables and checks every one; returns 1 at the first bad field.
lire_details() {
  d_session= d_secret= d_adresse= d_ca= d_relais_hote= d_relais_port= d_relais_compte=
  d_relais_cle= d_port_tunnel= d_technicien_nom= d_technicien_cle=
  local k v ligne
  while IFS= read -r ligne; do
    k=${ligne%%=*} v=${ligne#*=}
    case $k in
      session) d_session=$v ;; secret) d_secret=$v ;; adresse) d_adresse=$v ;; ca) d_ca=$v ;;
      relais_hote) d_relais_hote=$v ;; relais_port) d_relais_port=$v ;;
      relais_compte) d_relais_compte=$v ;; relais_cle) d_relais_cle=$v ;;
      port_tunnel) d_port_tunnel=$v ;; technicien_nom) d_technicien_nom=$v ;;
      technicien_cle) d_technicien_cle=$v ;;
    esac
  done <<<"$1"
  [[ $d_session =~ ^[A-Za-z0-9_-]+$ ]] && [ ${#d_session} -le 128 ] || return 1
  [[ $d_secret =~ ^[A-Za-z0-9_.~+/=-]+$ ]] && [ ${#d_secret} -ge 8 ] && [ ${#d_secret} -le 512 ] || return 1
  est_adresse "$d_adresse" || return 1
  [ -z "$d_ca" ] || { [[ $d_ca =~ ^/[^[:cntrl:]]+$ ]] && [ ${#d_ca} -lt 4096 ]; } || return 1
  est_hote "$d_relais_hote" && est_port "$d_relais_port" && est_port "$d_port_tunnel" || return 1
  [[ $d_relais_compte =~ ^[a-z_][a-z0-9_-]*$ ]] && [ ${#d_relais_compte} -le 32 ] || return 1
  est_cle "$d_relais_cle" && est_cle "$d_technicien_cle" || return 1
  [[ $d_technicien_nom =~ ^[^[:cntrl:]]+$ ]] && [ ${#d_technicien_nom} -le 64 ] || return 1
}

# ---------------------------------------------------------------- who and where

# A pause without a process: a read that nothing will ever answer.
pause() {
  [ -n "${attente_fd:-}" ] || exec {attente_fd}<> <(:)
  read -rt "$1" -u "$attente_fd" _
}

# Alive and not a zombie waiting for us.
vivant() { local st; { read -r _ _ st _ <"/proc/$1/stat"; } 2>/dev/null && [ "$st" != Z ]; }

# The user's details folder, computed the same way by the user and by root.
details_de() {  # UID HOME
  if [ -d "/run/user/$1" ] && [ "$(stat -c %u "/run/user/$1")" = "$1" ]; then
    echo "/run/user/$1/depannage-vimba"
  else
    echo "$2/.cache/depannage-vimba"
  fi
}

# Sets u_nom, u_uid, u_gid, u_maison for the account NAME_OR_UID.
compte_de() {
  local ligne
  ligne=$(getent passwd "$1") || return 1
  IFS=: read -r u_nom _ u_uid u_gid _ u_maison _ <<<"$ligne"
  [[ $u_uid =~ ^[0-9]+$ && $u_gid =~ ^[0-9]+$ ]]
}

# The user the session is for: pkexec tells us through PKEXEC_UID, sudo through SUDO_USER.
utilisateur_appelant() {
  if [ -n "${PKEXEC_UID:-}" ]; then compte_de "$PKEXEC_UID"
  elif [ -n "${SUDO_USER:-}" ]; then compte_de "$SUDO_USER"
  else compte_de "$(id -u)"; fi
}

# Runs a command as the user, with none of root's rights or environment: root never opens
# the user's files itself, so a link there leads nowhere root could reach.
en_tant_que() { setpriv --reuid="$u_uid" --regid="$u_gid" --init-groups --reset-env -- "$@"; }

outils() {
  local o
  for o in "$@"; do
    case $o in
      sshd) [ -x /usr/sbin/sshd ] || echec "outil introuvable : sshd (paquet openssh-server)" ;;
      *) command -v "$o" >/dev/null 2>&1 || echec "outil introuvable : $o" ;;
    esac
  done
}

chemin_porte() {
  local p
  for p in "${VIMBA_PORTE:-}" "$ici/../../libexec/depannage-vimba/vimba-porte" "$ici/../build/session/vimba-porte"; do
    [ -n "$p" ] && [ -x "$p" ] && { readlink -f "$p"; return 0; }
  done
  return 1
}

# ---------------------------------------------------------------- the support service

# POST to the service. Sets $statut (HTTP status, 000 when unreachable) and $reponse.
# The secret goes through a file, never on a command line others could read.
appeler() {  # CHEMIN CORPS [SECRET]
  local tmp args
  tmp=$(mktemp -d) || { statut=000; reponse=; return; }
  printf '%s' "$2" >"$tmp/corps"
  args=(-sS --connect-timeout 5 --max-time 10 -X POST -H 'Content-Type: application/json'
        --data-binary @"$tmp/corps" -o "$tmp/reponse" -w '%{http_code}')
  est_locale "$d_adresse" || args+=(--proto =https)
  [ -n "$d_ca" ] && args+=(--cacert "$d_ca")
  if [ -n "${3:-}" ]; then
    printf 'Authorization: Bearer %s\n' "$3" >"$tmp/entete"
    args+=(-H @"$tmp/entete")
  fi
  statut=$(curl "${args[@]}" -- "${d_adresse%/}$1" 2>/dev/null) || statut=000
  reponse=$(head -c 65536 "$tmp/reponse" 2>/dev/null)
  rm -rf "$tmp"
}

lire_conf() {
  local f=${VIMBA_SERVICE_CONF:-$conf_systeme} k v ligne
  d_adresse=$adresse_defaut d_ca=
  [ -r "$f" ] || return 0
  while IFS= read -r ligne || [ -n "$ligne" ]; do
    k=${ligne%%=*} v=${ligne#*=}
    case $k in adresse) d_adresse=$v ;; ca) d_ca=$v ;; esac
  done <"$f"
  est_adresse "$d_adresse" || echec "serveur : adresse du service invalide dans $f"
  [ -z "$d_ca" ] || { [[ $d_ca == /* ]] && [ -r "$d_ca" ]; } || echec "serveur : certificat $d_ca illisible (chemin absolu attendu)"
}

# ---------------------------------------------------------------- steps

preparer() {
  outils ssh sshd ssh-keygen curl jq
  local code=${1:-}
  code=${code//[ -]/}
  # A code is six digits: anything else is refused without bothering the service.
  [[ $code =~ ^[0-9]{6}$ ]] || echec "code refusé"
  lire_conf
  compte_de "$(id -u)" || echec "compte inconnu"
  local final d
  final=$(details_de "$u_uid" "$u_maison")
  # Made aside and put in place only once the code is accepted: a wrong code loses nothing.
  d=$final.nouveau
  mkdir -p -m 0700 "$(dirname "$final")" 2>/dev/null
  rm -rf "$d" && mkdir -m 0700 "$d" || echec "impossible de créer $d"
  ssh-keygen -q -t ed25519 -N '' -C depannage-vimba -f "$d/tunnel" </dev/null >/dev/null 2>&1 ||
    { rm -rf "$d"; echec "clé du tunnel impossible à créer"; }

  local corps
  corps=$(jq -cn --arg code "$code" --arg cle "$(sans_commentaire "$(cat "$d/tunnel.pub")")" '{code: $code, cle_tunnel: $cle}')
  appeler /v1/codes/accepter "$corps"
  case $statut in
    200) ;;
    404|410) rm -rf "$d"; echec "code refusé" ;;
    000) rm -rf "$d"; echec "serveur injoignable (${d_adresse})" ;;
    *) rm -rf "$d"; echec "serveur : réponse $statut" ;;
  esac
  local lignes
  lignes=$(jq -r 'def t: if type == "string" or type == "number" then tostring | gsub("[[:cntrl:]]"; "") else "" end;
    "session=\(.session|t)", "secret=\(.secret|t)",
    "relais_hote=\(.relais.hote|t)", "relais_port=\(.relais.port|t)",
    "relais_compte=\(.relais.compte|t)", "relais_cle=\(.relais.cle_hote|t)",
    "port_tunnel=\(.relais.port_tunnel|t)",
    "technicien_nom=\(.technicien.nom|t)", "technicien_cle=\(.technicien.cle|t)"' <<<"$reponse" 2>/dev/null) ||
    { rm -rf "$d"; echec "serveur : réponse illisible"; }
  local adresse=$d_adresse ca=$d_ca cle_r cle_t
  cle_r=$(sans_commentaire "$(sed -n 's/^relais_cle=//p' <<<"$lignes")")
  cle_t=$(sans_commentaire "$(sed -n 's/^technicien_cle=//p' <<<"$lignes")")
  lignes=$(grep -v '^relais_cle=\|^technicien_cle=' <<<"$lignes"
    printf 'relais_cle=%s\ntechnicien_cle=%s\nadresse=%s\nca=%s\n' "$cle_r" "$cle_t" "$adresse" "$ca")
  lire_details "$lignes" || { rm -rf "$d"; echec "serveur : réponse incomplète"; }
  printf '%s\n' "$lignes" >"$d/session"
  # The relay's host key, pinned: the tunnel talks to no other machine.
  if [ "$d_relais_port" = 22 ]; then
    echo "$d_relais_hote $d_relais_cle" >"$d/relais_connu"
  else
    echo "[$d_relais_hote]:$d_relais_port $d_relais_cle" >"$d/relais_connu"
  fi
  rm -rf "$final" && mv -T "$d" "$final" || { rm -rf "$d"; echec "impossible de créer $final"; }
}

# The technician's system account: made at install, remade here when missing. sshd runs the
# forced command through the account's shell, and without PAM it refuses '!'-locked accounts.
compte_technicien() {
  local ligne shell mdp
  if ! ligne=$(getent passwd "$compte"); then
    useradd --system --user-group --no-create-home --home-dir / --shell /bin/sh --password '*' \
      --comment 'Depannage Vimba, technicien' "$compte" >/dev/null 2>&1 ||
      echec "le compte $compte n’a pas pu être créé"
    return 0
  fi
  shell=${ligne##*:}
  mdp=$(getent shadow "$compte"); mdp=${mdp#*:}; mdp=${mdp%%:*}
  [ "$shell" = /bin/sh ] || usermod --shell /bin/sh "$compte" >/dev/null 2>&1
  [ "$mdp" = '*' ] || usermod --password '*' "$compte" >/dev/null 2>&1
}

# The request folder. mkdir by root fails on anything already there, links included, so what
# it makes is new. /tmp is sticky and root's: an entry root owns there can be neither renamed
# nor replaced by anyone else, so chgrp and chmod by path reach our folder; the folder goes
# to the user last, and root never touches that path again except to look.
creer_dossier() {
  local proprio
  [ "$(stat -c '%u %a' /tmp)" = "0 1777" ] || echec "/tmp n’est pas protégé comme il le faut : le dépannage ne peut pas s’ouvrir."
  if [ -e "$dossier" ] || [ -L "$dossier" ]; then
    proprio=$(stat -c %u "$dossier")
    if [ ! -L "$dossier" ] && [ -d "$dossier" ] && [ "$proprio" = "$u_uid" ]; then
      # A folder of this user's, left by an earlier session: the user may remove it.
      en_tant_que rm -rf -- "$dossier" 2>/dev/null
    elif [ ! -L "$dossier" ] && [ -d "$dossier" ] && [ "$proprio" = 0 ]; then
      rm -rf --one-file-system -- "$dossier" 2>/dev/null
    fi
  fi
  if ! mkdir -m 0700 "$dossier" 2>/dev/null; then
    proprio=$(stat -c %U "$dossier" 2>/dev/null || echo inconnu)
    echec "Le dossier $dossier existe déjà et appartient à un autre compte de cet ordinateur ($proprio) : le dépannage ne peut pas s’ouvrir. Un administrateur doit le supprimer."
  fi
  chgrp "$compte" "$dossier" && chmod 2770 "$dossier" && chown -h "$u_uid" "$dossier" ||
    echec "droits de $dossier impossibles à régler"
  [ "$(stat -c '%u %G %a %F' "$dossier")" = "$u_uid $compte 2770 directory" ] ||
    echec "$dossier a changé pendant sa création : le dépannage ne peut pas s’ouvrir."
}

# The private sshd: loopback only, its own host key, the technician's key only, the gate forced.
demarrer_sshd() {  # PORTE
  rm -rf "$etat" && mkdir -m 0755 "$etat" || return 1
  # Public files readable by all: sshd reads the allowed key as the technician account,
  # prevenir and veille read the host key and the port as the user.
  umask 022
  ssh-keygen -q -t ed25519 -N '' -C depannage-vimba -f "$etat/hote" </dev/null >/dev/null 2>&1 || return 1
  echo "restrict $d_technicien_cle" >"$etat/cles_autorisees"
  [ -d /run/sshd ] || mkdir -m 0755 /run/sshd
  umask 077
  local essai port
  for essai in 1 2 3 4 5 6 7 8; do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 12000))
    cat >"$etat/sshd_config" <<EOF
ListenAddress 127.0.0.1:$port
HostKey $etat/hote
PidFile none
AllowUsers $compte
AuthorizedKeysFile $etat/cles_autorisees
AuthorizedKeysCommand none
AuthorizedPrincipalsFile none
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
HostbasedAuthentication no
GSSAPIAuthentication no
UsePAM no
PermitRootLogin no
PermitEmptyPasswords no
StrictModes yes
PermitTTY no
DisableForwarding yes
AllowAgentForwarding no
AllowTcpForwarding no
AllowStreamLocalForwarding no
X11Forwarding no
PermitTunnel no
PermitUserRC no
PermitUserEnvironment no
ForceCommand $1
MaxAuthTries 3
LoginGraceTime 20
ClientAliveInterval 15
ClientAliveCountMax 3
PrintMotd no
PrintLastLog no
Banner none
LogLevel ERROR
EOF
    # In the foreground of its own session: this sshd forks before binding, so its exit
    # status says nothing; ready is our pid listening on the port, and a port taken
    # meanwhile makes it die, then another is tried.
    setsid /usr/sbin/sshd -D -f "$etat/sshd_config" </dev/null >/dev/null 2>&1 {verrou}>&- &
    local pid=$! i s
    echo "$pid" >"$etat/sshd.pid"
    for ((i = 0; i < 300; i++)); do
      vivant "$pid" || break
      # Something answers; ours only if our sshd is the one listening there.
      if { exec {s}<>"/dev/tcp/127.0.0.1/$port"; } 2>/dev/null; then
        exec {s}>&-
        ss -Hltnp "sport = :$port" 2>/dev/null | grep -q "pid=$pid," || break
        (umask 022; echo "$port" >"$etat/port")
        return 0
      fi
      pause 0.01
    done
    kill "$pid" 2>/dev/null
  done
  return 1
}

# Keeps the reverse tunnel up while the session lasts (runs as the user, in its own process
# group, which arreter ends). Says "pret" on fd 3 once the relay accepted the first forward,
# "echec" when that first attempt failed, then closes fd 3.
tunnel() {  # DETAILS PORT_PRIVE
  local d=$1 prive=$2 essai=0
  lire_details "$(cat "$d/session")" || { echo echec >&3; exit 1; }
  while :; do
    ssh -N -v -F /dev/null -p "$d_relais_port" -l "$d_relais_compte" \
      -i "$d/tunnel" -o IdentitiesOnly=yes -o IdentityAgent=none \
      -o UserKnownHostsFile="$d/relais_connu" -o GlobalKnownHostsFile=/dev/null \
      -o StrictHostKeyChecking=yes -o UpdateHostKeys=no -o CheckHostIP=no \
      -o BatchMode=yes -o ExitOnForwardFailure=yes -o ConnectTimeout=8 \
      -o ServerAliveInterval=5 -o ServerAliveCountMax=3 \
      -o ControlMaster=no -o ControlPath=none -o ForwardAgent=no -o ForwardX11=no \
      -R "127.0.0.1:$d_port_tunnel:127.0.0.1:$prive" -- "$d_relais_hote" </dev/null 2>&1 3>&- |
      { ouvert=1
        while IFS= read -r l; do
          case $l in *"remote forward success"*) { echo pret >&3; } 2>/dev/null; exec 3>&-; ouvert=0 ;; esac
        done
        exit $ouvert; }
    [ $? = 0 ] || { echo echec >&3; } 2>/dev/null
    exec 3>&-
    essai=$((essai + 1))
    pause $((essai < 5 ? 1 : 3))
  done
}

# Stops what runs and removes what root made; the user's own files are left to arreter.
nettoyer() {
  local pgid= pid= uid= ligne
  if [ -r "$etat/session" ]; then
    while IFS= read -r ligne; do
      case $ligne in pgid=*) pgid=${ligne#pgid=} ;; uid=*) uid=${ligne#uid=} ;; esac
    done <"$etat/session"
  fi
  # The tunnel's supervisor and its ssh: one process group, the user's.
  if [[ $pgid =~ ^[0-9]+$ && $uid =~ ^[0-9]+$ ]] && [ "$(stat -c %u "/proc/$pgid" 2>/dev/null)" = "$uid" ]; then
    kill -TERM -- "-$pgid" 2>/dev/null
  fi
  # The private sshd and the connections it serves (children of the listener).
  if [ -r "$etat/sshd.pid" ]; then
    pid=$(head -c 16 "$etat/sshd.pid")
    if [[ $pid =~ ^[0-9]+$ ]] && [ "$(readlink "/proc/$pid/exe")" = /usr/sbin/sshd ]; then
      pkill -TERM -P "$pid" 2>/dev/null
      kill -TERM "$pid" 2>/dev/null
    fi
  fi
  # The account serves only sessions: nothing of it outlives one.
  [ -n "$pid$pgid" ] && getent passwd "$compte" >/dev/null && pkill -KILL -u "$compte" 2>/dev/null
  local i
  for ((i = 0; i < 50; i++)); do
    { [ -n "$pgid" ] && vivant "$pgid"; } || { [ -n "$pid" ] && vivant "$pid"; } || break
    pause 0.02
  done
  [ -n "$pgid" ] && kill -KILL -- "-$pgid" 2>/dev/null
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  rm -rf "$etat"
}

# Removes the request folder only when it is the session's: the user's (removed as the user),
# or root's when an activation stopped half way. Someone else's is left alone.
retirer_dossier() {
  [ -e "$dossier" ] || [ -L "$dossier" ] || return 0
  [ -L "$dossier" ] && return 0
  case $(stat -c %u "$dossier") in
    "$u_uid") en_tant_que rm -rf -- "$dossier" 2>/dev/null ;;
    0) rm -rf --one-file-system -- "$dossier" 2>/dev/null ;;
  esac
}

activer() {
  outils sshd ssh ssh-keygen ss setpriv
  utilisateur_appelant || echec "compte de l’utilisateur inconnu"
  local d contenu porte
  d=$(details_de "$u_uid" "$u_maison")
  contenu=$(en_tant_que cat -- "$d/session" 2>/dev/null) || echec "aucune session préparée : tapez d’abord le code d’Ilvo"
  lire_details "$contenu" || echec "les détails de la session sont invalides : tapez à nouveau le code"
  porte=$(chemin_porte) && [[ $porte =~ ^/[A-Za-z0-9._/+-]+$ ]] || echec "outil introuvable : vimba-porte"

  # An earlier session still open on this computer ends here.
  nettoyer
  compte_technicien
  creer_dossier
  if ! demarrer_sshd "$porte"; then
    nettoyer; retirer_dossier
    echec "le serveur SSH de la session n’a pas démarré"
  fi

  # The supervisor as the user, in a session of its own; it reports the first forward
  # through a pipe, so nothing of the user's is opened or polled by root.
  local r pgid nouvelle=
  exec {r}< <(setsid setpriv --reuid="$u_uid" --regid="$u_gid" --init-groups --reset-env -- \
    bash "$script" _tunnel "$d" "$(<"$etat/port")" 3>&1 >/dev/null 2>&1 </dev/null {verrou}>&-)
  pgid=$!
  printf 'utilisateur=%s\nuid=%s\npgid=%s\nsession=%s\n' "$u_nom" "$u_uid" "$pgid" "$d_session" >"$etat/session"
  read -rt 10 -u "$r" nouvelle
  exec {r}<&-
  if [ "$nouvelle" != pret ]; then
    nettoyer; retirer_dossier
    echec "tunnel muet : le relais $d_relais_hote:$d_relais_port n’a pas ouvert le tunnel"
  fi
  echo "$d_session"
}

prevenir() {  # ID
  outils curl jq
  compte_de "$(id -u)" || echec "compte inconnu"
  local d cle corps
  d=$(details_de "$u_uid" "$u_maison")
  lire_details "$(cat "$d/session" 2>/dev/null)" || echec "aucune session préparée"
  [ "${1:-}" = "$d_session" ] || echec "session inconnue : ${1:-}"
  cle=$(sans_commentaire "$(cat "$etat/hote.pub" 2>/dev/null)")
  est_cle "$cle" || echec "aucune session active sur cet ordinateur"
  corps=$(jq -cn --argjson port "$d_port_tunnel" --arg cle "$cle" --arg compte "$compte" \
    '{port_tunnel: $port, cle_hote: $cle, compte: $compte}')
  appeler "/v1/sessions/$d_session/prete" "$corps" "$d_secret"
  [ "$statut" = 200 ] || echec "serveur : réponse $statut"
  echo prete
}

veille() {
  local port n=0
  port=$(head -c 8 "$etat/port" 2>/dev/null)
  if est_port "$port" && command -v ss >/dev/null 2>&1; then
    n=$(ss -Htn state established "( sport = :$port )" src 127.0.0.1 2>/dev/null | wc -l)
  fi
  echo "ssh=$n"
}

arreter() {
  local ligne nom=
  if [ -r "$etat/session" ]; then
    while IFS= read -r ligne; do case $ligne in utilisateur=*) nom=${ligne#utilisateur=} ;; esac; done <"$etat/session"
  fi
  if [ -n "$nom" ]; then compte_de "$nom"; else utilisateur_appelant; fi || { nettoyer; echo fermee; return 0; }
  local d contenu
  d=$(details_de "$u_uid" "$u_maison")
  contenu=$(en_tant_que cat -- "$d/session" 2>/dev/null)
  nettoyer
  retirer_dossier
  en_tant_que rm -rf -- "$d" 2>/dev/null
  # Tell the service last, as the user and briefly: a dead service delays nobody long.
  if lire_details "$contenu"; then
    en_tant_que env D_ADRESSE="$d_adresse" D_CA="$d_ca" bash -c "$(declare -f est_locale appeler)"'
      d_adresse=$D_ADRESSE d_ca=$D_CA; appeler "$1" "{}" "$(cat)"' _ "/v1/sessions/$d_session/fermer" <<<"$d_secret" >/dev/null 2>&1
  fi
  echo fermee
}

# One root step at a time: two activer (or activer and arreter) never interleave. A holder
# stuck for a minute does not keep the session from closing: go on without the lock.
verrouiller() {
  exec {verrou}>/run/depannage-vimba.verrou && flock -w 60 "$verrou"
  return 0
}

case "${1:-}" in
  preparer) preparer "${2:-}" ;;
  activer) verrouiller; activer ;;
  prevenir) prevenir "${2:-}" ;;
  veille) veille ;;
  arreter) verrouiller; arreter ;;
  _tunnel) tunnel "$2" "$3" ;;
  *) echo "étape inconnue : ${1:-}" >&2; exit 2 ;;
esac
