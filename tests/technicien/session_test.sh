#!/bin/bash
# vimba-technicien against the real service and relay on loopback, the computer played by a
# stub gate behind its own sshd and reverse tunnel: code, attendre, demande, vue, voir, mcp,
# a lost control connection, fin, and the French messages of the usual failures.
set -u
B=$1 S=$2
if [ "$(id -u)" -ne 0 ]; then echo "sauté : il faut être root (sshd, comptes)"; exit 77; fi
if [ ! -x "$B/service/vimba-service" ]; then echo "sauté : vimba-service n’est pas construit"; exit 77; fi
. "$S/tests/technicien/bouchon.sh"

# The failures a technician meets first, each with its sentence and nothing left behind.
while IFS='|' read -r service jeton attendu; do
  sortie=$(VIMBA_SERVICE=$service VIMBA_JETON=$jeton "$T" code 2>&1) && echec "code accepté avec $service $jeton"
  [[ $sortie == *"$attendu"* ]] || echec "« $attendu » attendu, lu « $sortie »"
done <<CAS
http://127.0.0.1:1|x|le service de dépannage est injoignable
$VIMBA_SERVICE|jeton-faux|jeton refusé par le service
http://depannage.exemple.fr|x|refusée hors de cette machine
ftp://127.0.0.1|x|adresse du service invalide
CAS
[ ! -e "$XDG_CONFIG_HOME/vimba-technicien/session.json" ] || echec "session gardée après un échec"
R=$("$T" demande etat 2>&1); [ $? -eq 2 ] && [[ $R == *"aucune session en cours"* ]] || echec "demande sans session : « $R »"

# The real road: code, the computer opens, attendre sets up the control connection. (A session
# closed before it was ready is technicien_test.cpp's; the service's « fermee » is read below.)
CODE=$("$T" code) || echec "code"
[[ $CODE =~ ^[0-9]{6}$ ]] || echec "code « $CODE »"
[ "$(stat -c %a "$XDG_CONFIG_HOME/vimba-technicien/cle_ed25519")$(stat -c %a "$XDG_CONFIG_HOME/vimba-technicien/cle_ed25519.pub")" = 600600 ] \
  || echec "droits de la clé"
ssh-keygen -q -t ed25519 -N '' -f "$D/autre"
ordinateur_ouvrir "$CODE"
"$T" attendre 20 2>"$D/attendre.log" || echec "attendre : $(cat "$D/attendre.log")"

R=$("$T" demande etat); s=$?
[ $s -eq 0 ] && [ "$R" = "ok ecran=1 agir=1 devant=Bouchon" ] || echec "etat : $s « $R »"
R=$(printf 'tape\nBonjour\nlà' | "$T" demande); s=$?
[ $s -eq 0 ] && [ "$R" = "ok tape⏎Bonjour⏎là" ] || echec "tape : $s « $R »"
R=$("$T" demande 'clic -1 x'); s=$?
[ $s -eq 1 ] && [ "$R" = "erreur inconnu « clic -1 x »" ] || echec "erreur : $s « $R »"
R=$("$T" demande muet 2>&1); [ $? -eq 2 ] && [[ $R == *"pas de réponse"* ]] || echec "sans réponse : « $R »"

R=$("$T" vue "$D/copie.jpg"); s=$?
[ $s -eq 0 ] && [ "$R" = "ok vue $(stat -c %s "$D/vue.jpg")" ] && cmp -s "$D/vue.jpg" "$D/copie.jpg" || echec "vue : $s « $R »"

# The MCP server on the same session: a request, then the screenshot as an image.
printf '%s\n' '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18","capabilities":{},"clientInfo":{"name":"essai","version":"1"}}}' \
  '{"jsonrpc":"2.0","method":"notifications/initialized"}' \
  '{"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"etat","arguments":{}}}' \
  '{"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"vue","arguments":{}}}' | "$T" mcp >"$D/mcp.out" || echec "mcp"
[ "$(jq -sc '[.[].id]' "$D/mcp.out")" = '[1,2,3]' ] || echec "mcp : $(cat "$D/mcp.out")"
[ "$(jq -r 'select(.id==2).result.content[0].text' "$D/mcp.out")" = "ok ecran=1 agir=1 devant=Bouchon" ] || echec "mcp etat"
jq -r 'select(.id==3).result.content[] | select(.type=="image").data' "$D/mcp.out" | base64 -d | cmp -s - "$D/vue.jpg" || echec "mcp vue"

