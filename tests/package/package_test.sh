#!/usr/bin/env bash
# Builds the three Debian packages, installs them into this machine with apt-get, checks them
# as a distribution would (desktop-file-validate, appstreamcli, lintian), runs the service
# unit's ExecStart as its user and asks /healthz, then removes and purges them and checks
# that nothing is left. The machine is restored (purge) even when a check fails.
# Needs root; CI runs it on a throwaway machine.
set -uo pipefail
source_dir=$1
build_dir=$2
work=$(mktemp -d)
packages=(quorvel quorvel-cli quorvel-server)
server_pid=
failed=0
fail() { echo "FAIL: $*"; failed=1; }

cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  # dpkg, not apt: a removed package from a local file is no longer known to apt.
  dpkg --purge "${packages[@]}" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: installing packages needs root"
  exit 77
fi
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    echo "SKIP: $p is installed on this machine already; the test would remove it"
    trap - EXIT
    exit 77
  fi
done

QUORVEL_BUILD_DIR=$build_dir "$source_dir/scripts/package" "$work/debs" >"$work/package.log" 2>&1 ||
  { cat "$work/package.log"; fail "scripts/package"; exit 1; }
debs=("$work"/debs/*.deb)
for deb in "${debs[@]}"; do
  echo "== $(basename "$deb")"
  dpkg-deb -f "$deb" Package Depends
  dpkg-deb -c "$deb" | awk '{print $1, $6}'
done

echo "== lintian"
lintian --tag-display-limit 0 "${debs[@]}" | tee "$work/lintian.txt"
grep -q '^E: ' "$work/lintian.txt" && fail "lintian reports errors"

# Every path of this machine that names the product, before, after removal and after purge.
# (Only those: other work on the machine may add files elsewhere meanwhile.)
snapshot() {
  find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /run -o -path /tmp -o -path /work \
    -o -path /var/cache/apt -o -path /var/lib/dpkg -o -path /var/lib/apt -o -path /var/log -o -path /var/tmp -o -path /root \) -prune \
    -o -iname '*quorvel*' -print 2>/dev/null | sort
}
snapshot >"$work/before"

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${debs[@]}" \
  >"$work/apt.log" 2>&1 || { tail -20 "$work/apt.log"; fail "apt-get install"; exit 1; }

echo "== desktop-file-validate, appstreamcli"
desktop-file-validate /usr/share/applications/quorvel.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net /usr/share/metainfo/io.github.quorvel.Quorvel.metainfo.xml ||
  fail "appstreamcli validate"
[ -f /usr/share/icons/hicolor/scalable/apps/quorvel.svg ] || fail "no scalable icon"

echo "== programs"
quorvel-cli --help >/dev/null || fail "quorvel-cli --help"
quorvel --version || fail "quorvel --version"
man -w quorvel-cli >/dev/null 2>&1 || [ -f /usr/share/man/man1/quorvel-cli.1.gz ] || fail "no manual page of quorvel-cli"
[ -f /usr/share/man/man1/quorvel-server.1.gz ] || fail "no manual page of quorvel-server"

echo "== the service as its unit runs it"
unit=/lib/systemd/system/quorvel-server.service
getent passwd quorvel-server >/dev/null || fail "no system user quorvel-server"
[ "$(stat -c %U /var/lib/quorvel-server)" = quorvel-server ] || fail "data folder not owned by the service user"
user=$(sed -n 's/^User=//p' "$unit")
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# The unit's own command with the port of this test, so a running service elsewhere is untouched.
exec_start=${exec_start//127.0.0.1:8740/127.0.0.1:$port}
(
  set -a
  # shellcheck disable=SC1091
  . /etc/quorvel-server/server.env
  set +a
  eval "exec runuser -u $user -- $exec_start"
) >"$work/server.log" 2>&1 &
server_pid=$!
healthy=
for _ in $(seq 100); do
  if curl -fsS "http://127.0.0.1:$port/healthz" >"$work/healthz" 2>/dev/null; then healthy=1; break; fi
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.2
done
[ -n "$healthy" ] && echo "healthz: $(cat "$work/healthz")" || { cat "$work/server.log"; fail "/healthz did not answer"; }
runuser -u quorvel-server -- quorvel-server user add admin@example.com --password-stdin \
  --data /var/lib/quorvel-server <<<"package-test-password" >/dev/null || fail "quorvel-server user add"
kill "$server_pid"; wait "$server_pid" 2>/dev/null; server_pid=

echo "== remove, then purge"
installed=$(dpkg -L "${packages[@]}" 2>/dev/null | sort -u)
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq "${packages[@]}" >/dev/null 2>&1 || fail "apt-get remove"
for f in $installed; do
  case "$f" in /etc/quorvel-server/*) continue ;; esac
  [ -e "$f" ] && [ ! -d "$f" ] && fail "remove left $f"
done
# What may stay after removal: the service's data and configuration, and whether the unit is
# enabled (so that reinstalling keeps the administrator's choice).
left=$(comm -13 "$work/before" <(snapshot) | grep -v -e '^/var/lib/quorvel-server' -e '^/etc/quorvel-server' \
  -e '^/var/lib/systemd/deb-systemd-helper-' -e '^/etc/systemd/system/')
[ -z "$left" ] || { echo "$left"; fail "remove left files outside the service's data"; }
[ -d /var/lib/quorvel-server ] || fail "remove deleted the service's data"
dpkg --purge "${packages[@]}" >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "purge"; }
left=$(comm -13 "$work/before" <(snapshot))
[ -z "$left" ] || { echo "$left"; fail "purge left files"; }
[ "$failed" -eq 0 ] && echo "package test passed"
exit "$failed"
