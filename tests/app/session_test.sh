#!/usr/bin/env bash
# The session script's steps that are real, on a copy whose request folder is a private
# path: "activer" makes the folder for the user and refuses links, files and folders of
# others; "veille" prints ssh=N; "arreter" removes requests and replies only.
#   session_test.sh SESSION_SH
set -u
[ "$(id -u)" = 0 ] || { echo "à lancer en root (chown)"; exit 77; }
base=$(mktemp -d)
trap 'rm -rf "$base"' EXIT
dossier=$base/sos
sed "s#^dossier=/tmp/vimba-sos#dossier=$dossier#" "$1" > "$base/session.sh"
etape() { PKEXEC_UID=65534 bash "$base/session.sh" "$@"; }
echec() { echo "ÉCHEC : $*" >&2; exit 1; }

sortie=$(etape activer) || echec "activer sur un dossier absent"
[ -n "$sortie" ] || echec "activer n’a rien imprimé"
[ "$(stat -c '%U %a' "$dossier")" = "nobody 700" ] || echec "dossier $(stat -c '%U %a' "$dossier")"
etape activer >/dev/null || echec "activer une seconde fois"

touch "$dossier/demande-1" "$dossier/reponse-1" "$dossier/garder"
etape arreter >/dev/null || echec "arreter"
[ -e "$dossier/demande-1" ] || [ -e "$dossier/reponse-1" ] && echec "requêtes restées"
[ -e "$dossier/garder" ] || echec "un autre fichier a disparu"

[[ $(etape veille) =~ ^ssh=[0-9]+$ ]] || echec "veille : $(etape veille)"

cible=$base/cible
mkdir "$cible"
for cas in lien fichier autrui; do
  rm -rf "$dossier"
  case $cas in
    lien) ln -s "$cible" "$dossier" ;;
    fichier) touch "$dossier" ;;
    autrui) mkdir "$dossier"; chown 1234 "$dossier" ;;
  esac
  if err=$(etape activer 2>&1 >/dev/null); then echec "activer accepté ($cas)"; fi
  [ -n "$err" ] || echec "activer sans message ($cas)"
done
[ "$(stat -c %U "$cible")" = root ] || echec "la cible du lien a changé de propriétaire"
echo ok
