#!/usr/bin/env bash
# Builds the Debian packages from a copy of the source tree, checks what they hold and what
# they declare, installs them on this (throwaway) machine, plays a whole session with the
# installed application and the local service, then purges them.
#   paquets_test.sh SOURCES      (as root; several minutes on two cores)
set -euo pipefail
source=$(cd "$1" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "SKIP: installing packages needs root"; exit 77; }
for outil in dpkg-buildpackage dh lintian desktop-file-validate appstreamcli rsvg-convert; do
  command -v "$outil" >/dev/null || { echo "SKIP: $outil missing (deps/paquets.txt)"; exit 77; }
done

paquets=(depannage-vimba vimba-technicien vimba-service)
travail=$(mktemp -d /tmp/vimba-paquets.XXXXXX)
chmod 0755 "$travail"
# Files the packages take over that may already be here, from an install of the build tree.
gardes=(/usr/share/polkit-1/actions/org.vimba.depannage.policy /etc/depannage-vimba/service.conf
  /etc/vimba-service/service.conf /etc/ssh/sshd_config.d/vimba-relais.conf)
mkdir "$travail/gardes"
for f in "${gardes[@]}"; do
  if [ -e "$f" ]; then mkdir -p "$travail/gardes$(dirname "$f")"; cp -p "$f" "$travail/gardes$f"; fi
done
installes=0 rc=1
finir() {
  set +e
  if [ $installes -eq 1 ]; then dpkg -P "${paquets[@]}" >"$travail/purge.log" 2>&1 || cat "$travail/purge.log"; fi
  for f in "${gardes[@]}"; do
    if [ -e "$travail/gardes$f" ]; then mkdir -p "$(dirname "$f")"; cp -p "$travail/gardes$f" "$f"; fi
  done
  if [ $rc -eq 0 ]; then rm -rf "$travail"; else echo "kept for inspection: $travail"; fi
}
trap finir EXIT
erreurs=0
echec() { echo "FAIL: $*"; erreurs=$((erreurs + 1)); }

