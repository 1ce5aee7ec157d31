#!/usr/bin/env bash
# The real program starts on the display it is given (as root too), shows its window at
# 520×600, and ends cleanly on SIGTERM and on SIGINT. Run inside scripts/avec-bureau.sh.
#   demarrage_test.sh PROGRAMME
set -u
programme=$1
echec() { echo "ÉCHEC : $*" >&2; exit 1; }

for signal in TERM INT; do
  "$programme" >/dev/null 2>&1 &
  pid=$!
  fenetre=""
  for _ in $(seq 200); do
    fenetre=$(xdotool search --onlyvisible --name '^Dépannage Vimba$' 2>/dev/null | head -1)
    [ -n "$fenetre" ] && break
    kill -0 $pid 2>/dev/null || echec "le programme s’est arrêté au démarrage"
    sleep 0.05
  done
  [ -n "$fenetre" ] || echec "aucune fenêtre « Dépannage Vimba »"
  geometrie=$(xdotool getwindowgeometry "$fenetre" | awk '/Geometry/ {print $2}')
  [ "$geometrie" = "520x600" ] || echec "fenêtre de $geometrie au lieu de 520x600"
  kill -$signal $pid
  for _ in $(seq 200); do kill -0 $pid 2>/dev/null || break; sleep 0.05; done
  kill -0 $pid 2>/dev/null && { kill -KILL $pid; echec "toujours là 10 s après SIG$signal"; }
  wait $pid
  rc=$?
  [ $rc -eq 0 ] || echec "code de sortie $rc après SIG$signal"
done
echo "ok"
