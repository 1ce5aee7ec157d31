#!/usr/bin/env bash
# A whole help session on this one computer, played from both ends: a local support service
# and relay, the application on a desktop (a virtual one when none answers), the user typing
# the technician's code, then a short technician session through the relay. Leaves the
# transcript, the screenshot and a picture of the stream in the output folder.
#   scripts/demo.sh [--sortie DOSSIER] [--verifier]     (as root; the programs must be built)
# --verifier also checks, and fails on, what a user must be able to trust: a wrong code
# worded in the page, the folder and the stream closed to a third account, the screenshot
# equal to the screen, and nothing of the session left once the user ends it.
set -euo pipefail
cd "$(dirname "$0")/.."
racine=$PWD
build=${VIMBA_BUILD:-$racine/build}
case "$build" in /*) ;; *) build=$racine/$build ;; esac
app=${VIMBA_APP:-$build/app/depannage-vimba}
# The session script the application runs: installed beside it, else the source tree's.
script=$(dirname "$app")/../share/depannage-vimba/session.sh
[ -f "$script" ] || script=$racine/resources/session.sh
sortie=$racine/demo-sortie
verifier=0
while [ $# -gt 0 ]; do
  case "$1" in
    --sortie) [ -n "${2:-}" ] || set -- --aide; sortie=$2; shift 2 ;;
    --verifier) verifier=1; shift ;;
    *) echo "usage : scripts/demo.sh [--sortie DOSSIER] [--verifier]" >&2; exit 2 ;;
  esac
done

if [ "$(id -u)" -ne 0 ]; then
  echo "La démonstration doit tourner en root (sudo) : elle ouvre un relais SSH local et l’étape administrateur." >&2
  exit 1
fi

# A desktop of its own unless one answers: display, window manager, session and accessibility buses.
if [ -z "${VIMBA_DEMO_BUREAU:-}" ]; then
  if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1 || [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    echo "[bureau] écran virtuel, bus de session et bus d’accessibilité"
    options=(--sortie "$sortie"); [ $verifier -eq 0 ] || options+=(--verifier)
    VIMBA_DEMO_BUREAU=1 VIMBA_XVFB=1 exec scripts/avec-bureau.sh "$0" "${options[@]}"
  fi
fi

mkdir -p "$sortie"
sortie=$(cd "$sortie" && pwd)
rm -f "$sortie"/transcription.txt "$sortie"/vue.jpg "$sortie"/flux.png
travail=$(mktemp -d /tmp/vimba-demo.XXXXXX)
journal=$sortie/journal.txt
: >"$journal"
pids=()
finir() {
  set +e
  # After a failure the session may still be open: closed here as root, since the
  # application stopped by a signal would ask for the administrator step again.
  [ -e /run/depannage-vimba ] && PKEXEC_UID=$(id -u) bash "$script" arreter >>"$journal" 2>&1
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for _ in $(seq 50); do
    vivants=0
    for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null && vivants=1; done
    [ $vivants -eq 0 ] && break
    sleep 0.1
  done
  for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  rm -rf "$travail"
}
trap finir EXIT

n=0
total=10
etape() { n=$((n + 1)); printf '[%d/%d] %s\n' "$n" "$total" "$*"; }
echouer() {
  import -window root "$sortie/echec.png" 2>/dev/null || true
  printf 'échec : %s (détails dans %s, écran dans echec.png)\n' "$*" "$journal" >&2
  exit 1
}
noter() { printf '%s\n' "$*" >>"$sortie/transcription.txt"; }
verifie() { [ $verifier -eq 1 ] || return 0; noter "# vérifié : $*"; }
# The agent's own reader, on a private folder, tells what the application's page shows.
lirePage() {
  "$build/tools/vimba-demande" --dossier "$travail/lecteur" --attente 10 "lire $1" 2>>"$journal" || true
}

etape "Gestionnaire de fenêtres et bus système (polkit)"
if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
  openbox >>"$journal" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.1; done
fi
if ! gdbus call --system --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.GetId >/dev/null 2>&1; then
  rm -f /run/dbus/pid
  mkdir -p /run/dbus
  # It outlives the demo: it must not hold our callers' descriptors (their locks) with it.
  (for fd in $(seq 3 254); do eval "exec $fd>&-"; done; exec dbus-daemon --system --fork) >>"$journal" 2>&1 ||
    echouer "le bus système ne démarre pas"
fi

etape "Service de dépannage local (SQLite) et relais SSH"
mkfifo "$travail/pret"
VIMBA_BUILD=$build scripts/service-local.sh "$travail/service" >"$travail/pret" 2>>"$journal" &
pids+=($!)
read -r -t 20 ligne <"$travail/pret" || echouer "le service local ne répond pas"
# shellcheck disable=SC1091
. "$travail/service/env"
export VIMBA_SERVICE VIMBA_JETON
export XDG_CONFIG_HOME=$travail/technicien
technicien=$build/tools/technicien/vimba-technicien

etape "Ilvo demande un code au service"
code=$("$technicien" code 2>>"$journal") || echouer "pas de code"
noter "# code donné par téléphone : $code"

etape "Une fenêtre d’exemple et l’application Dépannage Vimba"
zenity --entry --title "Fiche client" --text "Nom du client :" >"$travail/saisi.txt" 2>>"$journal" &
pids+=($!)
VIMBA_SERVICE_CONF=$VIMBA_SERVICE_CONF "$app" >>"$journal" 2>&1 &
app=$!
pids+=($app)
# xdotool gives up on the first X error, such as a window closed while it looks at it, which
# the application's start-up does: look again rather than take that as no window.
fenetre=""
for _ in $(seq 100); do
  fenetre=$(xdotool search --onlyvisible --name "^Dépannage Vimba$" 2>/dev/null | head -1) || true
  [ -n "$fenetre" ] && break
  sleep 0.2
done
[ -n "$fenetre" ] || echouer "la fenêtre de l’application n’est pas venue"
sleep 1

etape "La personne tape le code et accepte l’étape administrateur"
xdotool windowactivate --sync "$fenetre" >/dev/null 2>&1 || true
if [ $verifier -eq 1 ]; then
  mkdir -m 0700 "$travail/lecteur"
  "$build/agent/vimba-agent" --dossier "$travail/lecteur" >>"$journal" 2>&1 &
  lecteur=$!
  pids+=($lecteur)
  faux=$(( (10#$code + 500000) % 1000000 ))
  xdotool type --delay 40 "$(printf '%06d' $faux)"
  xdotool key Return
  for _ in $(seq 40); do
    page=$(lirePage "pas valable")
    case "$page" in *"Ce code n’est pas valable"*) break ;; esac
    sleep 0.25
  done
  case "$page" in *"Ce code n’est pas valable"*) verifie "un mauvais code est dit dans la page" ;;
    *) echouer "un mauvais code n’a pas été dit dans la page : $page" ;; esac
  kill $lecteur 2>/dev/null || true
  # The refused code stays selected in the field: the right one replaces it as it is typed.
fi
xdotool type --delay 40 "$code"
xdotool key Return
debut=$(date +%s.%N)

etape "Ilvo attend l’ouverture, puis se connecte par le relais"
"$technicien" attendre 30 >>"$journal" 2>&1 || echouer "la session ne s’est pas ouverte"
demander() {
  local reponse statut=0
  reponse=$(printf '%s' "$1" | "$technicien" demande 2>>"$journal") || statut=$?
  noter "> ${1//$'\n'/ ⏎ }"
  noter "$reponse"
  [ $statut -ne 2 ] || echouer "pas de réponse à « $1 »"
  printf '%s' "$reponse"
}
demander etat >/dev/null
fin=$(date +%s.%N)
noter "# première réponse $(awk -v a="$debut" -v b="$fin" 'BEGIN{printf "%.2f", b-a}') s après le code tapé"

etape "Ilvo regarde et agit : lire, viser, tape"
# The sample window in front (the panel may take the focus back once, as the session opens).
for _ in $(seq 10); do
  xdotool search --sync --onlyvisible --name "^Fiche client$" windowactivate --sync >/dev/null 2>&1 || true
  case "$("$technicien" demande etat 2>>"$journal")" in *devant=zenity*) break ;; esac
  sleep 0.5
done
demander lire >/dev/null
demander "viser Nom du client" >/dev/null
demander $'tape\nJeanne Dupont' >/dev/null
demander $'dire 300 200\nC’est ici que j’écris' >/dev/null

etape "Capture d’écran rapatriée"
"$technicien" vue "$sortie/vue.jpg" >>"$journal" 2>&1 || echouer "pas de capture"
noter "# vue.jpg : $(stat -c %s "$sortie/vue.jpg") octets"
if [ $verifier -eq 1 ]; then
  import -window root "$travail/ecran.png"
  taille=$(identify -format '%wx%h' "$sortie/vue.jpg")
  convert "$travail/ecran.png" -resize "$taille!" "$travail/ecran-reduit.png"
  psnr=$(compare -metric PSNR "$sortie/vue.jpg" "$travail/ecran-reduit.png" null: 2>&1 || true)
  awk -v p="${psnr%% *}" 'BEGIN { exit !(p == "inf" || p + 0 >= 25) }' \
    || echouer "la capture rapatriée diffère de l’écran (PSNR $psnr)"
  verifie "la capture rapatriée est l’écran (PSNR ${psnr%% *} dB)"
fi

etape "Quelques secondes du flux vidéo"
"$technicien" voir 1280 45 h264 -- --png "$sortie/flux.png" --duree 4 --stats >>"$sortie/transcription.txt" 2>>"$journal" \
  || echouer "le flux n’a rien montré"
if [ $verifier -eq 1 ]; then
  # Another account of this computer: neither the folder nor the stream.
  getent passwd vimba-autre >/dev/null || useradd --system --shell /bin/sh vimba-autre
  ! runuser -u vimba-autre -- ls /tmp/vimba-sos >/dev/null 2>&1 || echouer "un autre compte lit le dossier de la session"
  port=$(demander "flux 640 45 tuiles" | awk '{print $3}')
  mkdir -m 0777 "$travail/autre"
  runuser -u vimba-autre -- "$build/tools/voir/vimba-voir" --port "$port" --duree 3 --png "$travail/autre/flux.png" \
    >/dev/null 2>&1 || true
  [ ! -s "$travail/autre/flux.png" ] || echouer "un autre compte regarde le flux"
  verifie "un autre compte ne lit pas le dossier et ne regarde pas le flux (port $port)"
  veille=$(bash "$script" veille 2>/dev/null)
  case "$veille" in *ssh=[1-9]*) verifie "veille pendant la session : $veille" ;; *) echouer "veille ne voit pas Ilvo : $veille" ;; esac
fi
demander flux-stop >/dev/null

etape "La personne termine le dépannage"
xdotool windowactivate --sync "$fenetre" >/dev/null 2>&1 || true
xdotool key Return
for _ in $(seq 100); do [ ! -e /tmp/vimba-sos ] && break; sleep 0.1; done
[ ! -e /tmp/vimba-sos ] || echouer "le dossier de la session est resté"
if [ $verifier -eq 1 ]; then
  for _ in $(seq 50); do [ ! -e /run/depannage-vimba ] && break; sleep 0.1; done
  [ ! -e /run/depannage-vimba ] || echouer "l’état de la session est resté"
  ! pgrep -f 'sshd.*/run/depannage-vimba' >/dev/null || echouer "le sshd privé tourne encore"
  ! pgrep -f 'ssh .*-R 127\.0\.0\.1:[0-9]+:127\.0\.0\.1' >/dev/null || echouer "le tunnel tourne encore"
  ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || echouer "le port du flux répond encore"
  [ ! -e "/run/user/0/depannage-vimba" ] && [ ! -e "$HOME/.cache/depannage-vimba" ] || echouer "les détails de la session sont restés"
  veille=$(bash "$script" veille 2>/dev/null)
  [ "$veille" = "ssh=0" ] || echouer "veille après la fin : $veille"
  verifie "plus rien de la session : ni dossier, ni état, ni sshd, ni tunnel, ni flux, ni détails"
fi
noter "# fin : le dossier de la session est supprimé, le tunnel et le sshd privé sont arrêtés"

echo "Terminé : $sortie (transcription.txt, vue.jpg, flux.png)"
