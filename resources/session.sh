#!/bin/bash
# Dépannage Vimba's session steps. The application runs it with one step name:
#   preparer CODE    (user)          check the code
#   activer          (administrator) open the request folder to the user; prints a token
#   prevenir TEXTE   (user)          tell the technician
#   veille           (user)          print "ssh=N" with N live connections
#   arreter          (administrator) close the session
# Failures print their text on standard error and exit non-zero.
set -u
dossier=/tmp/vimba-sos

# The user the session is for: pkexec tells us through PKEXEC_UID.
utilisateur() {
  if [ -n "${PKEXEC_UID:-}" ]; then id -un "$PKEXEC_UID" 2>/dev/null || echo "$PKEXEC_UID"
  elif [ -n "${SUDO_USER:-}" ]; then echo "$SUDO_USER"
  else id -un; fi
}

case "${1:-}" in
  preparer)
    code=${2:-}
    if [ -z "$code" ] || ! [[ $code =~ ^[A-Za-z0-9-]{4,32}$ ]]; then
      echo "code refusé" >&2; exit 1
    fi
    # The support service is not connected yet: no code can be checked.
    echo "Le service de dépannage n’est pas encore joignable depuis cet ordinateur (vérification des codes pas encore en place)." >&2
    exit 1
    ;;
  activer)
    qui=$(utilisateur)
    # Never follow a link or reuse a folder someone else made.
    if [ -L "$dossier" ] || { [ -e "$dossier" ] && [ "$(stat -c %u "$dossier")" != "$(id -u "$qui")" ] && [ "$(stat -c %u "$dossier")" != 0 ]; }; then
      echo "Le dossier $dossier appartient à quelqu’un d’autre : le dépannage ne peut pas s’ouvrir." >&2; exit 1
    fi
    if [ -e "$dossier" ] && [ ! -d "$dossier" ]; then
      echo "$dossier existe mais n’est pas un dossier." >&2; exit 1
    fi
    # mkdir without -p fails on anything put there meanwhile, links included.
    if [ ! -e "$dossier" ] && [ ! -L "$dossier" ]; then
      mkdir -m 0700 "$dossier" || { echo "création de $dossier impossible" >&2; exit 1; }
    fi
    if [ -L "$dossier" ] || [ ! -d "$dossier" ]; then
      echo "$dossier a changé pendant sa création : le dépannage ne peut pas s’ouvrir." >&2; exit 1
    fi
    if ! chown -h "$qui": "$dossier" || ! chmod 0700 "$dossier"; then
      echo "droits de $dossier impossibles à régler" >&2; exit 1
    fi
    echo "session-$(date +%s)-$$"
    ;;
  prevenir)
    # Nobody to tell until the support service is connected.
    echo "Le service de dépannage n’est pas encore joignable : Ilvo n’a pas été prévenu." >&2
    exit 1
    ;;
  veille)
    n=0
    if command -v ss >/dev/null 2>&1; then
      n=$(ss -Htn state established '( sport = :22 )' 2>/dev/null | wc -l)
    fi
    echo "ssh=$n"
    ;;
  arreter)
    if [ -d "$dossier" ] && [ ! -L "$dossier" ]; then
      find "$dossier" -mindepth 1 -maxdepth 1 \( -name 'demande-*' -o -name 'reponse-*' -o -name 'vue.*' -o -name 'brut.png' -o -name 'flux.port' \) -delete 2>/dev/null
    fi
    echo "fermee"
    ;;
  *)
    echo "étape inconnue : ${1:-}" >&2; exit 2
    ;;
esac
