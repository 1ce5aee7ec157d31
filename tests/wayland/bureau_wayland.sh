#!/usr/bin/env bash
# Runs a command inside a Wayland desktop of its own, all in one private D-Bus session and a
# private XDG_RUNTIME_DIR: PipeWire + WirePlumber, the accessibility bus, xdg-desktop-portal,
# and headless sway (one output, 1920×1080 logical) with the wlroots portal back end picking
# the output without asking, or with VIMBA_WL_BUREAU=gnome headless mutter (one 1920×1080
# virtual monitor) with GNOME's back end.
#   tests/wayland/bureau_wayland.sh COMMAND...
# VIMBA_WL_ECHELLE=2 gives sway's output the scale 2 (3840×2160 pixels, the same logical size).
# sway refuses root: as root, the desktop and the command run as the account vimba-wl
# (made on first use); the command then sees TMPDIR, a folder of that account.
set -euo pipefail
ici=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
compte=vimba-wl

if [ "$(id -u)" = 0 ]; then
  id -u "$compte" >/dev/null 2>&1 || useradd -r -m -s /bin/bash "$compte" 2>/dev/null || id -u "$compte" >/dev/null
  exec runuser -u "$compte" -- "$ici/bureau_wayland.sh" "$@"
fi

bureau=${VIMBA_WL_BUREAU:-sway}
echelle=${VIMBA_WL_ECHELLE:-1}
racine=$(mktemp -d /tmp/vimba-wl.XXXXXX)
chmod 700 "$racine"
export XDG_RUNTIME_DIR=$racine/run TMPDIR=$racine/tmp
export XDG_CONFIG_HOME=$racine/config XDG_DATA_HOME=$racine/data XDG_STATE_HOME=$racine/state XDG_CACHE_HOME=$racine/cache
mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$TMPDIR" "$XDG_CONFIG_HOME/sway" "$XDG_CONFIG_HOME/xdg-desktop-portal-wlr" \
  "$XDG_CONFIG_HOME/gtk-3.0" "$XDG_DATA_HOME" "$XDG_STATE_HOME" "$XDG_CACHE_HOME" "$racine/portails"
# Only the compositor's own back end: another installed one would offer interfaces it
# cannot serve without its own compositor.
cp "/usr/share/xdg-desktop-portal/portals/$([ "$bureau" = gnome ] && echo gnome || echo wlr).portal" "$racine/portails/"
export XDG_DESKTOP_PORTAL_DIR=$racine/portails
# The document portal leaves its FUSE mount in the runtime folder.
trap 'fusermount -uz "$XDG_RUNTIME_DIR/doc" 2>/dev/null; rm -rf "$racine"' EXIT

unset DISPLAY WAYLAND_DISPLAY SWAYSOCK
export XDG_SESSION_TYPE=wayland GDK_BACKEND=wayland NO_AT_BRIDGE=0 GTK_A11Y=atspi
if [ "$bureau" = gnome ]; then
  export XDG_CURRENT_DESKTOP=GNOME GSETTINGS_BACKEND=memory
  # GTK 3 windows without shadows (mutter has GTK draw them): a surface's corner is then the
  # window's visible corner.
  echo 'decoration { box-shadow: none; margin: 0; }' >"$XDG_CONFIG_HOME/gtk-3.0/gtk.css"
else
  export XDG_CURRENT_DESKTOP=sway
  export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=1
  cat >"$XDG_CONFIG_HOME/sway/config" <<FIN
output HEADLESS-1 mode $((1920 * echelle))x$((1080 * echelle)) position 0 0 scale $echelle
default_border none
focus_follows_mouse no
FIN
  cat >"$XDG_CONFIG_HOME/xdg-desktop-portal-wlr/config" <<FIN
[screencast]
chooser_type=none
output_name=HEADLESS-1
max_fps=60
FIN
fi

