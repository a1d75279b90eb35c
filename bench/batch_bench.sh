#!/usr/bin/env bash
# Batch throughput of waybill-query against tracking-endpoint on loopback, with hyperfine.
#   bench/batch_bench.sh [BUILD_DIR] [ROWS]
# 1. ROWS (default 1000) demo queries with --jobs 1 beside waybill-curl-loop, a bare libcurl
#    loop doing the same GETs on a fresh connection each (goal: at most 1.15 times its time),
#    and beside the peer a user would write instead: requests_loop.py, a Python loop over
#    requests.get from Debian's python3-requests (no goal; shown for comparison).
# 2. The same rows against "serve --latency-ms 20": --jobs 8 and --jobs 32 beside --jobs 1
#    (goals: at least 7 and at least 24 times as fast).
# Each group runs in one hyperfine call, so each ratio is read from one run whatever else the
# machine is doing. Prints the ratios and the load; exits 1 when a goal is missed. The servers
# get a scratch database and are stopped on every path.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build/default}"
rows="${2:-1000}"
command -v hyperfine >/dev/null || { echo "batch_bench: hyperfine is missing (scripts/deps)" >&2; exit 2; }
# Debian's interpreter, where python3-requests is installed, whatever else is on the PATH.
python=/usr/bin/python3
"$python" -c "import requests" 2>/dev/null ||
  { echo "batch_bench: python3-requests is missing (scripts/deps)" >&2; exit 2; }
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
echo "== $rows queries, one at a time: waybill-query --jobs 1, a bare libcurl loop, a Python requests loop"
hyperfine -N --warmup 1 --runs 5 --export-csv "$scratch/plain.csv" \
  -n "waybill-query --jobs 1" "$query --host $host --jobs 1 -q -f csv -o $scratch/out.csv $scratch/list.txt" \
  -n "libcurl loop" "$loop $host $scratch/list.txt" \
  -n "python requests loop" "$python bench/requests_loop.py $host $scratch/list.txt"
mapfile -t plain < <(means "$scratch/plain.csv")
plain_ratio=$(ratio "${plain[0]}" "${plain[1]}")
peer_ratio=$(ratio "${plain[2]}" "${plain[0]}")

start_server --latency-ms 20 --threads 32
echo "== $rows queries against an endpoint that takes 20 ms per answer: --jobs 8 and 32 beside --jobs 1"
hyperfine -N --warmup 1 --runs 3 --export-csv "$scratch/latency.csv" \
  -n "waybill-query --jobs 1" "$query --host $host --jobs 1 -q -f csv -o $scratch/out.csv $scratch/list.txt" \
  -n "waybill-query --jobs 8" "$query --host $host --jobs 8 -q -f csv -o $scratch/out.csv $scratch/list.txt" \
  -n "waybill-query --jobs 32" "$query --host $host --jobs 32 -q -f csv -o $scratch/out.csv $scratch/list.txt"
mapfile -t latency < <(means "$scratch/latency.csv")
speedup8=$(ratio "${latency[0]}" "${latency[1]}")
speedup32=$(ratio "${latency[0]}" "${latency[2]}")

echo "waybill-query --jobs 1 takes $plain_ratio times the libcurl loop's time (goal: at most 1.15)"
echo "the Python requests loop takes $peer_ratio times waybill-query --jobs 1's time (no goal)"
echo "--jobs 8 is $speedup8 times as fast as --jobs 1 at 20 ms per answer (goal: at least 7)"
echo "--jobs 32 is $speedup32 times as fast as --jobs 1 at 20 ms per answer (goal: at least 24)"
echo "load:$(uptime | sed 's/.*load average//')"
awk -v p="$plain_ratio" -v s="$speedup8" -v t="$speedup32" \
  'BEGIN {exit !(p <= 1.15 && s >= 7 && t >= 24)}'
