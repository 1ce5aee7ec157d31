#!/usr/bin/env bash
# session.sh for real, as root, against a local support service and relay
# (scripts/service-local.sh): a whole session reached by a technician through the relay, the
# real agent answering on a private Xvfb (replies, a screenshot, the stream), its failures,
# and other accounts' attacks on /tmp/vimba-sos.
#   session_test.sh SOURCES BUILD VIMBA_PORTE VIMBA_AGENT
# The computer's user is the account vimba-essai, the attacker nobody.
set -uo pipefail
src=$1 build=$2
export VIMBA_PORTE=$3
script=$src/resources/session.sh
[ "$(id -u)" = 0 ] || { echo "à lancer en root"; exit 77; }
[ -x "$src/scripts/service-local.sh" ] || { echo "scripts/service-local.sh absent"; exit 77; }
[ -x "$build/service/vimba-service" ] || { echo "vimba-service absent de $build"; exit 77; }
[ -x "$VIMBA_PORTE" ] || { echo "vimba-porte absent : $VIMBA_PORTE"; exit 77; }
agent=$4
[ -x "$agent" ] || { echo "vimba-agent absent : $agent"; exit 77; }
command -v Xvfb >/dev/null || { echo "Xvfb absent"; exit 77; }

echecs=0
verifier() {  # NOM ATTENDU OBTENU
  if [ "$2" == "$3" ]; then echo "ok   - $1"; else echo "FAIL - $1 : attendu « $2 », obtenu « $3 »"; echecs=$((echecs + 1)); fi
}
contient() {  # NOM MOT TEXTE
  if [[ $3 == *"$2"* ]]; then echo "ok   - $1"; else echo "FAIL - $1 : « $2 » absent de « $3 »"; echecs=$((echecs + 1)); fi
}

