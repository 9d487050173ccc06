#!/usr/bin/env bash
# Load figures for quorvel-server, measured from second processes on loopback:
#   1. history and status under 64 connections (wrk), requests/s, p99, errors,
#      with and without the desktop client's request headers; single history
#      answers at 1 000, 10 000 and 100 000 jobs (first, repeated, after a job,
#      and the first after a restart of the service);
#   2. 50 concurrent 20 MiB uploads, with the server's RSS growth;
#   3. DOCX→PDF latency per job next to a cold `soffice --convert-to pdf`;
#   4. a well-behaved client's answers while 200 connections send their headers
#      slowly (target: all within 1 s);
#   5. the server's peak memory under 96 concurrent failed logins (target < 300 MiB).
# Usage: bench/server_load.sh [BUILD_DIR]   (QUORVEL_BENCH_SECONDS, default 30;
#        QUORVEL_BENCH_ONLY=history runs the history figures alone;
#        QUORVEL_BENCH_SIZES="1000 10000" picks the seeded history sizes)
# Traffic goes to 127.0.0.1 only; every run is bounded in count and time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${QUORVEL_BENCH_SECONDS:-30}
server=$(find "$build" -name quorvel-server -type f -perm -u+x | head -n1)
bench=$(find "$build" -name server_bench -type f -perm -u+x | head -n1)
only=${QUORVEL_BENCH_ONLY:-}
[ -n "$server" ] && { [ -n "$bench" ] || [ "$only" = history ]; } || { echo "build quorvel-server and server_bench first" >&2; exit 2; }
command -v wrk >/dev/null || { echo "wrk is missing (scripts/setup installs it)" >&2; exit 2; }
command -v sqlite3 >/dev/null || { echo "sqlite3 is missing (scripts/setup installs it)" >&2; exit 2; }

work=$(mktemp -d)
pid=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid"; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "bench-pw" | "$server" user add bench@example.org --pages 100000000 --data "$work/data" --password-stdin >/dev/null

# Large histories written straight into the database before the service starts:
# finished PDF2MD jobs of one upload, as many as asked for.
seed_history() { # email jobs
  echo "bench-pw" | "$server" user add "$1" --pages 100000000 --data "$work/data" --password-stdin >/dev/null
  local upload md5
  upload=$(head -c16 /dev/urandom | od -An -tx1 | tr -d ' \n')
  md5=$(head -c16 /dev/urandom | od -An -tx1 | tr -d ' \n')
  sqlite3 "$work/data/quorvel.sqlite" <<SQL
BEGIN;
INSERT INTO uploads(id, user_id, file_name, typ, md5, size, page_number, encrypted, created_at)
  SELECT '$upload', id, 'report.pdf', 'pdf', '$md5', 4096, 1, 0, '2026-01-05 09:00:00 +0000' FROM users WHERE email='$1';
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $2)
INSERT INTO jobs(id, user_id, upload_id, typ, file_name, page_number, source_file_typ, result_file_typ,
                 source_file_md5, state, created_at)
  SELECT lower(hex(randomblob(16))), u.id, '$upload', 'PDF2MD', 'report-' || n.i || '.pdf', 1, 'pdf', 'md',
         '$md5', 'completed', '2026-01-05 09:00:00 +0000' FROM n, users u WHERE u.email='$1';
COMMIT;
SQL
}
read -r -a sizes <<<"${QUORVEL_BENCH_SIZES:-1000 10000 100000}"
seed_start=$(date +%s.%N)
for n in "${sizes[@]}"; do seed_history "h$n@example.org" "$n"; done
awk -v a="$seed_start" -v b="$(date +%s.%N)" -v n="${sizes[*]}" 'BEGIN { printf "seeded histories of %s jobs in %.1f s\n", n, b - a }'
start_server() {
  rm -f "$work/out"
  "$server" serve --listen 127.0.0.1:0 --data "$work/data" >"$work/out" 2>>"$work/server.log" &
  pid=$!
  for _ in $(seq 100); do grep -q '^listening' "$work/out" 2>/dev/null && break; sleep 0.1; done
  port=$(awk '/^listening/ {print $2}' "$work/out")
  base="http://127.0.0.1:$port"
}
stop_server() { kill "$pid"; wait "$pid" 2>/dev/null || true; pid=""; }
start_server
login() { curl -sf "$base/api/v1/tollan/auth/login" -d "{\"email\":\"$1\",\"password\":\"bench-pw\"}" |
  sed -n 's/.*"token":"\([0-9a-f]*\)".*/\1/p'; }
