#!/usr/bin/env bash
# Batch throughput of waybill-query against tracking-endpoint on loopback, with hyperfine.
#   bench/batch_bench.sh [BUILD_DIR] [ROWS]
# 1. ROWS (default 1000) demo queries with --jobs 1 beside waybill-curl-loop, a bare libcurl
#    loop doing the same GETs on a fresh connection each (goal: at most 1.2 times its time).
# 2. The same rows against "serve --latency-ms 20", --jobs 8 beside --jobs 1 (goal: at least
#    6 times faster).
# Both pairs run in the same hyperfine call, so each ratio is read from one run whatever else
# the machine is doing. Prints both ratios; exits 1 when a goal is missed. The servers get a
# scratch database and are stopped on every path.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build/default}"
rows="${2:-1000}"
command -v hyperfine >/dev/null || { echo "batch_bench: hyperfine is missing (scripts/deps)" >&2; exit 2; }
[[ -f "$build/CMakeCache.txt" ]] || cmake --preset default >/dev/null
cmake --build "$build" --target waybill-query waybill-curl-loop tracking-endpoint >/dev/null
query="$build/app/cli/waybill-query"
loop="$build/app/cli/waybill-curl-loop"
endpoint="$build/endpoint/tracking-endpoint"

scratch=$(mktemp -d)
server_pids=()
cleanup() {
  for pid in "${server_pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$scratch"
}
trap cleanup EXIT

"$endpoint" demo --db "$scratch/demo.db" >/dev/null

# Starts a server with the given extra options; sets $host once it tells its port.
start_server() {
  local out="$scratch/server-${#server_pids[@]}"
  mkfifo "$out"
  "$endpoint" serve --db "$scratch/demo.db" --listen 127.0.0.1:0 "$@" >"$out" &
  server_pids+=($!)
  local first
  exec 3<"$out"
  read -r -t 30 first <&3 || { echo "batch_bench: the server did not start" >&2; exit 1; }
  exec 3<&-
  host="127.0.0.1:${first##*:}"
}

# The demo numbers that every client sends alike (plain letters and digits), repeated to ROWS.
mapfile -t demo < <(tr -d '\r' <samples/waybills.txt | grep -E '^[A-Za-z0-9]+$')
for ((i = 0; i < rows; i++)); do echo "${demo[i % ${#demo[@]}]}"; done >"$scratch/list.txt"

# The mean of each command in a hyperfine CSV export, in the order given.
means() { awk -F, 'NR > 1 {print $2}' "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

start_server
echo "== $rows queries, one at a time: waybill-query --jobs 1 beside a bare libcurl loop"
hyperfine -N --warmup 1 --runs 5 --export-csv "$scratch/plain.csv" \
  -n "waybill-query --jobs 1" "$query --host $host --jobs 1 -q -f csv -o $scratch/out.csv $scratch/list.txt" \
  -n "libcurl loop" "$loop $host $scratch/list.txt"
mapfile -t plain < <(means "$scratch/plain.csv")
plain_ratio=$(ratio "${plain[0]}" "${plain[1]}")

start_server --latency-ms 20 --threads 32
echo "== $rows queries against an endpoint that takes 20 ms per answer: --jobs 8 beside --jobs 1"
hyperfine -N --warmup 1 --runs 3 --export-csv "$scratch/latency.csv" \
  -n "waybill-query --jobs 1" "$query --host $host --jobs 1 -q -f csv -o $scratch/out.csv $scratch/list.txt" \
  -n "waybill-query --jobs 8" "$query --host $host --jobs 8 -q -f csv -o $scratch/out.csv $scratch/list.txt"
mapfile -t latency < <(means "$scratch/latency.csv")
speedup=$(ratio "${latency[0]}" "${latency[1]}")

echo "waybill-query --jobs 1 takes $plain_ratio times the libcurl loop's time (goal: at most 1.2)"
echo "--jobs 8 is $speedup times as fast as --jobs 1 at 20 ms per answer (goal: at least 6)"
awk -v p="$plain_ratio" -v s="$speedup" 'BEGIN {exit !(p <= 1.2 && s >= 6)}'
