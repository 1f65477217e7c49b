#!/usr/bin/env bash
# Black-box run of the built program from a folder of its own, with scripted
# input: the key-missing road, the key road with an unreachable relay, "p"
# keeping it running, "q" and two Enters ending it, and schedule files.
#   blackbox.sh EXE [RUNNER...]   (RUNNER: e.g. scripts/wine-run.sh for reminder.exe)
# Output is read as UTF-8 unless the program is a Windows one, whose
# redirected output is code page 936 bytes.
set -uo pipefail
exe=$1
shift
runner=("$@")
encoding=UTF-8
[[ "$exe" == *.exe ]] && encoding=GBK

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passed=0

# run NAME INPUT: runs the program in $work/NAME (from the folder $work/NAME-cwd),
# leaves its text in $out.
run() {
  local dir="$work/$1" cwd="$work/$1-cwd"
  mkdir -p "$dir" "$cwd"
  cp "$exe" "$dir/"
  [[ -n "${key-}" ]] && printf '%s' "$key" > "$dir/weskey.txt"
  [[ -n "${schedule-}" ]] && printf '%b' "$schedule" > "$dir/time.txt"
  if [[ -n "${PLANTED_NOTEPAD-}" ]]; then
    cp "$PLANTED_NOTEPAD" "$dir/notepad.exe"
    cp "$PLANTED_NOTEPAD" "$cwd/notepad.exe"
  fi
  (cd "$cwd" && printf '%b' "$2" | LC_ALL=C.UTF-8 timeout 60 "${runner[@]}" "$dir/$(basename "$exe")" \
    > "$dir/out" 2>&1)
  code=$?
  out=$(iconv -f "$encoding" -t UTF-8 < "$dir/out" | tr -d '\r')
  dirOf=$dir
}

expect() {  # expect NAME CONDITION-DESCRIPTION: the last command's status
  if [[ $? -eq 0 ]]; then
    passed=$((passed + 1))
  else
    failures=$((failures + 1))
    echo "FAILED: $1"
    echo "--- output ---"
    echo "$out"
    echo "--------------"
  fi
}

has() { grep -qF -- "$1" <<< "$out"; }

key="" schedule=""
run no-key '\n'
[[ $code -eq 0 ]]; expect "no key: exit code 0 (was $code)"
has "欢迎使用铃兰小闹钟"; expect "no key: banner"
has "    输入 q 回车 退出"; expect "no key: tutorial names q"
[[ "$out" == *"请输入Server酱微信key" ]]; expect "no key: ends with the prompt"
[[ -e "$dirOf/weskey.txt" ]]; expect "no key: key file made for the editor"
if [[ -n "${PLANTED_NOTEPAD-}" ]]; then
  sleep 1  # the editor is not waited for
  [[ ! -e "$dirOf/planted-notepad-ran" ]]; expect "no key: a planted notepad.exe never runs"
fi

key=$'SCT1blackbox\n' schedule='0 0 0 1 1 * 30000 never\r\n'
run key-road 'p\nq\n\n'
[[ $code -eq 0 ]]; expect "key road: exit code 0 (was $code)"
has "任务已添加0 0 0 1 1 * 30000 never"; expect "key road: task confirmed"
has "下次提醒: 30000-01-01 00:00:00"; expect "key road: next reminder"
has "下面开始测试发送一次"; expect "key road: test delivery"
has "  推送失败"; expect "key road: delivery failed"
has " 未收到回复: 无法连接"; expect "key road: reason"
has "测试完成"; expect "key road: test done"
! has "SCT1blackbox"; expect "key road: key never shown"

key='SCT1blackbox' schedule='0 0 0 1 1 * 30000 a\r\n0 0 0 1 2 * 30000 b\r\n'
run two-lines 'q\n\n'
[[ $code -eq 0 ]]; expect "two lines: exit code 0 (was $code)"
has "任务已添加0 0 0 1 1 * 30000 a"; expect "two lines: first"
has "任务已添加0 0 0 1 2 * 30000 b"; expect "two lines: second"

# A folder name code page 936 cannot hold: the program still finds its key.
# (Under Wine the Unix side must be able to hold the name: a UTF-8 locale.)
key='SCT1blackbox' schedule='0 0 0 1 1 * 30000 never\r\n'
WINE_LC_ALL=C.UTF-8 run "jörg-한글-😀" 'q\n\n'
[[ $code -eq 0 ]]; expect "non-936 folder: exit code 0 (was $code)"
has "下面开始测试发送一次" && ! has "请输入Server酱微信key"; expect "non-936 folder: key found"

# Stop requests (POSIX signals; the Windows console events are unit-tested):
# the input ends after one line, the program keeps running until a signal.
if [[ ${#runner[@]} -eq 0 ]]; then
  for sig in TERM:0 HUP:0 INT:130; do
    name=${sig%%:*} want=${sig##*:}
    dir="$work/signal-$name"
    mkdir -p "$dir"
    cp "$exe" "$dir/"
    printf 'SCT1blackbox' > "$dir/weskey.txt"
    printf '0 0 0 1 1 * 30000 never\r\n' > "$dir/time.txt"
    # With job control a background program keeps SIGINT; without, the
    # shell has it ignore SIGINT, and the program leaves it ignored.
    set -m
    LC_ALL=C.UTF-8 "$dir/$(basename "$exe")" < <(printf 'p\n') > "$dir/out" 2>&1 &
    pid=$!
    set +m
    for _ in $(seq 100); do grep -q "测试完成" "$dir/out" && break; sleep 0.1; done
    sleep 0.3  # past the line and the end of input
    alive=no
    kill -0 "$pid" 2>/dev/null && alive=yes
    out=$(cat "$dir/out")
    [[ $alive == yes ]]; expect "SIG$name: still running after the end of input"
    kill -"$name" "$pid"
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid"
    code=$?
    [[ $code -eq $want ]]; expect "SIG$name: exit code $want (was $code)"
  done
fi

echo "$passed passed, $failures failed"
[[ $failures -eq 0 ]]
