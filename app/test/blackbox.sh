#!/usr/bin/env bash
# Black-box run of the built program from a folder of its own, with scripted
# input: the key-missing road, a key typed at the prompt, the key road with an
# unreachable relay, "p" keeping it running, "q" and two Enters ending it,
# schedule files, time.txt edited while the program runs, the delivery
# history, and the command line (--check, --test, --help, --version).
#   blackbox.sh EXE [RUNNER...]   (RUNNER: e.g. scripts/wine-run.sh for reminder.exe)
# Output is read as UTF-8 unless the program is a Windows one, whose
# redirected output is its own text, GB18030 (code page 936 and beyond).
set -uo pipefail
exe=$1
shift
runner=("$@")
encoding=UTF-8
[[ "$exe" == *.exe ]] && encoding=GB18030
# The program's output as UTF-8, GB18030 read as the web reads it (0x80 is
# the euro sign, as in code page 936; iconv refuses it).
toUtf8() {
  if [[ $encoding == UTF-8 ]]; then
    cat
  else
    node -e 'const c = []; process.stdin.on("data", (d) => c.push(d)).on("end", () =>
      process.stdout.write(new TextDecoder("gb18030").decode(Buffer.concat(c))));'
  fi
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passed=0

# run NAME INPUT [ARGS...]: runs the program in $work/NAME (from the folder
# $work/NAME-cwd) with the arguments, leaves its text in $out.
run() {
  local dir="$work/$1" cwd="$work/$1-cwd" input=$2
  shift 2
  mkdir -p "$dir" "$cwd"
  cp "$exe" "$dir/"
  [[ -n "${key-}" ]] && printf '%s' "$key" > "$dir/weskey.txt"
  if [[ -n "${schedule-}" && -n "${utf16-}" ]]; then
    { printf '\xFF\xFE'; printf '%b' "$schedule" | iconv -f UTF-8 -t UTF-16LE; } > "$dir/time.txt"
  elif [[ -n "${schedule-}" ]]; then
    printf '%b' "$schedule" > "$dir/time.txt"
  fi
  if [[ -n "${PLANTED_NOTEPAD-}" ]]; then
    cp "$PLANTED_NOTEPAD" "$dir/notepad.exe"
    cp "$PLANTED_NOTEPAD" "$cwd/notepad.exe"
  fi
  [[ -n "${cwdFile-}" ]] && printf '%b' "$cwdFile" > "$cwd/mine.txt"
  (cd "$cwd" && printf '%b' "$input" | LC_ALL=C.UTF-8 timeout 60 "${runner[@]}" \
    "$dir/$(basename "$exe")" "$@" > "$dir/out" 2>&1)
  code=$?
  out=$(toUtf8 < "$dir/out" | tr -d '\r')
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

# textOf FILE: what a running program wrote so far, as UTF-8 without CR.
textOf() { toUtf8 < "$1" 2>/dev/null | tr -d '\r'; }
waitIn() {  # waitIn FILE TEXT SECONDS: until the program's output holds TEXT
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    grep -qF -- "$2" <<< "$(textOf "$1")" && return 0
    sleep 0.1
  done
  return 1
}

key="" schedule=""
run no-key '\n'
[[ $code -eq 1 ]]; expect "no key: a bare Enter without a key fails (exit $code)"
has "欢迎使用铃兰小闹钟"; expect "no key: banner"
has "    输入 q 回车 退出"; expect "no key: tutorial names q"
has "请输入Server酱微信key"; expect "no key: prompt"
prompt=$(grep -A2 -F "请输入Server酱微信key" <<< "$out")
[[ "$(sed -n 2p <<< "$prompt")" == "key 文件: "*no-key[/\\]weskey.txt ]]; expect "no key: the key file's path"
[[ "$(sed -n 3p <<< "$prompt")" == *"也可以直接在这里粘贴 key 回车" ]]; expect "no key: what to do"
[[ "$(tail -n 1 <<< "$out")" == "没有 key: "*no-key[/\\]"weskey.txt 为空或不存在" ]]; expect "no key: still none, said"
! has "任务已添加"; expect "no key: no schedule installed"
[[ -e "$dirOf/weskey.txt" ]]; expect "no key: key file made for the editor"
if [[ -n "${PLANTED_NOTEPAD-}" ]]; then
  sleep 1  # the editor is not waited for
  [[ ! -e "$dirOf/planted-notepad-ran" ]]; expect "no key: a planted notepad.exe never runs"
fi

key="" schedule='0 0 0 1 1 * 30000 never\r\n'
run typed-key ' SCT1typed \nq\n\n'
[[ $code -eq 0 ]]; expect "typed key: exit code 0 (was $code)"
[[ "$(od -An -c "$dirOf/weskey.txt" | tr -d ' \n')" == SCT1typed ]]; expect "typed key: saved alone"
if [[ "$exe" != *.exe ]]; then
  [[ "$(stat -c %a "$dirOf/weskey.txt")" == 600 ]]; expect "typed key: readable by its owner alone"
fi
has "key 已保存"; expect "typed key: confirmed"
has "任务已添加: 0 0 0 1 1 * 30000 never"; expect "typed key: key road taken"
has "测试完成"; expect "typed key: test delivery"
! has "SCT1typed"; expect "typed key: key never shown"

key=$'SCT1blackbox\n' schedule='0 0 0 1 1 * 30000 never\r\n'
run key-road 'p\nq\n\n'
[[ $code -eq 0 ]]; expect "key road: exit code 0 (was $code)"
has "任务已添加: 0 0 0 1 1 * 30000 never"; expect "key road: task confirmed"
has "下次提醒: 30000-01-01 00:00:00"; expect "key road: next reminder"
has "下面开始测试发送一次"; expect "key road: test delivery"
has "  推送失败"; expect "key road: delivery failed"
has " 未收到回复: 无法连接"; expect "key road: reason"
has "测试完成"; expect "key road: test done"
! has "SCT1blackbox"; expect "key road: key never shown"
[[ "$(tail -n 1 <<< "$out")" == "已停止发送提醒，再按一次回车退出" ]]; expect "key road: quit hint last"

key='SCT1blackbox' schedule='0 0 0 1 1 * 30000 a\r\n0 0 0 1 2 * 30000 b\r\n'
run two-lines 'q\n\n'
[[ $code -eq 0 ]]; expect "two lines: exit code 0 (was $code)"
has "任务已添加: 0 0 0 1 1 * 30000 a"; expect "two lines: first"
has "任务已添加: 0 0 0 1 2 * 30000 b"; expect "two lines: second"

# time.txt edited while the program runs: the change is announced and the new
# task fires; its delivery goes to reminder.log (UTF-8), without the key.
live=$work/live
mkdir -p "$live"
cp "$exe" "$live/"
printf 'SCT1blackbox' > "$live/weskey.txt"
printf '0 0 0 1 1 * 30000 never\r\n' > "$live/time.txt"
: > "$live/out"
(
  waitIn "$live/out" "测试完成" 60
  printf '# 每秒一次\r\n0 0 0 1 1 * 30000 never\r\n* * * * * * * 新任务\r\n' > "$live/time.txt"
  waitIn "$live/out" "推送失败 [新任务]" 30
  printf 'q\n\n'
) | (cd "$live" && LC_ALL=C.UTF-8 timeout 120 "${runner[@]}" "$live/$(basename "$exe")" \
       > "$live/out" 2>&1)
code=$?
out=$(textOf "$live/out")
[[ $code -eq 0 ]]; expect "live edit: exit code 0 (was $code)"
has "任务已更新: +1 -0"; expect "live edit: the change announced"
has "任务已添加: * * * * * * * 新任务"; expect "live edit: the new line confirmed"
has "  推送失败 [新任务]"; expect "live edit: the new task fired"
grep -qF "	新任务	推送失败	1	-	未收到回复: 无法连接" "$live/reminder.log"
expect "live edit: the history line"
! grep -qF "SCT1blackbox" "$live/reminder.log"; expect "live edit: no key in the history"

# The command line: nothing but the asked-for answer, and exit codes.
key="" schedule='0 0 9 * * * * 早\r\n'
run check-beside ''  --check
[[ $code -eq 0 ]]; expect "--check: exit code 0 (was $code)"
has "OK   0 0 9 * * * * 早"; expect "--check: the line is OK"
[[ $(grep -cE '^     [0-9]{4}-[0-9]{2}-[0-9]{2} 09:00:00  ' <<< "$out") -eq 1 ]]; expect "--check: firing times"
! has "欢迎使用铃兰小闹钟"; expect "--check: no banner"
if [[ "$exe" != *.exe ]]; then
  ! grep -q $'\r' "$dirOf/out"; expect "--check: plain LF line ends on Linux"
fi

# Every character a user writes, in UTF-8 and in UTF-16LE: --check shows
# them as written.
key="" schedule='0 0 12 * * * * 午饭😀 该吃饭了 🍚 & + % = # end\r\n0 0 13 * * * * 한국어 Jörg € ß ñ ™ ½\r\n'
for utf16 in "" 1; do
  run "check-every-character${utf16:+-utf16}" '' --check
  what="--check${utf16:+ (UTF-16LE)}"
  [[ $code -eq 0 ]]; expect "$what: every character, exit code 0 (was $code)"
  has "OK   0 0 12 * * * * 午饭😀" && has "     消息: 该吃饭了 🍚 & + % = # end"
  expect "$what: emoji in the name and the message"
  has "OK   0 0 13 * * * * 한국어" && has "     消息: Jörg € ß ñ ™ ½"; expect "$what: Korean, Latin, signs"
done
utf16=""

cwdFile='0 0 9 * * * * ok\n0 0 24 * * * * late\n' schedule=""
run check-file '' --check mine.txt
[[ $code -eq 1 ]]; expect "--check FILE: exit code 1 (was $code)"
has "OK   0 0 9 * * * * ok"; expect "--check FILE: good line"
has '第 3 项(时) "24": 24 超出范围 0-23'; expect "--check FILE: the reason"
cwdFile='0 0 12 31 2 * * x\n'
run check-never '' --check mine.txt
[[ $code -eq 1 ]]; expect "--check: a line that never fires is an error (exit $code)"
has "以后不会再触发"; expect "--check: never fires, said"
cwdFile=""
run check-missing '' --check no-such-file.txt
[[ $code -eq 1 ]]; expect "--check FILE: a missing FILE is an error (exit $code)"
has "无法读取这个文件"; expect "--check FILE: a missing FILE, said"
! has "默认计划"; expect "--check FILE: a missing FILE is not the default"

run help '' --help
[[ $code -eq 0 ]]; expect "--help: exit code 0 (was $code)"
has "--check [文件]"; expect "--help: the options"
[[ ! -e "$dirOf/weskey.txt" ]]; expect "--help: nothing else happens"

# --test: one try at the closed relay port, the verdict in the exit code.
key='SCT1blackbox' schedule='0 0 9 * * * * 午饭 吃饭了 & 休息\r\n'
run test-key '' --test
[[ $code -eq 1 ]]; expect "--test: exit code 1 at a closed relay (was $code)"
has "推送失败" && has "未收到回复: 无法连接"; expect "--test: the two verdict lines"
! has "欢迎使用铃兰小闹钟" && ! has "任务已添加"; expect "--test: no banner, no schedule"
grep -qF "推送失败" "$dirOf/reminder.log"; expect "--test: the history line"
run check-message '' --check
has "     消息: 吃饭了 & 休息"; expect "--check: the line's message"
key="" schedule=""
run test-no-key '' --test
[[ $code -eq 1 ]]; expect "--test without a key: exit code 1 (was $code)"
[[ ! -e "$dirOf/reminder.log" ]]; expect "--test without a key: nothing sent"

run version '' --version
[[ $code -eq 0 ]]; expect "--version: exit code 0 (was $code)"
grep -qE '^铃兰小闹钟 reminder [0-9]+\.[0-9]+\.[0-9]+$' <<< "$out"; expect "--version: the version"

run unknown '' --frobnicate
[[ $code -eq 2 ]]; expect "unknown option: exit code 2 (was $code)"
[[ "$out" == 'reminder: 未知选项 "--frobnicate"，用 --help 查看用法' ]]; expect "unknown option: one line"
# The first run as the prompt tells it: the key written into the file the
# editor shows, then Enter at the prompt.
edit=$work/edit-then-enter
mkdir -p "$edit"
cp "$exe" "$edit/"
printf '0 0 0 1 1 * 30000 never\r\n' > "$edit/time.txt"
: > "$edit/out"
(
  waitIn "$edit/out" "也可以直接在这里粘贴 key 回车" 60
  printf '\xEF\xBB\xBFSCT1edited\r\n' > "$edit/weskey.txt"
  printf '\n'
  waitIn "$edit/out" "测试完成" 60
  printf 'q\n\n'
) | (cd "$edit" && LC_ALL=C.UTF-8 timeout 120 "${runner[@]}" "$edit/$(basename "$exe")" \
       > "$edit/out" 2>&1)
code=$?
out=$(textOf "$edit/out")
[[ $code -eq 0 ]]; expect "key edited at the prompt: exit code 0 (was $code)"
has "已读取 key"; expect "key edited at the prompt: taken"
has "任务已添加: 0 0 0 1 1 * 30000 never" && has "测试完成"; expect "key edited at the prompt: key road"
! has "SCT1edited"; expect "key edited at the prompt: key never shown"

# Headless without a key (a service: input at its end): no prompt, no
# editor, one line naming the key file, and a failure to see.
headless=$work/headless
mkdir -p "$headless"
cp "$exe" "$headless/"
[[ -n "${PLANTED_NOTEPAD-}" ]] && cp "$PLANTED_NOTEPAD" "$headless/notepad.exe"
(cd "$headless" && LC_ALL=C.UTF-8 timeout 60 "${runner[@]}" "$headless/$(basename "$exe")" \
   < /dev/null > "$headless/out" 2>&1)
code=$?
out=$(textOf "$headless/out")
[[ $code -eq 1 ]]; expect "headless without a key: exit code 1 (was $code)"
! has "请输入Server酱微信key" && ! has "key 文件:"; expect "headless without a key: no prompt"
[[ "$(tail -n 1 <<< "$out")" == "没有 key: "*headless[/\\]"weskey.txt 为空或不存在" ]]
expect "headless without a key: one line naming the key file"
[[ ! -e "$headless/weskey.txt" ]]; expect "headless without a key: no file made for an editor"
sleep 0.5
[[ ! -e "$headless/planted-notepad-ran" ]]; expect "headless without a key: no editor"

# --check ends with the week, hour by hour.
key="" schedule=""
run check-week-default '' --check
[[ $code -eq 0 ]]; expect "--check week: exit code 0 (was $code)"
[[ $(grep -cE '^[0-9]{2}-[0-9]{2} 周[^ ]* {17}1   1 1 1 1 1 1   1   1   1 1 1     12$' <<< "$out") -eq 7 ]]
expect "--check week: the default schedule, 12 a day for seven days"
has "每天 12 条提醒" && has "注意: 一天最多 12 条，超过 Server酱 免费 key 每天 5 条的额度"
expect "--check week: the relay's free allowance"
iconv -f UTF-8 -t GBK <<< "$out" | LC_ALL=C awk '{ if (length($0) > 80) bad = 1 } END { exit bad }'
expect "--check week: every line within 80 columns"
schedule='0 0 9 * * 1 * a\r\n0 0 9 * * 1-5 * b\r\n'
run check-week-collision '' --check
has "注意: a 和 b 在同一秒触发" && grep -qE '^      最早 [0-9-]+ 周一 09:00:00，这 7 天共 1 次$' <<< "$out"
expect "--check week: two tasks in one second, on Monday"
has "每天 0 至 2 条提醒"; expect "--check week: the range of a day's reminders"
schedule='* * * * * * * 每秒\r\n'
run check-week-every-second '' --check
[[ $(grep -cE '^[0-9]{2}-[0-9]{2} 周[^ ]* (\+ ){24} 86400$' <<< "$out") -eq 7 ]]
expect "--check week: an every-second task, the mark for more"
has "每天 86400 条提醒"; expect "--check week: 86,400 a day"

# --autostart: on, status (this copy and another), off, each one line.
# autostart NAME ARGS...: the program in $work/NAME, as the user of $home.
autostart() {
  local dir="$work/$1"
  shift
  mkdir -p "$dir"
  cp -n "$exe" "$dir/"
  if [[ ${#runner[@]} -eq 0 ]]; then
    env -u XDG_CONFIG_HOME HOME="$home" PATH="$home/bin" LC_ALL=C.UTF-8 \
      "$dir/$(basename "$exe")" "$@" > "$dir/out" 2>&1
  else
    LC_ALL=C.UTF-8 timeout 120 "${runner[@]}" "$dir/$(basename "$exe")" "$@" > "$dir/out" 2>&1
  fi
  code=$?
  # Wine may say something of its own first: the program's line is the last.
  out=$(textOf "$dir/out" | tail -n 1)
  autostartExe="$dir/$(basename "$exe")"
}
if [[ ${#runner[@]} -eq 0 ]]; then
  # A home of the test's own and a PATH without systemctl: the user's own
  # systemd is never touched.
  home=$work/home
  mkdir -p "$home/bin"
  unit=$home/.config/systemd/user/reminder.service
  autostart autostart-on --autostart on
  [[ $code -eq 1 ]]; expect "--autostart on without systemctl: exit code 1 (was $code)"
  [[ "$out" == "已写入 $unit，但没有找到 systemctl，请运行: systemctl --user daemon-reload && systemctl --user enable --now reminder" ]]
  expect "--autostart on without systemctl: one line saying what to run"
  grep -qxF "ExecStart=$autostartExe" "$unit"; expect "--autostart on: the unit starts this program"
  autostart autostart-on --autostart status
  [[ $code -eq 0 && "$out" == "已设置开机自动运行本程序: $unit" ]]; expect "--autostart status: this copy (exit $code)"
  autostart autostart-other --autostart status
  [[ $code -eq 1 && "$out" == *"启动的是另一个程序 ($work/autostart-on/"* ]]; expect "--autostart status: another copy (exit $code)"
  # A systemctl that logs what it is told.
  printf '#!/bin/sh\necho "$@" >> "%s"\n' "$home/systemctl.log" > "$home/bin/systemctl"
  chmod +x "$home/bin/systemctl"
  autostart autostart-on --autostart on
  [[ $code -eq 0 && "$out" == "已写入并启用 $unit"* ]]; expect "--autostart on: enabled (exit $code)"
  autostart autostart-on --autostart off
  [[ $code -eq 0 && "$out" == "已停止并删除 $unit，登录时不再自动运行" ]]; expect "--autostart off: removed (exit $code)"
  [[ ! -e "$unit" ]]; expect "--autostart off: the unit is gone"
  [[ "$(cat "$home/systemctl.log")" == $'--user daemon-reload\n--user enable --now reminder.service\n--user disable --now reminder.service\n--user daemon-reload' ]]
  expect "--autostart: what systemctl was told"
  autostart autostart-on --autostart status
  [[ $code -eq 1 && "$out" == "没有设置开机自动运行；用 --autostart on 设置" ]]; expect "--autostart status: none (exit $code)"
else
  # The prefix's own Startup folder, as the shortcut's Windows path leads there.
  startup() { find "${WINEPREFIX:-$HOME/.wine-reminder}/drive_c/users" -ipath '*/Startup/*.lnk' 2>/dev/null; }
  before=$(startup)
  autostart autostart-on --autostart on
  [[ $code -eq 0 && "$out" == "已"*"启动文件夹里的快捷方式，登录 Windows 后会自动运行本程序: "*"铃兰小闹钟.lnk" ]]
  expect "--autostart on: the shortcut (exit $code)"
  shortcut=$(comm -13 <(sort <<< "$before") <(startup | sort))
  [[ -n "$shortcut" && -f "$shortcut" ]]; expect "--autostart on: a shortcut in the prefix's Startup folder"
  # The target is kept as a Windows path (UTF-16: its zero bytes dropped).
  tr -d '\000' < "$shortcut" | LC_ALL=C grep -qa "autostart-on.$(basename "$exe")"
  expect "--autostart on: the shortcut points at the program"
  autostart autostart-on --autostart status
  [[ $code -eq 0 && "$out" == "已设置开机自动运行本程序: "* ]]; expect "--autostart status: this copy (exit $code)"
  autostart autostart-other --autostart status
  [[ $code -eq 1 && "$out" == *"启动的是另一个程序 ("*"autostart-on"* ]]; expect "--autostart status: another copy (exit $code)"
  autostart autostart-on --autostart off
  [[ $code -eq 0 && "$out" == "已删除启动文件夹里的快捷方式，登录时不再自动运行: "* ]]; expect "--autostart off: removed (exit $code)"
  [[ -z "$shortcut" || ! -e "$shortcut" ]]; expect "--autostart off: the shortcut is gone"
  autostart autostart-on --autostart status
  [[ $code -eq 1 ]]; expect "--autostart status: none (exit $code)"
fi

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