# --- Build, from a copy so that neither the checkout nor its parent gets the products.
# VIMBA_PAQUETS names a folder of packages already built, to check them again quickly.
if [ -n "${VIMBA_PAQUETS:-}" ]; then
  cp "$VIMBA_PAQUETS"/*.deb "$VIMBA_PAQUETS"/*.changes "$VIMBA_PAQUETS"/*.buildinfo "$travail"/
else
  mkdir "$travail/src"
  tar -C "$source" --exclude='./build*' --exclude='./obj-*' --exclude=./.git --exclude=./demo-sortie \
    --exclude=./debian/tmp --exclude=./debian/.debhelper -cf - . | tar -C "$travail/src" -xf -
  debut=$(date +%s)
  if ! (cd "$travail/src" && DEB_BUILD_OPTIONS="parallel=2 nocheck" nice dpkg-buildpackage -b -us -uc) \
      >"$travail/construction.log" 2>&1; then
    tail -40 "$travail/construction.log"
    echo "FAIL: dpkg-buildpackage"
    exit 1
  fi
  echo "built in $(( $(date +%s) - debut )) s"
fi
deb() { ls "$travail"/"$1"_*.deb; }

# --- Contents: every expected path with its mode, root-owned; nothing writable by others.
declare -A attendu=()
while read -r paquet mode chemin; do attendu["$paquet ./$chemin"]=$mode; done <<'LISTE'
depannage-vimba -rwxr-xr-x usr/bin/depannage-vimba
depannage-vimba -rwxr-xr-x usr/bin/vimba-agent
depannage-vimba -rwxr-xr-x usr/bin/vimba-demande
depannage-vimba -rwxr-xr-x usr/share/depannage-vimba/session.sh
depannage-vimba -rw-r--r-- usr/share/depannage-vimba/interface.html
depannage-vimba -rwxr-xr-x usr/libexec/depannage-vimba/vimba-porte
depannage-vimba -rw-r--r-- usr/share/polkit-1/actions/org.vimba.depannage.policy
depannage-vimba -rw-r--r-- usr/share/applications/depannage-vimba.desktop
depannage-vimba -rw-r--r-- usr/share/metainfo/depannage-vimba.metainfo.xml
depannage-vimba -rw-r--r-- usr/share/icons/hicolor/scalable/apps/depannage-vimba.svg
depannage-vimba -rw-r--r-- usr/share/icons/hicolor/16x16/apps/depannage-vimba.png
depannage-vimba -rw-r--r-- usr/share/icons/hicolor/48x48/apps/depannage-vimba.png
depannage-vimba -rw-r--r-- usr/share/icons/hicolor/256x256/apps/depannage-vimba.png
depannage-vimba -rw-r--r-- usr/lib/sysusers.d/depannage-vimba.conf
depannage-vimba -rw-r--r-- etc/depannage-vimba/service.conf
depannage-vimba drwxr-xr-x usr/share/depannage-vimba/
vimba-technicien -rwxr-xr-x usr/bin/vimba-technicien
vimba-technicien -rwxr-xr-x usr/bin/vimba-voir
vimba-service -rwxr-xr-x usr/lib/vimba-service/vimba-service
vimba-service -rw-r--r-- lib/systemd/system/vimba-service.service
vimba-service -rw-r--r-- etc/ssh/sshd_config.d/vimba-relais.conf
vimba-service -rw-r--r-- etc/vimba-service/service.conf
vimba-service -rw-r--r-- usr/lib/sysusers.d/vimba-service.conf
vimba-service -rw-r--r-- usr/lib/tmpfiles.d/vimba-service.conf
LISTE
for paquet in "${paquets[@]}"; do
  dpkg-deb -c "$(deb "$paquet")" >"$travail/$paquet.contenu"
  while read -r mode proprio _ _ _ chemin _; do
    [ "$proprio" = root/root ] || echec "$paquet: $chemin belongs to $proprio"
    case "$mode" in l*) ;; ?????w????|????????w?) echec "$paquet: $chemin is $mode" ;; esac
    cle="$paquet $chemin"
    if [ -n "${attendu[$cle]:-}" ]; then
      [ "${attendu[$cle]}" = "$mode" ] || echec "$paquet: $chemin is $mode, not ${attendu[$cle]}"
      unset "attendu[$cle]"
    fi
  done <"$travail/$paquet.contenu"
done
for cle in "${!attendu[@]}"; do echec "missing: $cle"; done

# --- Metadata: libraries found by dpkg-shlibdeps, the programs the scripts run, conffiles.
champ() { dpkg-deb -f "$(deb "$1")" "$2"; }
conffiles() { dpkg-deb --ctrl-tarfile "$(deb "$1")" | tar -xOf - ./conffiles 2>/dev/null || true; }
while read -r paquet dependance; do
  champ "$paquet" Depends | tr "," "\n" | grep -Eq "^ *${dependance}( |$)" || echec "$paquet: no dependency on $dependance"
done <<'LISTE'
depannage-vimba libwebkit2gtk-4.1-0
depannage-vimba libatspi2.0-0
depannage-vimba pkexec
depannage-vimba openssh-server
depannage-vimba curl
depannage-vimba jq
vimba-technicien openssh-client
vimba-technicien libavcodec[0-9]+
vimba-service libsqlite3-0
vimba-service libpq5
vimba-service openssh-server
LISTE
conffiles depannage-vimba | grep -qx /etc/depannage-vimba/service.conf || echec "service.conf is no conffile"
for f in /etc/vimba-service/service.conf /etc/ssh/sshd_config.d/vimba-relais.conf; do
  conffiles vimba-service | grep -qx "$f" || echec "$f is no conffile"
done

# --- The extracted files: the action bound to the installed script, entries valid.
racine=$travail/racine
for paquet in "${paquets[@]}"; do dpkg-deb -x "$(deb "$paquet")" "$racine"; done
chemin=$(sed -n 's|.*"org.freedesktop.policykit.exec.path">\([^<]*\)<.*|\1|p' \
  "$racine/usr/share/polkit-1/actions/org.vimba.depannage.policy")
[ "$chemin" = /usr/share/depannage-vimba/session.sh ] && [ -f "$racine$chemin" ] \
  || echec "the polkit action runs « $chemin »"
desktop-file-validate "$racine/usr/share/applications/depannage-vimba.desktop" || echec "desktop entry"
appstreamcli validate --no-net "$racine/usr/share/metainfo/depannage-vimba.metainfo.xml" >"$travail/metainfo.log" 2>&1 \
  || { cat "$travail/metainfo.log"; echec "metainfo"; }
grep -q 'xml:lang="fr"' "$racine/usr/share/metainfo/depannage-vimba.metainfo.xml" || echec "metainfo without French"
grep -qx 'adresse=https://depannage.vimba.fr' "$racine/etc/depannage-vimba/service.conf" || echec "service.conf default"
[ "$(identify -format %wx%h "$racine/usr/share/icons/hicolor/48x48/apps/depannage-vimba.png")" = 48x48 ] \
  || echec "48x48 icon"

# --- lintian: nothing above the informational, overrides aside.
lintian --fail-on error,warning "$travail"/*.changes >"$travail/lintian.log" 2>&1 \
  || { cat "$travail/lintian.log"; echec "lintian"; }

if [ $erreurs -ne 0 ]; then echo "$erreurs failures before installing"; exit 1; fi

# Other suites and benchmarks open sessions too: one at a time on this computer.
mkdir -p /run/lock
exec 8>/run/lock/vimba-sos.essais
flock -w 900 8

# --- Installed for real. The accounts, when some test made them earlier, are locked as
# systemd-sysusers locks them, so that the package's own fix is what lets sshd in.
for compte in vimba-technicien vimba-relais; do
  if getent passwd "$compte" >/dev/null; then usermod -p '!*' "$compte"; fi
done
installes=1
DEBIAN_FRONTEND=noninteractive dpkg -i --force-confdef --force-confold \
  "$(deb depannage-vimba)" "$(deb vimba-technicien)" "$(deb vimba-service)" >"$travail/installation.log" 2>&1 \
  || { cat "$travail/installation.log"; echo "FAIL: dpkg -i"; exit 1; }
for compte in vimba-technicien vimba-relais; do
  [ "$(getent shadow "$compte" | cut -d: -f2)" = '*' ] || echec "$compte: password field $(getent shadow "$compte" | cut -d: -f2)"
  [ "$(getent passwd "$compte" | cut -d: -f7)" = /bin/sh ] || echec "$compte: shell"
done
getent passwd vimba-service >/dev/null || echec "no account vimba-service"
[ "$(stat -c '%U %a' /var/lib/vimba-service 2>/dev/null)" = "vimba-service 750" ] || echec "/var/lib/vimba-service"

# --- The installed application through a whole session: the demo with its checks, the
# service, relay and technician's tools being the installed ones too.
installe=$travail/installe
mkdir -p "$installe/service" "$installe/agent" "$installe/tools/technicien" "$installe/tools/voir"
ln -s /usr/lib/vimba-service/vimba-service "$installe/service/vimba-service"
ln -s /usr/bin/vimba-agent "$installe/agent/vimba-agent"
ln -s /usr/bin/vimba-demande "$installe/tools/vimba-demande"
ln -s /usr/bin/vimba-technicien "$installe/tools/technicien/vimba-technicien"
ln -s /usr/bin/vimba-voir "$installe/tools/voir/vimba-voir"
demo=0
# A desktop and buses of its own, as in the chain test.
env -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u AT_SPI_BUS_ADDRESS VIMBA_BUILD="$installe" \
  VIMBA_APP=/usr/bin/depannage-vimba "$source/scripts/demo.sh" --sortie "$travail/demo" --verifier || demo=$?
if [ $demo -ne 0 ]; then
  tail -30 "$travail/demo/journal.txt" 2>/dev/null
  echec "the installed application's session (demo exit $demo)"
else
  grep -q '^ok ' "$travail/demo/transcription.txt" || echec "no reply in the session"
fi

dpkg -P "${paquets[@]}" >"$travail/purge.log" 2>&1 || { cat "$travail/purge.log"; echec "dpkg -P"; }
installes=0
for f in /usr/share/depannage-vimba /usr/bin/depannage-vimba /var/lib/vimba-service /etc/depannage-vimba/service.conf; do
  [ ! -e "$f" ] || echec "$f left after purge"
done

[ $erreurs -eq 0 ] || exit 1
rc=0
echo "packages built, checked, installed, used and purged"
