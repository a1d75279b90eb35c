#!/usr/bin/env bash
# Load test of tracking-endpoint on loopback: a demo database, one server on a free port,
# wrk with keep-alive connections asking for the demo numbers in turn.
#   bench/endpoint_load.sh [TRACKING_ENDPOINT] [SECONDS] [CONNECTIONS]
# Prints wrk's report and the pages per second; exits 1 below 5000 pages per second.
# The server gets its own latency-free database in a scratch folder and is stopped on every
# path.
set -euo pipefail
cd "$(dirname "$0")/.."

exe="${1:-build/default/endpoint/tracking-endpoint}"
seconds="${2:-10}"
connections="${3:-8}"
[[ -x "$exe" ]] || { echo "endpoint_load: no executable at $exe (build it first)" >&2; exit 2; }
command -v wrk >/dev/null || { echo "endpoint_load: wrk is missing (scripts/deps)" >&2; exit 2; }

scratch=$(mktemp -d)
server_pid=""
cleanup() {
  if [[ -n "$server_pid" ]]; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

"$exe" demo --db "$scratch/demo.db" >/dev/null
mkfifo "$scratch/out"
"$exe" serve --db "$scratch/demo.db" --listen 127.0.0.1:0 --threads 32 >"$scratch/out" &
server_pid=$!
exec 3<"$scratch/out"
read -r -t 30 first <&3 || { echo "endpoint_load: the server did not start" >&2; exit 1; }
port="${first##*:}"

# The demo numbers, escaped as the desktop tool's HTTP layer escapes them.
cat >"$scratch/numbers.lua" <<'LUA'
local numbers = {
  "SF1000000001", "SF1000000002", "SF1000000003", "SF1000000004", "YT2000000001",
  "YT2000000002", "YT2000000003", "%20ZT3000000001%20", "ZT3000000002", "EM123456789CN",
  "EM987654321CN", "%E6%B5%8B%E8%AF%95%E5%8D%95%E5%8F%B7001", "JD4000000001",
  "JD4000000002", "JD4000000003", "JD4000000004", "ST5000000001", "ST5000000002",
  "ST5000000003", "YD6000000001", "YD6000000002", "YD6000000003", "DB7000000001",
  "DB7000000002", "1234567890123", "EMS1005000001", "EMS1005000002", "SF1000000005",
  "SF1000000006", "ZT3000000003", "SF9999999999"
}
local i = 0
request = function()
  i = i % #numbers + 1
  return wrk.format("GET", "/korvanelapi.php?yundanhao=" .. numbers[i] .. "&type=html")
end
LUA

report=$(wrk -t2 -c"$connections" -d"${seconds}s" -s "$scratch/numbers.lua" \
  "http://127.0.0.1:$port/")
echo "$report"
rate=$(awk '/^Requests\/sec:/ {print int($2)}' <<<"$report")
if grep -q "Non-2xx" <<<"$report"; then
  echo "endpoint_load: some answers were not 200" >&2
  exit 1
fi
echo "pages per second: $rate (goal: 5000)"
[[ "$rate" -ge 5000 ]]
