#!/usr/bin/env bash
# Runs a command inside a GNOME Wayland desktop of its own: headless mutter (one 1920×1080
# virtual monitor), PipeWire + WirePlumber, xdg-desktop-portal with GNOME's back end and the
# accessibility bus, all in one private D-Bus session and a private XDG_RUNTIME_DIR.
#   tests/wayland/bureau_gnome.sh COMMAND...
# As root, the desktop and the command run as the account vimba-wl (made on first use).
# VIMBA_WL_JOURNAL=1 prints the tail of each service's log at the end.
set -euo pipefail
ici=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
compte=vimba-wl

if [ "$(id -u)" = 0 ]; then
  id -u "$compte" >/dev/null 2>&1 || useradd -r -m -s /bin/bash "$compte" 2>/dev/null || id -u "$compte" >/dev/null
  exec runuser -u "$compte" -- "$ici/bureau_gnome.sh" "$@"
fi

racine=$(mktemp -d /tmp/vimba-gnome.XXXXXX)
chmod 700 "$racine"
export XDG_RUNTIME_DIR=$racine/run TMPDIR=$racine/tmp
export XDG_CONFIG_HOME=$racine/config XDG_DATA_HOME=$racine/data XDG_STATE_HOME=$racine/state XDG_CACHE_HOME=$racine/cache
mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$TMPDIR" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME" "$XDG_CACHE_HOME" "$racine/portails"
# Only GNOME's back end: another installed one would answer for interfaces it cannot serve here.
cp /usr/share/xdg-desktop-portal/portals/gnome.portal "$racine/portails/"
export XDG_DESKTOP_PORTAL_DIR=$racine/portails
# GTK 3 windows without shadows: a surface's corner is then the window's visible corner.
mkdir -p "$XDG_CONFIG_HOME/gtk-3.0"
echo 'decoration { box-shadow: none; margin: 0; }' >"$XDG_CONFIG_HOME/gtk-3.0/gtk.css"
trap 'fusermount -uz "$XDG_RUNTIME_DIR/doc" 2>/dev/null; rm -rf "$racine"' EXIT

unset DISPLAY WAYLAND_DISPLAY SWAYSOCK
export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME GDK_BACKEND=wayland
export NO_AT_BRIDGE=0 GTK_A11Y=atspi GSETTINGS_BACKEND=memory

set +e
exec 3>&2
dbus-run-session -- bash -c '
  set -u
  exec 2>&3 3>&-
  ici=$1; shift
  journal=$XDG_RUNTIME_DIR/journal
  mkdir -p "$journal"
  enfants=()
  attendre() {  # attendre SECONDES COMMANDE...: until the command succeeds
    local fin=$((SECONDS + $1)); shift
    until "$@" >/dev/null 2>&1; do
      [ $SECONDS -ge $fin ] && return 1
      sleep 0.05
    done
  }
  nom() { gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus --method org.freedesktop.DBus.GetNameOwner "$1"; }
  finir() { for p in "${enfants[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; }
  trap finir EXIT

  /usr/libexec/at-spi-bus-launcher --launch-immediately >"$journal/atspi" 2>&1 & enfants+=($!)
  attendre 5 gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus --method org.a11y.Bus.GetAddress
  gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled "<true>" >/dev/null 2>&1
  pipewire >"$journal/pipewire" 2>&1 & enfants+=($!)
  attendre 5 test -S "$XDG_RUNTIME_DIR/pipewire-0" || { echo "bureau_gnome: PipeWire ne démarre pas" >&2; cat "$journal/pipewire" >&2; exit 97; }
  wireplumber >"$journal/wireplumber" 2>&1 & enfants+=($!)
  mutter --headless --virtual-monitor 1920x1080 --wayland --no-x11 >"$journal/mutter" 2>&1 & enfants+=($!)
  attendre 15 nom org.gnome.Mutter.RemoteDesktop || { echo "bureau_gnome: mutter ne démarre pas" >&2; cat "$journal/mutter" >&2; exit 97; }
  socket=$(cd "$XDG_RUNTIME_DIR" && ls wayland-[0-9] 2>/dev/null | head -1)
  export WAYLAND_DISPLAY=$socket
  dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE XDG_RUNTIME_DIR GDK_BACKEND GTK_A11Y >/dev/null 2>&1
  /usr/libexec/xdg-desktop-portal-gnome ${VIMBA_WL_JOURNAL:+--verbose} >"$journal/xdpg" 2>&1 & enfants+=($!)
  attendre 10 nom org.freedesktop.impl.portal.desktop.gnome \
    || { echo "bureau_gnome: xdg-desktop-portal-gnome ne démarre pas" >&2; cat "$journal/xdpg" >&2; exit 97; }
  /usr/libexec/xdg-desktop-portal -r >"$journal/portail" 2>&1 & enfants+=($!)
  attendre 5 nom org.freedesktop.portal.Desktop \
    || { echo "bureau_gnome: xdg-desktop-portal ne répond pas" >&2; cat "$journal/portail" >&2; exit 97; }
  "$@"; rc=$?
  [ -n "${VIMBA_WL_JOURNAL:-}" ] && tail -n 40 "$journal"/* >&2
  exit $rc
' bash "$ici" "$@" 2>"$racine/dbus.log"
rc=$?
exit $rc