token=$(login bench@example.org)
auth="Authorization: Bearer $token"
# What the desktop client sends with every API request; Qt 6.4 (Debian) adds the
# last four itself, and decodes any of these encodings.
client_headers=(-H "Content-Type: application/json" -H "Accept: application/json"
  -H "Connection: Keep-Alive" -H "Accept-Encoding: zstd, br, gzip, deflate" -H "Accept-Language: en,*"
  -H "User-Agent: Mozilla/5.0")
json() { sed -n "s/.*\"$1\":\"\{0,1\}\([^\",}]*\).*/\1/p"; }

# A history of 50 finished jobs to list and poll.
printf '# Bench\n\nA short document for the history.\n' >"$work/seed.md"
upload() { curl -sf "$base/api/v2/uploadfilepdf" -H "$auth" -F "file=@$1;type=application/pdf"; }
convert() { # upload-json typ
  local md5 path typ
  md5=$(echo "$1" | json source_file_md5); path=$(echo "$1" | json source_file_path); typ=$(echo "$1" | json source_file_typ)
  curl -sf "$base/api/v1/tollan/convert" -H "$auth" -H 'Content-Type: application/json' \
    -d "{\"source_file_md5\":\"$md5\",\"typ\":\"$2\",\"source_file_path\":\"$path\",\"source_file_typ\":\"$typ\",\"page_number\":0,\"status\":0,\"file_name\":\"seed\"}" | json id
}
wait_job() { until [ "$(curl -sf "$base/api/v1/tollan/convert/$1" -H "$auth" | json status)" != 0 ]; do sleep 0.2; done; }
first=$(convert "$(upload "$work/seed.md")" MD2PDF); wait_job "$first"
curl -sf -o "$work/seed.pdf" "$base/api/v2/docx?md5_id=$first" -H "$auth" -H 'cid: 1'
seed=$(upload "$work/seed.pdf")
for _ in $(seq 49); do last=$(convert "$seed" PDF2MD); done
wait_job "$last"

# On a small machine the 64 busy server threads would starve wrk itself and its
# own scheduling delays would be reported as latency; as root it runs at a
# higher priority so the figures are the service's.
wrk=(wrk -t1)
[ "$(id -u)" -eq 0 ] && wrk=(nice -n -10 wrk -t1)
# One client asking for its history: the account's first answer on a running
# service, the same answer again (median of 5), and the answer after one of the
# account's own jobs finished; with the client's headers (compressed) and without.
fetch_time() { # auth [headers...]; prints seconds and bytes received (at most 60 s)
  local a=$1
  shift
  curl -s -m 60 -o /dev/null -w '%{time_total} %{size_download}\n' -H "$a" "$@" "$base/api/v1/tollan/convert/all" || true
}
median() { sort -n | awk '{ v[NR] = $0 } END { print v[int((NR + 1) / 2)] }'; }
plain_headers=(-H "Content-Type: application/json" -H "Accept: application/json")
one_job() { # auth upload-json
  local id
  id=$(convert_as "$1" "$2" PDF2MD)
  until [ "$(curl -sf "$base/api/v1/tollan/convert/$id" -H "$1" | json status)" != 0 ]; do sleep 0.05; done
}
convert_as() { # auth upload-json typ
  curl -sf "$base/api/v1/tollan/convert" -H "$1" -H 'Content-Type: application/json' \
    -d "{\"source_file_md5\":\"$(echo "$2" | json source_file_md5)\",\"typ\":\"$3\",\"source_file_path\":\"$(echo "$2" | json source_file_path)\",\"file_name\":\"one\"}" | json id
}
echo "== one history answer, curl: seconds and bytes (target < 0.5 s at 100 000 jobs) =="
printf '%7s | %-18s | %-18s | %-18s | %-18s | %-18s\n' jobs "first of account" "again (client)" "again (plain)" \
  "after job (client)" "after job (plain)"
for n in "${sizes[@]}"; do
  a="Authorization: Bearer $(login "h$n@example.org")"
  own=$(curl -sf "$base/api/v2/uploadfilepdf" -H "$a" -F "file=@$work/seed.pdf;type=application/pdf")
  first=$(fetch_time "$a" "${client_headers[@]}")
  again_c=$(for _ in 1 2 3 4 5; do fetch_time "$a" "${client_headers[@]}"; done | median)
  again_p=$(for _ in 1 2 3 4 5; do fetch_time "$a" "${plain_headers[@]}"; done | median)
  one_job "$a" "$own"
  after_c=$(fetch_time "$a" "${client_headers[@]}")
  one_job "$a" "$own"
  after_p=$(fetch_time "$a" "${plain_headers[@]}")
  printf '%7s |' "$n"
  for f in "$first" "$again_c" "$again_p" "$after_c" "$after_p"; do
    set -- $f
    printf ' %6.3f s %8s B |' "$1" "$2"
  done
  echo