# voir: the viewer (here a recorder) reads the gate's flux through the local bridge.
# Another account on this machine that finds the port gets nothing.
cat >"$D/visionneur.sh" <<VOIR
#!/bin/bash
echo "\$*" >$D/visionneur.args
runuser -u vimba-bouchon -- timeout 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/\$2 && cat <&3" >$D/flux.intrus 2>/dev/null
exec 3<>/dev/tcp/127.0.0.1/\$2
cat <&3 >$D/flux.recu
VOIR
chmod 0755 "$D/visionneur.sh"
VIMBA_VOIR=$D/visionneur.sh "$T" voir 800 40 tuiles -- --stats 2>"$D/voir.log" || echec "voir : $(cat "$D/voir.log")"
grep -q "connexion au flux refusée" "$D/voir.log" || echec "l’autre compte n’a pas été vu"
[ "$(cat "$D/flux.recu")" = FLUX-BOUCHON ] || echec "flux reçu : « $(cat "$D/flux.recu") »"
[ -e "$D/flux.intrus" ] && [ ! -s "$D/flux.intrus" ] || echec "flux donné à un autre compte"
[[ $(cat "$D/visionneur.args") =~ ^--port\ [0-9]+\ --stats$ ]] || echec "options du visionneur : $(cat "$D/visionneur.args")"
grep -qx 'flux 800 40 tuiles' "$D/demandes.log" && grep -qx 'flux-stop' "$D/demandes.log" || echec "flux demandé puis arrêté"

# Every act so far went through one SSH connection to the computer.
[ "$(grep -c 'Accepted publickey for vimba-bouchon' "$D/bouchon.log")" = 1 ] || echec "plus d’une connexion : $(grep Accepted "$D/bouchon.log")"
# The control connection lost: the next request makes it again.
EXEC=$(jq -r .execution "$XDG_CONFIG_HOME/vimba-technicien/session.json")
ssh -F "$EXEC/ssh.conf" -O exit vimba-ordinateur 2>/dev/null
R=$("$T" demande etat) || echec "après la perte de la connexion : « $R »"
[ "$(grep -c 'Accepted publickey for vimba-bouchon' "$D/bouchon.log")" = 2 ] || echec "connexion refaite"

# fin closes the session on the service and the connection; nothing is left.
"$T" fin 2>/dev/null || echec "fin"
[ ! -e "$XDG_CONFIG_HOME/vimba-technicien/session.json" ] && [ ! -e "$EXEC" ] || echec "restes après fin"
[ "$(curl -s -H "Authorization: Bearer $VIMBA_JETON" "$VIMBA_SERVICE/v1/sessions/$ID/attendre?delai=1" | jq -r .etat)" = fermee ] \
  || echec "session pas fermée sur le service"

# A computer whose host key is not the one the service gave is not talked to, nor a relay
# that refuses the technician.
CODE=$("$T" code) || echec "troisième code"
ordinateur_ouvrir "$CODE"
"$T" attendre 20 2>/dev/null || echec "troisième attendre"
ETAT=$XDG_CONFIG_HOME/vimba-technicien/session.json
EXEC=$(jq -r .execution "$ETAT")
cp "$ETAT" "$D/session.vraie"
jq --arg cle "$(cat "$D/autre.pub")" '.ordinateur.cle_hote = $cle' "$D/session.vraie" >"$ETAT"
ssh -F "$EXEC/ssh.conf" -O exit vimba-ordinateur 2>/dev/null
R=$("$T" demande etat 2>&1); [ $? -eq 2 ] && [[ $R == *"clé d’hôte de l’ordinateur"* ]] || echec "clé d’hôte changée : « $R »"
jq '.relais.compte = "vimba-autre"' "$D/session.vraie" >"$ETAT"
R=$("$T" demande etat 2>&1); [ $? -eq 2 ] && [[ $R == *"relais refusé"* ]] || echec "relais refusé : « $R »"
cp "$D/session.vraie" "$ETAT"
"$T" demande etat >/dev/null || echec "session pas reprise"
# The person ends the session: the link drops, and the next act says so and tidies up.
curl -sf -X POST -H "Authorization: Bearer $SECRET" -d '{}' "$VIMBA_SERVICE/v1/sessions/$ID/fermer" >/dev/null || echec "fermer"
kill $TUNNEL
ssh -F "$EXEC/ssh.conf" -O exit vimba-ordinateur 2>/dev/null
R=$("$T" demande etat 2>&1); [ $? -eq 2 ] && [[ $R == *"la session a été fermée"* ]] || echec "session fermée : « $R »"
[ ! -e "$ETAT" ] && [ ! -e "$EXEC" ] || echec "restes d’une session fermée"
echo "technicien : bon"
