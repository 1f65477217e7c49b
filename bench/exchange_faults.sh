#!/usr/bin/env bash
# The built program against a relay that misbehaves one way, by hand (not in
# CI), with what it costs the process. Two runs:
#
#   bench/exchange_faults.sh hold [MINUTES] [EXE [RUNNER...]]
#     The relay holds every request (RELAY_BEHAVIOUR, default hold20: 20 s,
#     then it closes the connection), one task fires every 5 s, for MINUTES
#     (default 5). Checks that the program is alive at the end and that every
#     firing has its history line; reports threads, descriptors and resident
#     memory after the first minute and at the end (each sampled 2 s after a
#     firing, so the same number of tries is under way).
#
#   bench/exchange_faults.sh endless [RUNS] [EXE [RUNNER...]]
#     The relay answers the test message, then sends an endless reply body as
#     fast as it goes (RELAY_TLS=trusted: over TLS; RELAY_BEHAVIOUR=headers:
#     endless header lines instead). Per run: seconds from the
#     firing to its verdict, and the growth of the process's peak resident
#     memory (VmHWM) over the peak of the idle program before the firing.
#
# EXE defaults to build/default/app/reminder_local_relay; for the Windows
# build pass build/windows/app/reminder_local_relay.exe scripts/wine-run.sh
# (the prefix must trust the test authority for RELAY_TLS=trusted: run the
# windows build's web/trust_test_root.exe once).
set -euo pipefail
mode=${1:?hold or endless}
count=${2:-}
top=$(cd "$(dirname "$0")/.." && pwd)
exe=${3:-$top/build/default/app/reminder_local_relay}
runner=("${@:4}")
# The runner is started from the program's folder.
[[ ${#runner[@]} -gt 0 && -e "${runner[0]}" ]] && runner[0]=$(realpath "${runner[0]}")
encoding=UTF-8
[[ "$exe" == *.exe ]] && encoding=GBK
scheme=http
[[ -n "${RELAY_TLS:-}" ]] && scheme=https
work=$(mktemp -d)
pid=
trap '[[ -n "$pid" ]] && kill "$pid" 2> /dev/null || true; touch "$work"/*/stop 2> /dev/null; sleep 0.3; rm -rf "$work"' EXIT

waitFor() {  # waitFor SECONDS COMMAND...
  local end=$((SECONDS + $1))
  while ((SECONDS < end)); do "${@:2}" && return 0; sleep 0.1; done
  return 1
}
text() { iconv -f "$encoding" -t UTF-8 < "$dir/out" 2>/dev/null | tr -d '\r'; }
outHas() { grep -qF -- "$1" <<< "$(text)"; }
status() { awk -v k="$1:" '$1 == k {print $2}' "/proc/$pid/status"; }
fds() { ls "/proc/$pid/fd" 2>/dev/null | wc -l; }

# start NAME SCHEDULE BEHAVIOUR...: relay and program in $work/NAME; the
# program reads its input from $dir/in (a FIFO kept open). Sets dir and pid.
start() {
  dir=$work/$1
  mkdir -p "$dir/prog"
  RELAY_MINUTES=60 node "$top/app/test/script_relay.js" "$dir" "${@:3}" 2> "$dir/relay.err" &
  waitFor 10 test -s "$dir/port"
  local name
  name=$(basename "$exe")
  cp "$exe" "$dir/prog/"
  printf 'SCT1bench' > "$dir/prog/weskey.txt"
  printf '%b' "$2" > "$dir/prog/time.txt"
  mkfifo "$dir/in"
  (cd "$dir/prog" && REMINDER_TEST_RELAY="$scheme://127.0.0.1:$(cat "$dir/port")/" \
    LC_ALL=C.UTF-8 "${runner[@]}" "$dir/prog/$name" < "$dir/in" > "$dir/out" 2>&1) &
  program=$!
  exec 9> "$dir/in"
  waitFor 120 outHas "下面开始测试发送一次"
  # The program's own process, under Wine too (a path with / or \).
  pid=$(pgrep -n -f "$(basename "$work").$1.prog.$name")
}
finish() {  # "q", then the program's end
  printf 'q\n' >&9
  sleep 1
  printf '\n' >&9
  exec 9>&-
  wait "$program" || true
  touch "$dir/stop"
}

hold() {
  local minutes=${count:-5}
  start hold '*/5 * * * * * * 五秒\r\n' "${RELAY_BEHAVIOUR:-hold20}"
  local begin=$SECONDS
  sampleAt() {  # sampleAt SECONDS-SINCE-START: threads fds rss, 2 s after a firing
    while ((SECONDS - begin < $1)) || (($(date +%s) % 5 != 2)); do sleep 0.2; done
    echo "$(status Threads) $(fds) $(status VmRSS)"
  }
  read -r t1 f1 r1 <<< "$(sampleAt 60)"
  read -r t2 f2 r2 <<< "$(sampleAt $((minutes * 60 - 5)))"
  local alive=no
  kill -0 "$pid" 2> /dev/null && alive=yes
  finish
  local log=$dir/prog/reminder.log
  python3 - "$log" "$alive" "$t1 $f1 $r1" "$t2 $f2 $r2" "$minutes" <<'PY'
import sys, datetime
log, alive, first, last, minutes = sys.argv[1:]
rows = [l.rstrip('\n').split('\t') for l in open(log, encoding='utf-8-sig')]
times = sorted(datetime.datetime.strptime(r[0], '%Y-%m-%d %H:%M:%S') for r in rows if r[1] == '五秒')
want = int((times[-1] - times[0]).total_seconds()) // 5 + 1 if times else 0
verdicts = {}
for r in rows:
    if r[1] == '五秒':
        verdicts[r[2] + ' ' + r[5]] = verdicts.get(r[2] + ' ' + r[5], 0) + 1
(t1, f1, r1), (t2, f2, r2) = (map(int, first.split()), map(int, last.split()))
def change(a, b):
    return f'{a} -> {b} ({100.0 * (b - a) / a:+.1f} %)'
print(f'hold: {minutes} min, one task every 5 s; alive at the end: {alive}')
print(f'firings with a line: {len(times)} of {want}' + ('' if len(times) == want and len(set(times)) == want else '  MISMATCH'))
print('verdicts: ' + ', '.join(f'{k}: {v}' for k, v in sorted(verdicts.items())))
print(f'threads {change(t1, t2)}; descriptors {change(f1, f2)}; resident KiB {change(r1, r2)}')
PY
}

endless() {
  local runs=${count:-5} i
  for ((i = 1; i <= runs; i++)); do
    start "endless$i" '0 0 0 1 1 * 30000 never\r\n' ok "${RELAY_BEHAVIOUR:-endless}"
    waitFor 60 outHas "测试完成"
    sleep 2
    local idle fire at verdict
    idle=$(status VmHWM)
    at=$(($(date +%s) + 3))
    printf '%s * %s 无尽\r\n' "$(date -d "@$at" '+%-S %-M %-H %-d %-m')" "$(date -d "@$at" +%Y)" \
      > "$dir/prog/time.txt"
    # The first verdict on the console (a retry announced, or the last word).
    waitFor 60 bash -c "[[ \$(iconv -f $encoding -t UTF-8 '$dir/out' 2>/dev/null | grep -cE '推送|次重试') -ge 2 ]]" || true
    verdict=$(date +%s%N)
    local peak
    peak=$(status VmHWM)
    finish
    fire=$(awk -F'\t' 'NR == 2 {print $1; exit}' "$dir/requests")
    echo "run $i: verdict $(awk -v ms=$((verdict / 1000000 - fire)) 'BEGIN {printf "%.1f", ms / 1000}') s after the request;" \
      "peak resident $((idle / 1024)) -> $((peak / 1024)) MiB (+$(((peak - idle) / 1024)) MiB);" \
      "$(text | grep -E -A1 '推送|次重试' | grep -v -- '^--' | tail -n 1 | cut -c21-100)"
  done
}

"$mode"
