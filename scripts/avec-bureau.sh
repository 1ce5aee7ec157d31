#!/usr/bin/env bash
# Runs a command inside a desktop of its own: Xvfb (kept alive with -noreset), a D-Bus
# session and the accessibility bus. Uses $DISPLAY when one answers, unless VIMBA_XVFB=1.
#   scripts/avec-bureau.sh [--ecran :N] COMMAND...
set -euo pipefail
ecran=""
if [ "${1:-}" = "--ecran" ]; then ecran=$2; shift 2; fi
if [ -z "$ecran" ]; then
  for n in $(seq 90 140); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || { ecran=":$n"; break; }
  done
fi
Xvfb "$ecran" -screen 0 1920x1080x24 -noreset -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ -e "/tmp/.X11-unix/X${ecran#:}" ] && break
  sleep 0.05
done
export DISPLAY=$ecran
export NO_AT_BRIDGE=0 GTK_A11Y=atspi
# The accessibility bus starts on demand through the session bus.
set +e
dbus-run-session -- bash -c '
  /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
  launcher=$!
  for _ in $(seq 50); do
    gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus --method org.a11y.Bus.GetAddress >/dev/null 2>&1 && break
    sleep 0.1
  done
  gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled "<true>" >/dev/null 2>&1 || true
  "$@"; rc=$?
  kill $launcher 2>/dev/null || true
  exit $rc
' bash "$@"
rc=$?
exit $rc
