#!/usr/bin/env bash
# Soak run of the built program against a local relay that cycles through
# answering, 503, 429, closing, staying silent and trickling, with tasks
# firing every few seconds and two slower ones whose failures are retried.
# By hand, not in CI:
#   bench/soak.sh [MINUTES] [EXE]    (default 10; build/default/app/reminder_local_relay)
# SOAK_RUNNER runs EXE, e.g. the Windows build under Wine:
#   SOAK_RUNNER=scripts/wine-run.sh bench/soak.sh 30 build/windows/app/reminder_local_relay.exe
# The program is restarted twice (SIGTERM at a sixth of the run, SIGKILL at
# a third). It checks that every firing has exactly one history line (no
# double ever, per task, between its first and last line; a gap only across
# a restart), that the relay saw as many requests as the history counts
# tries, and reports resident memory, threads and CPU of the last run.
set -euo pipefail
minutes=${1:-10}
top=$(cd "$(dirname "$0")/.." && pwd)
exe=${2:-$top/build/default/app/reminder_local_relay}
name=reminder
[[ "$exe" == *.exe ]] && name=reminder.exe
read -ra runner <<< "${SOAK_RUNNER:-}"
[[ ${#runner[@]} -gt 0 && -e "${runner[0]}" ]] && runner[0]=$(realpath "${runner[0]}")
work=$(mktemp -d)
trap 'touch "$work/stop"; sleep 0.3; rm -rf "$work"' EXIT
mkdir -p "$work/prog"
cp "$exe" "$work/prog/$name"
printf 'SCT1soak' > "$work/prog/weskey.txt"
cat > "$work/prog/time.txt" <<'TASKS'
*/3 * * * * * * 三秒
*/5 * * * * * * 五秒
*/7 * * * * * * 七秒
0,30 * * * * * * 半分
15 * * * * * * 每分
TASKS
RELAY_MINUTES=$((minutes + 2)) node "$top/app/test/script_relay.js" "$work" \
  "${SOAK_RELAY:-cycle:ok,503,429,close,silent,trickle}" 2> "$work/relay.err" &
for _ in $(seq 100); do [[ -s "$work/port" ]] && break; sleep 0.1; done
seconds=$((minutes * 60))
finish=$((SECONDS + seconds))
# launch: starts the program, its input a "q" and an Enter at the end of the
# run; sets pid to its own process (under Wine too: a path with / or \).
launch() {
  (sleep "$((finish - SECONDS))"; printf 'q\n'; sleep 1; printf '\n') |
    (cd "$work/prog" && REMINDER_TEST_RELAY="http://127.0.0.1:$(cat "$work/port")/" \
      "${runner[@]}" "$work/prog/$name" >> "$work/out" 2>&1) &
  program=$!
  sleep 5
  pid=$(pgrep -n -f "$(basename "$work").prog.$name")
}
# restart SIGNAL: stops the program as a service manager or a crash does and
# starts it again at once; the seconds in between go in $work/gaps.
restart() {
  local from=$(date +%s)
  kill "-$1" "$pid"
  while kill -0 "$pid" 2> /dev/null; do sleep 0.05; done
  launch  # the old run's input ends on its own
  echo "$from $(date +%s) $1" >> "$work/gaps"
}
ticks=$(getconf CLK_TCK)
sample() {  # resident KiB, threads, CPU seconds
  local rss threads cpu
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
  threads=$(awk '/^Threads:/ {print $2}' "/proc/$pid/status")
  cpu=$(awk -v t="$ticks" '{printf "%.2f", ($14 + $15) / t}' "/proc/$pid/stat")
  echo "$rss $threads $cpu"
}
touch "$work/gaps"
launch
# Two restarts, at a sixth and a third of the run (SIGTERM, then SIGKILL):
# the last two thirds are one run, whose memory must level off.
restarts=("$((SECONDS + seconds / 6 - 5)) TERM" "$((SECONDS + seconds / 3 - 5)) KILL")
sleep 60
read -r rss0 threads0 cpu0 <<< "$(sample)"
peakThreads=$threads0
series="$rss0"
# By the clock, not by counting: the last sample comes before the "q".
end=$((finish - 6))
nextMinute=$((SECONDS + 60))
while ((SECONDS < end)); do
  sleep 5
  if ((${#restarts[@]} > 0)) && ((SECONDS >= ${restarts[0]% *})); then
    restart "${restarts[0]#* }"
    restarts=("${restarts[@]:1}")
    read -r rss0 threads0 cpu0 <<< "$(sample)"  # figures are the last run's
    series="$series | $rss0"
    continue
  fi
  # A program that ended (or whose main thread did) is a crash to report.
  state=$(awk '/^State:/ {print $2}' "/proc/$pid/status" 2> /dev/null || true)
  if [[ -z "$state" || "$state" == Z || "$state" == X ]]; then
    echo "soak: the program is gone after $SECONDS s; its last lines:"
    tail -n 5 "$work/out"
    exit 1
  fi
  t=$(awk '/^Threads:/ {print $2}' "/proc/$pid/status")
  ((t > peakThreads)) && peakThreads=$t
  if ((SECONDS >= nextMinute)); then
    series="$series $(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")"
    nextMinute=$((nextMinute + 60))
  fi
done
read -r rss1 threads1 cpu1 <<< "$(sample)"
wait "$program" || true
log="$work/prog/reminder.log"
lines=$(wc -l < "$log")
requests=$(wc -l < "$work/requests")
# Per task: its scheduled seconds in the log must be exactly the firings
# between its first and last line.
report=$(python3 - "$log" "$work/gaps" "$requests" <<'PY'
import sys, datetime, collections
rows = [l.rstrip('\n').split('\t') for l in open(sys.argv[1], encoding='utf-8-sig')]
# A firing open when SIGKILL came has no line: it may have been waiting for
# a retry (10 s, then 30 s) or a reply (15 s) since up to 85 s before.
gaps = []
for l in open(sys.argv[2]):
    a, b, signal = l.split()
    gaps.append((int(a) - (90 if signal == 'KILL' else 0), int(b)))
requests = int(sys.argv[3])
steps = {'三秒': lambda s: s % 3 == 0, '五秒': lambda s: s % 5 == 0, '七秒': lambda s: s % 7 == 0,
         '半分': lambda s: s in (0, 30), '每分': lambda s: s == 15}
seen = collections.defaultdict(list)
verdicts = collections.Counter()
tries = 0
for r in rows:
    if r[1] in steps:
        seen[r[1]].append(datetime.datetime.strptime(r[0], '%Y-%m-%d %H:%M:%S'))
    verdicts[(r[2], r[3])] += 1
    tries += int(r[3])
def in_gap(t):
    e = t.timestamp()
    return any(a <= e <= b for a, b in gaps)
bad = 0
for task, times in seen.items():
    t, last, want = min(times), max(times), []
    while t <= last:
        if steps[task](t.second): want.append(t)
        t += datetime.timedelta(seconds=1)
    # Around a restart a firing may be missing (it fell between the runs, or
    # was cut off in flight by SIGKILL), never doubled.
    doubled = [t for t, n in collections.Counter(times).items() if n > 1]
    missing = [t for t in want if t not in times and not in_gap(t)]
    extra = [t for t in times if t not in want]
    if doubled or missing or extra:
        bad += 1
        print(f'{task}: {len(times)} lines for {len(want)} firings: doubled {doubled[:3]}, '
              f'missing {missing[:3]}, extra {extra[:3]}')
print('firings accounted for' if bad == 0 else f'{bad} tasks with gaps or doubles')
print('verdicts (verdict, tries): ' + ', '.join(f'{k[0]}×{k[1]}: {v}' for k, v in sorted(verdicts.items())))
# Every try is one request; only tries cut off by SIGKILL have no line.
print(f'tries in the history: {tries}; requests at the relay: {requests}'
      + ('' if tries <= requests <= tries + 16 else ' (MISMATCH)'))
PY
)
echo "soak: $minutes min, 5 tasks, relay cycling ok/503/429/close/silent/trickle"
echo "history lines: $lines; requests at the relay: $requests"
echo "$report"
echo "restarts (the seconds between runs, the signal): $(tr '\n' ',' < "$work/gaps")"
echo "resident memory of the last run: ${rss0} KiB after its start, ${rss1} KiB at the end; each minute (| a restart): $series KiB"
last=(${series##*|})
if ((${#last[@]} > 20)); then
  echo "the last 20 minutes: $((last[-1] - last[-21])) KiB more (${last[-21]} -> ${last[-1]} KiB)"
fi
echo "threads: $threads0 at the last run's start, $threads1 at the end, $peakThreads at most"
echo "crash reports on the console: $(grep -c 'Unhandled' "$work/out" || true)"
echo "CPU of the last run: $(awk -v a="$cpu0" -v b="$cpu1" -v s="$((seconds * 2 / 3))" 'BEGIN {printf "%.2f s over about %d s (%.2f %%)", b - a, s, 100 * (b - a) / s}')"
grep -q "firings accounted for" <<< "$report" && ! grep -q MISMATCH <<< "$report"
