#!/usr/bin/env bash
# A whole help session on this one computer, played from both ends: a local support service
# and relay, the application on a desktop (a virtual one when none answers), the user typing
# the technician's code, then a short technician session through the relay. Leaves the
# transcript, the screenshot and a picture of the stream in the output folder.
#   scripts/demo.sh [--sortie DOSSIER]        (as root; the programs must be built)
set -euo pipefail
cd "$(dirname "$0")/.."
racine=$PWD
build=${VIMBA_BUILD:-$racine/build}
case "$build" in /*) ;; *) build=$racine/$build ;; esac
sortie=$racine/demo-sortie
if [ "${1:-}" = "--sortie" ] && [ -n "${2:-}" ]; then sortie=$2; shift 2; fi
[ $# -eq 0 ] || { echo "usage : scripts/demo.sh [--sortie DOSSIER]" >&2; exit 2; }

if [ "$(id -u)" -ne 0 ]; then
  echo "La démonstration doit tourner en root (sudo) : elle ouvre un relais SSH local et l’étape administrateur." >&2
  exit 1
fi

# A desktop of its own unless one answers: display, window manager, session and accessibility buses.
if [ -z "${VIMBA_DEMO_BUREAU:-}" ]; then
  if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1 || [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    echo "[bureau] écran virtuel, bus de session et bus d’accessibilité"
    VIMBA_DEMO_BUREAU=1 VIMBA_XVFB=1 exec scripts/avec-bureau.sh "$0" --sortie "$sortie"
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
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$travail"
}
trap finir EXIT

n=0
total=10
etape() { n=$((n + 1)); printf '[%d/%d] %s\n' "$n" "$total" "$*"; }
echouer() { printf 'échec : %s (détails dans %s)\n' "$*" "$journal" >&2; exit 1; }
noter() { printf '%s\n' "$*" >>"$sortie/transcription.txt"; }

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
  dbus-daemon --system --fork >>"$journal" 2>&1 || echouer "le bus système ne démarre pas"
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
VIMBA_SERVICE_CONF=$VIMBA_SERVICE_CONF "$build/app/depannage-vimba" >>"$journal" 2>&1 &
app=$!
pids+=($app)
fenetre=$(xdotool search --sync --onlyvisible --name "^Dépannage Vimba$" 2>/dev/null | head -1)
[ -n "$fenetre" ] || echouer "la fenêtre de l’application n’est pas venue"
sleep 1

etape "La personne tape le code et accepte l’étape administrateur"
xdotool windowactivate --sync "$fenetre" >/dev/null 2>&1 || true
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
xdotool search --sync --onlyvisible --name "^Fiche client$" windowactivate --sync >/dev/null 2>&1 || true
demander lire >/dev/null
demander "viser Nom du client" >/dev/null
demander $'tape\nJeanne Dupont' >/dev/null
demander $'dire 300 200\nC’est ici que j’écris' >/dev/null

etape "Capture d’écran rapatriée"
"$technicien" vue "$sortie/vue.jpg" >>"$journal" 2>&1 || echouer "pas de capture"
noter "# vue.jpg : $(stat -c %s "$sortie/vue.jpg") octets"

etape "Quelques secondes du flux vidéo"
"$technicien" voir 1280 45 h264 -- --png "$sortie/flux.png" --duree 4 --stats >>"$sortie/transcription.txt" 2>>"$journal" \
  || echouer "le flux n’a rien montré"
demander flux-stop >/dev/null

etape "La personne termine le dépannage"
xdotool windowactivate --sync "$fenetre" >/dev/null 2>&1 || true
xdotool key Return
for _ in $(seq 100); do [ ! -e /tmp/vimba-sos ] && break; sleep 0.1; done
[ ! -e /tmp/vimba-sos ] || echouer "le dossier de la session est resté"
noter "# fin : le dossier de la session est supprimé, le tunnel et le sshd privé sont arrêtés"

echo "Terminé : $sortie (transcription.txt, vue.jpg, flux.png)"