pid_attaque= pid_agent= pid_xvfb= pid_tls=
avant_de_finir() {
  [ -n "$pid_attaque" ] && kill "$pid_attaque" 2>/dev/null && wait "$pid_attaque" 2>/dev/null
  for p in $pid_agent $pid_xvfb $pid_tls; do kill "$p" 2>/dev/null; done
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
for n in $(seq 150 199); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { ecran=:$n; break; }
done
Xvfb "$ecran" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pid_xvfb=$!

# ---------------------------------------------------------------- preparer's failures
code_errone() { etape preparer "$1" 2>&1 >/dev/null; }
for cas in "12ab" "" "1234567" "000000"; do
  contient "preparer « $cas » : code refusé" "code refusé" "$(code_errone "$cas")"
done
echo "adresse=http://127.0.0.1:1" >"$base/mort.conf"
contient "service mort : serveur" "serveur" "$(en_utilisateur env VIMBA_SERVICE_CONF="$base/mort.conf" bash "$script" preparer 123456 2>&1)"
mkdir "$base/sanscurl"
for f in bash readlink dirname id getent stat mkdir rm cat ssh ssh-keygen jq; do ln -s "$(command -v "$f")" "$base/sanscurl/"; done
contient "sans curl : outil introuvable" "outil introuvable" \
  "$(en_utilisateur env PATH="$base/sanscurl" bash "$script" preparer 123456 2>&1)"

# TLS, verified: the same service behind a certificate of its own, trusted only through ca=.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$base/tls.key" -out "$base/tls.pem" 2>/dev/null
chmod 0644 "$base/tls.pem"
"$build/service/vimba-service" servir --conf "$base/service/vimba-service.conf" --annonce "$base/tls.adresse" \
  --certificat "$base/tls.pem" --cle_privee "$base/tls.key" 2>"$base/tls.log" &
pid_tls=$!
for _ in $(seq 100); do [ -s "$base/tls.adresse" ] && break; sleep 0.05; done
adresse_tls=$(cat "$base/tls.adresse")
echo "adresse=$adresse_tls" >"$base/tls-seul.conf"
printf 'adresse=%s\nca=%s\n' "$adresse_tls" "$base/tls.pem" >"$base/tls-ca.conf"
contient "TLS sans le certificat : serveur" "serveur" \
  "$(en_utilisateur env VIMBA_SERVICE_CONF="$base/tls-seul.conf" bash "$script" preparer "$(nouveau_code)" 2>&1)"
en_utilisateur env VIMBA_SERVICE_CONF="$base/tls-ca.conf" bash "$script" preparer "$(nouveau_code)"
verifier "TLS avec ca= : code échangé" "0 $adresse_tls" "$? $(en_utilisateur sed -n 's/^adresse=//p' "$details/session")"
kill "$pid_tls"; wait "$pid_tls" 2>/dev/null; pid_tls=

# ---------------------------------------------------------------- a whole session
code=$(nouveau_code)
etape preparer "$code"; verifier "preparer un vrai code" 0 $?
contient "le même code une seconde fois : code refusé" "code refusé" "$(code_errone "$code")"
# A folder this user left behind earlier is replaced, not reused.
en_utilisateur bash -c 'mkdir -p /tmp/vimba-sos && touch /tmp/vimba-sos/ancien'
debut=$(date +%s%N)
session=$(activer 2>"$base/err"); verifier "activer après un code refusé" "0 prête" "$? ${session:+prête}"
echo "info - activer : $((($(date +%s%N) - debut) / 1000000)) ms"
verifier "dossier de la session" "vimba-essai vimba-technicien 2770 directory" "$(stat -c '%U %G %a %F' /tmp/vimba-sos)"
verifier "ancien dossier remplacé" "" "$(ls -A /tmp/vimba-sos)"
port_prive=$(cat /run/depannage-vimba/port)
verifier "sshd privé sur la boucle locale seulement" "127.0.0.1:$port_prive" "$(ss -Hltn "sport = :$port_prive" | awk '{print $4}')"

# The real agent, as the user, on a private Xvfb.
setpriv --reuid="$uid" --regid="$gid" --init-groups --reset-env env DISPLAY="$ecran" "$agent" >"$base/agent.log" 2>&1 &
pid_agent=$!
etape prevenir "$session" >/dev/null; verifier "prevenir" 0 $?
reponse=$(attendre "$session")
verifier "le technicien voit la session prête" prete "$(jq -r .etat <<<"$reponse")"
verifier "clé d’hôte annoncée" "$(cut -d' ' -f1,2 /run/depannage-vimba/hote.pub)" "$(jq -r .ordinateur.cle_hote <<<"$reponse")"
config_technicien "$reponse"

verifier "veille sans connexion" ssh=0 "$(etape veille)"
tech -fNM ordinateur; verifier "connexion du technicien par le relais" 0 $?
verifier "veille pendant la connexion" ssh=1 "$(etape veille)"
r=; for _ in $(seq 20); do r=$(tech ordinateur demande <<<"etat" 2>/dev/null) && break; sleep 0.5; done
contient "l’agent répond par la porte" "ok ecran=1" "$r"
r=$(tech ordinateur demande <<<"vue"); contient "vue" "ok vue " "$r"
verifier "lire vue.jpg : un JPEG de la taille annoncée" "ffd8 ${r#ok vue }" \
  "$(tech ordinateur 'lire vue.jpg' >"$base/vue.jpg"; od -An -tx1 -N2 "$base/vue.jpg" | tr -d ' ') $(stat -c %s "$base/vue.jpg")"
contient "flux démarré" "ok flux " "$(tech ordinateur demande <<<"flux")"
# A still screen: the first picture, then heartbeats.
octets=$( (sleep 2) | tech ordinateur flux 2>/dev/null | wc -c)
[ "$octets" -ge 200 ]; verifier "le flux arrive par la porte ($octets octets)" 0 $?
# The gate's refusals are porte_test.cpp's; here, that sshd runs nothing but the gate.
tech ordinateur "cat /etc/passwd" </dev/null >/dev/null 2>&1; verifier "commande hors de la porte refusée" 3 $?
r=$(tech -S none -W "127.0.0.1:$port_prive" ordinateur </dev/null 2>/dev/null | head -c 7)
verifier "pas de redirection de port par le sshd privé" "" "$r"
tech -O exit ordinateur 2>/dev/null
for _ in $(seq 50); do [ "$(etape veille)" = ssh=0 ] && break; sleep 0.1; done
verifier "veille après la déconnexion" ssh=0 "$(etape veille)"

# The tunnel is the user's, and comes back by itself when its connection dies.
groupe=$(sed -n 's/^pgid=//p' /run/depannage-vimba/session)
tunnel=$(pgrep -g "$groupe" -x ssh)
verifier "le tunnel tourne sous le compte de l’utilisateur" vimba-essai "$(ps -o user= -p "$tunnel")"
kill "$tunnel"
r=
for _ in $(seq 40); do
  sleep 0.5
  r=$(tech ordinateur demande <<<"etat" 2>/dev/null) && break
done
contient "le tunnel se rétablit après une coupure" "ok ecran=1" "$r"

tech -fNM ordinateur
sortie=$(arreter); verifier "arreter" "0 fermee" "$? $sortie"
tech -O check ordinateur 2>/dev/null; verifier "arreter coupe le technicien connecté" 255 $?
kill "$pid_agent" 2>/dev/null; wait "$pid_agent" 2>/dev/null; pid_agent=
verifier "rien ne reste après arreter" " rien" "$(reste)"
verifier "le service sait la session fermée" fermee "$(attendre "$session" 1 | jq -r .etat)"
sortie=$(arreter); verifier "arreter une seconde fois" "0 fermee" "$? $sortie"

# ---------------------------------------------------------------- a dead relay
etape preparer "$(nouveau_code)"
en_utilisateur sed -i "s/^relais_port=.*/relais_port=1/" "$details/session"
en_utilisateur sed -i "s/^\[127.0.0.1\]:[0-9]*/[127.0.0.1]:1/" "$details/relais_connu"
err=$(activer 2>&1 >/dev/null); contient "relais mort : tunnel muet" "tunnel muet" "$err"
verifier "un tunnel muet ne laisse rien" " détails" "$(reste)"

# ---------------------------------------------------------------- other accounts' attacks
comme_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
comme_nobody mkdir /tmp/vimba-sos
err=$(activer 2>&1 >/dev/null); contient "dossier d’un autre refusé" "appartient à un autre compte" "$err"
verifier "ni adopté ni touché" "nobody nogroup 755" "$(stat -c '%U %G %a' /tmp/vimba-sos)"
verifier "rien de démarré" "" "$(ls /run/depannage-vimba 2>/dev/null)"
rmdir /tmp/vimba-sos
mkdir -m 0755 "$base/cible"
comme_nobody ln -s "$base/cible" /tmp/vimba-sos
err=$(activer 2>&1 >/dev/null); contient "lien refusé" "appartient à un autre compte" "$err"
verifier "la cible du lien est intacte" "root root 755" "$(stat -c '%U %G %a' "$base/cible")"
verifier "le lien est resté un lien" "symbolic link" "$(stat -c %F /tmp/vimba-sos)"
rm -f /tmp/vimba-sos

# A folder holding the attacker's request, renamed in and out while activer runs. Each
# activer ends the previous round's session itself, so one prepared session serves all.
etape preparer "$(nouveau_code)"
comme_nobody bash -c 'mkdir /tmp/attaque-vimba && echo "tape piege" >/tmp/attaque-vimba/demande-1 && chmod -R a+rwX /tmp/attaque-vimba'
setpriv --reuid=65534 --regid=65534 --clear-groups \
  bash -c 'while :; do mv -T /tmp/attaque-vimba /tmp/vimba-sos; mv -T /tmp/vimba-sos /tmp/attaque-vimba; done 2>/dev/null' &
pid_attaque=$!
reussies=0 refusees=0 mauvaises=0
for _ in $(seq 24); do
  if activer >/dev/null 2>"$base/err"; then
    reussies=$((reussies + 1))
    [ "$(stat -c '%U %G %a' /tmp/vimba-sos)" = "vimba-essai vimba-technicien 2770" ] && [ -z "$(ls -A /tmp/vimba-sos)" ] ||
      mauvaises=$((mauvaises + 1))
  elif grep -q "appartient à un autre compte" "$base/err"; then
    refusees=$((refusees + 1))
    [ -e /run/depannage-vimba ] && mauvaises=$((mauvaises + 1))
  elif ! grep -q "tunnel muet" "$base/err"; then
    mauvaises=$((mauvaises + 1)); cat "$base/err"
  fi
done
kill "$pid_attaque"; wait "$pid_attaque" 2>/dev/null; pid_attaque=
arreter >/dev/null
echo "info - course : $reussies ouvertes, $refusees refusées"
verifier "course : jamais le dossier de l’attaquant" 0 "$mauvaises"
[ "$reussies" -gt 0 ] && [ "$refusees" -gt 0 ]; verifier "course : les deux issues vues" 0 $?
rm -rf /tmp/attaque-vimba

[ "$echecs" = 0 ] && echo "tout va bien" || echo "$echecs échecs"
[ "$echecs" = 0 ]
