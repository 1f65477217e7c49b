#!/usr/bin/env bash
# Idle footprint of the running reminder: CPU share and resident memory over
# a window (default 60 s), with a key, the sample time.txt (watched for
# changes twice a second) and a relay that refuses at once (so the test
# delivery does not wait on the network).
#   bench/idle_footprint.sh [build-dir] [seconds]
set -euo pipefail
build=${1:-build/default}
seconds=${2:-60}
exe="$build/app/reminder_closed_relay"
[[ -x "$exe" ]] || { echo "build $exe first (cmake --build --preset default)"; exit 1; }

dir=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$dir"' EXIT
cp "$exe" "$dir/reminder"
echo "SCT0idlefootprint" > "$dir/weskey.txt"
cp "$(dirname "$0")/../app/time.txt.sample" "$dir/time.txt"
# Standard input stays open and silent: the program waits in its console read.
sleep $((seconds + 30)) | "$dir/reminder" > "$dir/out" &
sleep 2
pid=$(pgrep -n -f "$dir/reminder")

ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
start=$(ticks)
sleep "$seconds"
used=$(( $(ticks) - start ))
field() { awk -v k="$1:" '$1 == k {print $2}' "$2"; }
rss=$(field VmRSS "/proc/$pid/status")
hwm=$(field VmHWM "/proc/$pid/status")
anon=$(field RssAnon "/proc/$pid/status")
pss=$(field Pss "/proc/$pid/smaps_rollup")
awk -v u="$used" -v hz="$hz" -v s="$seconds" -v rss="$rss" -v hwm="$hwm" -v anon="$anon" \
    -v pss="$pss" 'BEGIN {
  printf "cpu: %.3f%% of one core over %d s (%d ticks of 1/%d s)\n", 100 * u / hz / s, s, u, hz
  printf "resident: %.1f MiB (peak %.1f MiB), of which private anonymous %.1f MiB;", \
         rss / 1024, hwm / 1024, anon / 1024
  printf " proportional set %.1f MiB\n", pss / 1024 }'
