#!/usr/bin/env bash
# session.sh for real, as root, against a local support service and relay
# (scripts/service-local.sh): a whole session from both ends, the real agent answering on a
# private Xvfb and vimba-technicien reaching it through the relay (requests, the screenshot,
# MCP, the stream), their failures, and other accounts' attacks on /tmp/vimba-sos.
#   session_test.sh SOURCES BUILD VIMBA_PORTE VIMBA_AGENT
# The computer's user is the account vimba-essai, the attacker nobody.
set -uo pipefail
src=$1 build=$2 agent=$4
export VIMBA_PORTE=$3
T=$build/tools/technicien/vimba-technicien
[ "$(id -u)" = 0 ] || { echo "à lancer en root"; exit 77; }
for f in "$src/scripts/service-local.sh" "$build/service/vimba-service" "$VIMBA_PORTE" "$agent" "$T"; do
  [ -x "$f" ] || { echo "$f absent"; exit 77; }
done
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
  "$T" fin >/dev/null 2>&1
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
export VIMBA_SERVICE VIMBA_JETON XDG_CONFIG_HOME=$base/technicien
unset XDG_RUNTIME_DIR
etat_technicien=$XDG_CONFIG_HOME/vimba-technicien/session.json

# As the user, with only what the application gives the script.
en_utilisateur() { setpriv --reuid="$uid" --regid="$gid" --init-groups --reset-env env VIMBA_SERVICE_CONF="$VIMBA_SERVICE_CONF" "$@"; }
etape() { en_utilisateur bash "$script" "$@"; }
activer() { PKEXEC_UID=$uid bash "$script" activer; }
arreter() { PKEXEC_UID=$uid bash "$script" arreter; }
etat_service() {  # SESSION: what the service tells the technician
  curl -sS -H "Authorization: Bearer $VIMBA_JETON" "$VIMBA_SERVICE/v1/sessions/$1/attendre?delai=1" | jq -r .etat
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
for n in $(seq 150 199); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { ecran=:$n; break; }
done
Xvfb "$ecran" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pid_xvfb=$!

# ---------------------------------------------------------------- first failures, both ends
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
while IFS='|' read -r service jeton attendu; do
  r=$(VIMBA_SERVICE=$service VIMBA_JETON=$jeton "$T" code 2>&1); verifier "code avec $service $jeton" "1" "$?"
  contient "code avec $service $jeton : $attendu" "$attendu" "$r"
done <<CAS
http://127.0.0.1:1|x|le service de dépannage est injoignable
$VIMBA_SERVICE|jeton-faux|jeton refusé par le service
http://depannage.exemple.fr|x|refusée hors de cette machine
ftp://127.0.0.1|x|adresse du service invalide
CAS
verifier "pas de session gardée après un échec" "" "$(ls "$etat_technicien" 2>/dev/null)"
r=$("$T" demande etat 2>&1); contient "demande sans session" "2 vimba-technicien : aucune session en cours" "$? $r"

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
  "$(en_utilisateur env VIMBA_SERVICE_CONF="$base/tls-seul.conf" bash "$script" preparer "$("$T" code)" 2>&1)"
en_utilisateur env VIMBA_SERVICE_CONF="$base/tls-ca.conf" bash "$script" preparer "$("$T" code)"
verifier "TLS avec ca= : code échangé" "0 $adresse_tls" "$? $(en_utilisateur sed -n 's/^adresse=//p' "$details/session")"
kill "$pid_tls"; wait "$pid_tls" 2>/dev/null; pid_tls=

# ---------------------------------------------------------------- a whole session
code=$("$T" code)
[[ $code =~ ^[0-9]{6}$ ]]; verifier "code « $code » à six chiffres" 0 $?
verifier "dossier, clé et session du technicien à lui seul" "700 600 600 600" \
  "$(cd "$XDG_CONFIG_HOME/vimba-technicien" && stat -c %a . cle_ed25519 cle_ed25519.pub session.json | xargs)"
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
verifier "veille sans connexion" ssh=0 "$(etape veille)"
# attendre connects only to the host key the service announced.
r=$("$T" attendre 20 2>&1); verifier "le technicien attend la session et s’y connecte" "0 session prête" "$? ${r%% :*}"
verifier "veille pendant la connexion" ssh=1 "$(etape veille)"
execution=$(jq -r .execution "$etat_technicien")
tech() { timeout 30 ssh -F "$execution/ssh.conf" vimba-ordinateur "$@"; }
r=; for _ in $(seq 20); do r=$("$T" demande etat 2>/dev/null) && break; sleep 0.5; done
contient "l’agent répond par la porte" "ok ecran=1" "$r"
# Refused with nothing focused, yet only once the text after the first line arrived.
r=$(printf 'tape\nBonjour\nlà' | "$T" demande); verifier "une demande sur plusieurs lignes" "1 refus" "$? ${r%% *}"
r=$("$T" demande 'clic -1 x'); verifier "un refus de l’agent" "1 erreur coordonnées" "$? $r"
r=$("$T" vue "$base/vue.jpg"); verifier "vue : un JPEG de la taille annoncée" "0 ok vue $(stat -c %s "$base/vue.jpg") ffd8" \
  "$? $r $(od -An -tx1 -N2 "$base/vue.jpg" | tr -d ' ')"
# The MCP server on the same session: a request, then the screenshot as an image.
printf '%s\n' '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18","capabilities":{},"clientInfo":{"name":"essai","version":"1"}}}' \
  '{"jsonrpc":"2.0","method":"notifications/initialized"}' \
  '{"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"etat","arguments":{}}}' \
  '{"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"vue","arguments":{}}}' | "$T" mcp >"$base/mcp.out"
verifier "mcp : une réponse par requête" '[1,2,3]' "$(jq -sc '[.[].id]' "$base/mcp.out")"
contient "mcp etat" "ok ecran=1" "$(jq -r 'select(.id==2).result.content[0].text' "$base/mcp.out")"
jq -r 'select(.id==3).result.content[] | select(.type=="image").data' "$base/mcp.out" | base64 -d >"$base/mcp.jpg"
cmp -s "$base/mcp.jpg" "$base/vue.jpg"; verifier "mcp vue : la même image que vue" 0 $?
# voir: the viewer (here a recorder) reads the stream through the local bridge; another
# account on this machine that finds the port gets nothing; the stream stops after.
cat >"$base/visionneur.sh" <<VOIR
#!/bin/bash
echo "\$*" >$base/visionneur.args
setpriv --reuid=65534 --regid=65534 --clear-groups timeout 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/\$2 && cat <&3" >$base/flux.intrus 2>/dev/null
exec 3<>/dev/tcp/127.0.0.1/\$2
head -c 4096 <&3 >$base/flux.recu
VOIR
chmod 0755 "$base/visionneur.sh"
VIMBA_VOIR=$base/visionneur.sh "$T" voir 800 40 tuiles -- --stats 2>"$base/voir.log"; verifier "voir" 0 $?
contient "voir : l’autre compte refusé" "connexion au flux refusée" "$(cat "$base/voir.log")"
octets=$(stat -c %s "$base/flux.recu")
grep -aq '^F 800 ' "$base/flux.recu"; verifier "le flux arrive par le pont, à la largeur demandée" "4096 0" "$octets $?"
verifier "rien du flux pour un autre compte" 0 "$(stat -c %s "$base/flux.intrus")"
[[ $(cat "$base/visionneur.args") =~ ^--port\ [0-9]+\ --stats$ ]]; verifier "options du visionneur" 0 $?
tech "lire flux.port" </dev/null >/dev/null 2>&1; verifier "flux arrêté après voir" 1 $?
verifier "ni demande ni réponse laissée dans le dossier" "" "$(ls /tmp/vimba-sos | grep -E '^(demande|reponse)-')"
# Every act goes through that control connection: with the relay's port made wrong, one still works.
cp "$execution/ssh.conf" "$base/ssh.conf"
sed -i '0,/^  Port /s/^  Port .*/  Port 1/' "$execution/ssh.conf"
"$T" demande etat >/dev/null; verifier "les actes passent par la connexion de contrôle" 0 $?
cp "$base/ssh.conf" "$execution/ssh.conf"
# The gate's refusals are porte_test.cpp's; here, that sshd runs nothing but the gate.
tech "cat /etc/passwd" </dev/null >/dev/null 2>&1; verifier "commande hors de la porte refusée" 3 $?
r=$(tech -S none -W "127.0.0.1:$port_prive" </dev/null 2>/dev/null | head -c 7)
verifier "pas de redirection de port par le sshd privé" "" "$r"
# The control connection lost: the next request makes it again.
ssh -F "$execution/ssh.conf" -O exit vimba-ordinateur 2>/dev/null
for _ in $(seq 50); do [ "$(etape veille)" = ssh=0 ] && break; sleep 0.1; done
verifier "veille après la déconnexion" ssh=0 "$(etape veille)"
r=$("$T" demande etat); verifier "connexion refaite à la demande suivante" 0 $?

# The tunnel is the user's, and comes back by itself when its connection dies.
groupe=$(sed -n 's/^pgid=//p' /run/depannage-vimba/session)
tunnel=$(pgrep -g "$groupe" -x ssh)
verifier "le tunnel tourne sous le compte de l’utilisateur" vimba-essai "$(ps -o user= -p "$tunnel")"
kill "$tunnel"
r=
for _ in $(seq 40); do
  sleep 0.5
  r=$("$T" demande etat 2>/dev/null) && break
done
contient "le tunnel se rétablit après une coupure" "ok ecran=1" "$r"

# A computer whose host key is not the one the service gave is not talked to, nor a relay
# that refuses the technician.
cp "$etat_technicien" "$base/session.vraie"
ssh-keygen -q -t ed25519 -N '' -f "$base/autre"
jq --arg cle "$(cat "$base/autre.pub")" '.ordinateur.cle_hote = $cle' "$base/session.vraie" >"$etat_technicien"
ssh -F "$execution/ssh.conf" -O exit vimba-ordinateur 2>/dev/null
r=$("$T" demande etat 2>&1); contient "clé d’hôte changée" "2 vimba-technicien : la clé d’hôte de l’ordinateur" "$? $r"
jq '.relais.compte = "vimba-autre"' "$base/session.vraie" >"$etat_technicien"
r=$("$T" demande etat 2>&1); contient "relais refusé" "2 vimba-technicien : relais refusé" "$? $r"
cp "$base/session.vraie" "$etat_technicien"
"$T" demande etat >/dev/null; verifier "session reprise" 0 $?

# The person ends it: the technician is cut off, and the next act says so and tidies up.
sortie=$(arreter); verifier "arreter" "0 fermee" "$? $sortie"
ssh -F "$execution/ssh.conf" -O check vimba-ordinateur 2>/dev/null; verifier "arreter coupe le technicien connecté" 255 $?
r=$("$T" demande etat 2>&1); contient "le technicien apprend la fermeture" "2 vimba-technicien : la session a été fermée" "$? $r"
verifier "rien ne reste chez le technicien" "" "$(ls -d "$etat_technicien" "$execution" 2>/dev/null)"
kill "$pid_agent" 2>/dev/null; wait "$pid_agent" 2>/dev/null; pid_agent=
verifier "rien ne reste après arreter" " rien" "$(reste)"
verifier "le service sait la session fermée" fermee "$(etat_service "$session")"
sortie=$(arreter); verifier "arreter une seconde fois" "0 fermee" "$? $sortie"

# ---------------------------------------------------------------- a dead relay
etape preparer "$("$T" code)"
en_utilisateur sed -i "s/^relais_port=.*/relais_port=1/" "$details/session"
en_utilisateur sed -i "s/^\[127.0.0.1\]:[0-9]*/[127.0.0.1]:1/" "$details/relais_connu"
err=$(activer 2>&1 >/dev/null); contient "relais mort : tunnel muet" "tunnel muet" "$err"
verifier "un tunnel muet ne laisse rien" " détails" "$(reste)"
# fin gives the code up on the service; nothing is left.
session=$(jq -r .session "$etat_technicien")
"$T" fin >/dev/null; verifier "fin" "0 fermee" "$? $(etat_service "$session")"
verifier "rien ne reste après fin" "" "$(ls "$etat_technicien" 2>/dev/null)"
echo '{"adresse": 3, "session"' >"$etat_technicien"
r=$("$T" demande etat 2>&1); contient "une session abîmée n’en est pas une" "2 vimba-technicien : aucune session en cours" "$? $r"
rm -f "$etat_technicien"

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
etape preparer "$("$T" code)"
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
