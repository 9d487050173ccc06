#!/usr/bin/env bash
# scripts/cluster as an operator runs it: it starts, prints the origin, answers /healthz
# through nginx, and on SIGTERM stops every process it started and removes its folder.
#   cluster_script.sh SOURCE_DIR SERVER_BINARY
set -uo pipefail
source_dir=$1
export QUORVEL_SERVER=$2
out=$(mktemp)
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
fail() {
  echo "FAIL: $*" >&2
  echo "--- scripts/cluster printed:" >&2
  cat "$out" >&2
  [ -n "${work:-}" ] && cat "$work"/instance-*.log >&2 2>/dev/null
  [ -n "${pid:-}" ] && kill -TERM "$pid" 2>/dev/null
  rm -f "$out"
  exit 1
}

"$source_dir/scripts/cluster" "$port" >"$out" 2>&1 &
pid=$!
for _ in $(seq 600); do # 60 s
  grep -q '^origin: ' "$out" && break
  kill -0 "$pid" 2>/dev/null || fail "scripts/cluster ended before printing the origin"
  sleep 0.1
done
origin=$(sed -n 's/^origin: //p' "$out")
[ "$origin" = "http://127.0.0.1:$port" ] || fail "no origin printed within 60 s"
work=$(sed -n 's|^logs: \(.*\)/instance-.*|\1|p' "$out")
[ -d "$work" ] || fail "the cluster's folder is not printed"

health=$(curl -s -m 10 -w ' %{http_code}' "$origin/healthz")
case "$health" in
*' 200') ;;
*) fail "/healthz through nginx answered: $health" ;;
esac
grep -q 'cluster@example.org' "$out" || fail "no account printed"

kill -TERM "$pid"
for _ in $(seq 300); do # 30 s
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "scripts/cluster did not stop within 30 s of SIGTERM"
# Everything it started is gone: the instances, nginx, PostgreSQL and the folder.
if pgrep -f -- "$work" >/dev/null; then
  pgrep -af -- "$work" >&2
  fail "processes of the cluster outlived it"
fi
[ ! -e "$work" ] || fail "$work was not removed"
curl -s -m 2 "$origin/healthz" >/dev/null && fail "the origin still answers after the stop"
rm -f "$out"
echo "scripts/cluster started, answered /healthz through nginx at $origin and stopped cleanly"
