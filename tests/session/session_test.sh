#!/usr/bin/env bash
# session.sh for real, as root, against a local support service and relay
# (scripts/service-local.sh): a whole session reached by a technician through the relay,
# its failures, and other accounts' attacks on /tmp/vimba-sos.
#   session_test.sh SOURCES BUILD VIMBA_PORTE
# The computer's user is the account vimba-essai, the attacker nobody.
. "$(dirname "$0")/commun.sh"

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
setpriv --reuid=65534 --regid=65534 --clear-groups ls /tmp/vimba-sos >/dev/null 2>&1
verifier "un autre compte ne voit pas le dossier" 2 $?
port_prive=$(cat /run/depannage-vimba/port)
verifier "sshd privé sur la boucle locale seulement" "127.0.0.1:$port_prive" "$(ss -Hltn "sport = :$port_prive" | awk '{print $4}')"

# The agent's stand-in: answers "ok " + the request, as the user, replies 0640.
cat >"$base/repondeur.sh" <<'EOF'
umask 027
while [ -d /tmp/vimba-sos ]; do
  for f in /tmp/vimba-sos/demande-*; do
    case $f in *.tmp | *'*') continue ;; esac
    id=${f##*/demande-}; t=$(cat "$f"); rm -f "$f"
    printf 'ok %s' "$t" >/tmp/vimba-sos/.r && mv /tmp/vimba-sos/.r "/tmp/vimba-sos/reponse-$id"
  done
  sleep 0.02
done
EOF
setpriv --reuid="$uid" --regid="$gid" --init-groups --reset-env bash "$base/repondeur.sh" &
pid_repondeur=$!
en_utilisateur bash -c 'umask 027; printf "vue du test" >/tmp/vimba-sos/vue.txt'

etape prevenir "$session" >/dev/null; verifier "prevenir" 0 $?
reponse=$(attendre "$session")
verifier "le technicien voit la session prête" prete "$(jq -r .etat <<<"$reponse")"
verifier "clé d’hôte annoncée" "$(cut -d' ' -f1,2 /run/depannage-vimba/hote.pub)" "$(jq -r .ordinateur.cle_hote <<<"$reponse")"
config_technicien "$reponse"

verifier "veille sans connexion" ssh=0 "$(etape veille)"
tech -fNM ordinateur; verifier "connexion du technicien par le relais" 0 $?
verifier "veille pendant la connexion" ssh=1 "$(etape veille)"
r=$(tech ordinateur demande <<<"etat"); verifier "demande etat" "0 ok etat" "$? $r"
r=$(tech ordinateur 'lire vue.txt'); verifier "lire vue.txt écrit par l’agent" "0 vue du test" "$? $r"
for c in "cat /etc/passwd" "" "lire /etc/shadow"; do
  tech ordinateur "$c" </dev/null >/dev/null 2>&1; verifier "commande « $c » refusée" 3 $?
done
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
verifier "le tunnel se rétablit après une coupure" "ok etat" "$r"

tech -fNM ordinateur
sortie=$(arreter); verifier "arreter" "0 fermee" "$? $sortie"
tech -O check ordinateur 2>/dev/null; verifier "arreter coupe le technicien connecté" 255 $?
kill "$pid_repondeur" 2>/dev/null; wait "$pid_repondeur" 2>/dev/null; pid_repondeur=
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
