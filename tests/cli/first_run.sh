#!/usr/bin/env bash
# scripts/run on a fresh account without a display: it makes the local account and signs
# the CLI (and with it the app, which shares the sign-in) in to it, so the CLI works at
# once, with no login of its own; a second run keeps the account and the sign-in.
set -euo pipefail
root=$1
build=$2
cli=$3
tmp=$(mktemp -d)
run_pid=
cleanup() {
  if [ -n "$run_pid" ] && kill -0 "$run_pid" 2>/dev/null; then
    kill -TERM "$run_pid"
    wait "$run_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data
# No keyring on this bus: the sign-in goes to the private file.
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/quorvel-test-bus
unset DISPLAY WAYLAND_DISPLAY QUORVEL_API_ORIGIN
mkdir -p "$HOME"

start() {
  : >"$tmp/out"
  QUORVEL_BUILD_DIR=$build "$root/scripts/run" >"$tmp/out" 2>&1 &
  run_pid=$!
  for _ in $(seq 600); do
    grep -q "The service runs until you press Ctrl-C." "$tmp/out" && return 0
    kill -0 "$run_pid" 2>/dev/null || break
    sleep 0.2
  done
  echo "scripts/run did not come up:" >&2
  cat "$tmp/out" >&2
  exit 1
}
stop() {
  kill -TERM "$run_pid"
  wait "$run_pid" 2>/dev/null || true
  run_pid=
}

start
grep -q "Created the local account" "$tmp/out"
grep -q "Signed in as " "$tmp/out" || { cat "$tmp/out" >&2; exit 1; }
QUORVEL_API_ORIGIN=http://127.0.0.1:8740 "$cli" balance >"$tmp/balance"
grep -q "1000" "$tmp/balance" || { cat "$tmp/balance" >&2; exit 1; }
stop

# The second run neither makes another account nor signs in again; the sign-in holds.
start
if grep -q "Created the local account\|Signed in as " "$tmp/out"; then
  cat "$tmp/out" >&2
  exit 1
fi
QUORVEL_API_ORIGIN=http://127.0.0.1:8740 "$cli" balance >/dev/null
stop
echo "first run signs in; second run keeps the account and the sign-in"