done

# The first answer after the service started: nothing of the account is in
# memory. Printed with the CPU time the service spent on it, which a busy
# machine does not inflate the way it inflates the wall time.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
cold_answer() { # email [headers...]; prints seconds, bytes, service CPU seconds
  local email=$1 a before
  shift
  stop_server
  start_server
  a="Authorization: Bearer $(login "$email")"
  before=$(cpu_ticks)
  set -- $(fetch_time "$a" "$@")
  awk -v t="$1" -v b="$2" -v c="$(( $(cpu_ticks) - before ))" -v hz="$(getconf CLK_TCK)" \
    'BEGIN { printf " %6.3f s %8s B %5.2f s CPU |", t, b, c / hz }'
}
echo "== the first history answer after a restart, curl (target < 0.5 s at 100 000 jobs) =="
printf '%7s | %-33s | %-33s\n' jobs "client's headers (gzip)" "no Accept-Encoding"
for n in "${sizes[@]}"; do
  printf '%7s |' "$n"
  cold_answer "h$n@example.org" "${client_headers[@]}"
  cold_answer "h$n@example.org" "${plain_headers[@]}"
  echo
done
token=$(login bench@example.org)
auth="Authorization: Bearer $token"

run_wrk() { # label auth path [headers...]
  local label=$1 a=$2 path=$3
  shift 3
  printf -- '-- %s\n' "$label"
  "${wrk[@]}" -c64 -d"${seconds}s" --latency -H "$a" "$@" "$base$path" |
    sed -n '/Latency  /p;/99%/p;/Requests\/sec/p;/Transfer\/sec/p;/Non-2xx/p;/Socket errors/p'
}
echo "== history and status, 64 connections, ${seconds}s each (${wrk[*]}) =="
run_wrk "history, 50 jobs, no Accept-Encoding" "$auth" /api/v1/tollan/convert/all
run_wrk "history, 50 jobs, the client's headers" "$auth" /api/v1/tollan/convert/all "${client_headers[@]}"
run_wrk "status of one job" "$auth" "/api/v1/tollan/convert/$last" "${client_headers[@]}"
for n in "${sizes[@]}"; do
  [ "$n" -gt 10000 ] && continue # 64 answers of 30 MB at once measure the loopback, not the service
  a="Authorization: Bearer $(login "h$n@example.org")"
  run_wrk "history, $n jobs, no Accept-Encoding" "$a" /api/v1/tollan/convert/all
  run_wrk "history, $n jobs, the client's headers" "$a" /api/v1/tollan/convert/all "${client_headers[@]}"
done

[ "$only" = history ] && exit 0

echo "== a well-behaved client beside 200 slow connections, ${seconds}s =="
"$bench" slow 127.0.0.1 "$port" 200 "$seconds" || echo "(some answers were slow or missing)"

echo "== 96 concurrent failed logins =="
"$bench" logins 127.0.0.1 "$port" "$pid" 96 || echo "(over the memory target, or unexpected answers)"

echo "== 50 concurrent 20 MiB uploads =="
"$bench" uploads 127.0.0.1 "$port" "$token" "$pid" 50 20 || echo "(some uploads failed)"

echo "== DOCX to PDF latency =="
cat >"$work/letter.html" <<'HTML'
<html><body><h1>Quarterly letter</h1><p>Dear reader, this letter reports on the orchard survey.</p>
<ul><li>first finding</li><li>second finding</li></ul><p>Kind regards.</p></body></html>
HTML
soffice "-env:UserInstallation=file://$work/lo-make" --headless "--infilter=HTML (StarWriter)" \
  --convert-to "docx:MS Word 2007 XML" --outdir "$work" "$work/letter.html" >/dev/null 2>&1
for i in 1 2 3; do
  start=$(date +%s.%N)
  soffice "-env:UserInstallation=file://$work/lo-cold-$i" --headless --convert-to pdf --outdir "$work/cold-$i" \
    "$work/letter.docx" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v i="$i" -v a="$start" -v b="$end" 'BEGIN { printf "cold soffice --convert-to pdf run %d: %.2f s (fresh profile)\n", i, b - a }'
done
"$bench" latency 127.0.0.1 "$port" "$token" "$work/letter.docx" DOCX2PDF 5 || echo "(a DOCX2PDF job failed)"
echo "server log lines: $(wc -l <"$work/server.log"), access log: $(cat "$work"/data/access.log* | wc -l) lines in $(du -cb "$work"/data/access.log* | tail -n1 | cut -f1) bytes (rotated at 32 MiB)"