set +e
# The bus daemon's activation chatter goes to the journal; the command keeps our stderr (fd 3).
exec 3>&2
dbus-run-session -- bash -c '
  set -u
  exec 2>&3 3>&-
  ici=$1 bureau=$2; shift 2
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
  echec() { echo "bureau_wayland: $1" >&2; cat "$journal/$2" >&2; exit 97; }
  # Asking the name owner does not start a second service through D-Bus activation.
  nom() { gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus --method org.freedesktop.DBus.GetNameOwner "$1"; }
  finir() { for p in "${enfants[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; }
  trap finir EXIT

  /usr/libexec/at-spi-bus-launcher --launch-immediately >"$journal/atspi" 2>&1 & enfants+=($!)
  attendre 5 gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus --method org.a11y.Bus.GetAddress
  gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled "<true>" >/dev/null 2>&1
  pipewire >"$journal/pipewire" 2>&1 & enfants+=($!)
  attendre 5 test -S "$XDG_RUNTIME_DIR/pipewire-0" || echec "PipeWire ne démarre pas" pipewire
  wireplumber >"$journal/wireplumber" 2>&1 & enfants+=($!)
  if [ "$bureau" = gnome ]; then
    mutter --headless --virtual-monitor 1920x1080 --wayland --no-x11 >"$journal/mutter" 2>&1 & enfants+=($!)
    attendre 15 nom org.gnome.Mutter.RemoteDesktop || echec "mutter ne démarre pas" mutter
    export WAYLAND_DISPLAY=$(cd "$XDG_RUNTIME_DIR" && ls wayland-[0-9] 2>/dev/null | head -1)
    dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE XDG_RUNTIME_DIR GDK_BACKEND GTK_A11Y >/dev/null 2>&1
    /usr/libexec/xdg-desktop-portal-gnome ${VIMBA_WL_JOURNAL:+--verbose} >"$journal/arriere" 2>&1 & enfants+=($!)
    attendre 10 nom org.freedesktop.impl.portal.desktop.gnome || echec "xdg-desktop-portal-gnome ne démarre pas" arriere
  else
    sway -c "$XDG_CONFIG_HOME/sway/config" >"$journal/sway" 2>&1 & enfants+=($!)
    socket=""
    pret() { socket=$(cd "$XDG_RUNTIME_DIR" && ls wayland-[0-9] 2>/dev/null | head -1); [ -n "$socket" ] && ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock >/dev/null 2>&1; }
    attendre 10 pret || echec "sway ne démarre pas" sway
    export WAYLAND_DISPLAY=$socket
    export SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock | head -1)
    dbus-update-activation-environment WAYLAND_DISPLAY SWAYSOCK XDG_CURRENT_DESKTOP XDG_SESSION_TYPE XDG_RUNTIME_DIR >/dev/null 2>&1
    # No GPU here: the portal back end reaches sway through a relay announcing screen copies
    # it can take in shared memory (see relais_capture.py).
    python3 "$ici/relais_capture.py" "$XDG_RUNTIME_DIR/wayland-relais" "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" >"$journal/relais" 2>&1 & enfants+=($!)
    attendre 5 test -S "$XDG_RUNTIME_DIR/wayland-relais"
    WAYLAND_DISPLAY=wayland-relais /usr/libexec/xdg-desktop-portal-wlr ${VIMBA_WL_JOURNAL:+-l TRACE} -c "$XDG_CONFIG_HOME/xdg-desktop-portal-wlr/config" >"$journal/arriere" 2>&1 & enfants+=($!)
    attendre 5 nom org.freedesktop.impl.portal.desktop.wlr || echec "xdg-desktop-portal-wlr ne démarre pas" arriere
  fi
  /usr/libexec/xdg-desktop-portal -r >"$journal/portail" 2>&1 & enfants+=($!)
  attendre 5 nom org.freedesktop.portal.Desktop || echec "xdg-desktop-portal ne répond pas" portail
  # The output is ready once sway lists it with its mode.
  [ "$bureau" = gnome ] || attendre 5 bash -c "swaymsg -t get_outputs | grep -q HEADLESS-1"
  "$@"; rc=$?
  [ -n "${VIMBA_WL_JOURNAL:-}" ] && tail -n 40 "$journal"/* >&2
  exit $rc
' bash "$ici" "$bureau" "$@" 2>"$racine/dbus.log"
rc=$?
exit $rc
