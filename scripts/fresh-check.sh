#!/usr/bin/env bash
# By hand, not in CI: what a new user meets. Clones this repository (its
# committed state) into a temporary folder, runs scripts/run.sh there with a
# scripted console and checks: the banner comes, the key prompt names the key
# file, a key typed there is saved, and the key road follows. The program is
# built for a closed local relay port, so no message leaves the machine.
# Prints how long it took from the clone to the banner.
#   scripts/fresh-check.sh
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clone="$work/reminder"
key=SCT1freshcheck

micros() { echo "${EPOCHREALTIME/./}"; }
start=$(micros)
git clone -q "$repo" "$clone" || exit 1
# The key at the prompt, then "q" and the Enter that ends the program.
printf '%s\nq\n\n' "$key" |
  (cd "$clone" && timeout 3600 scripts/run.sh -DREMINDER_PUSH_BASE_URL=http://127.0.0.1:9/ 2>&1) |
  while IFS= read -r line; do
    if [[ ! -e "$work/banner" && "$line" == *"欢迎使用铃兰小闹钟"* ]]; then
      echo $((($(micros) - start) / 1000)) > "$work/banner"
    fi
    printf '%s\n' "$line" >> "$work/out"
  done
code=${PIPESTATUS[1]}
total=$((($(micros) - start) / 1000))
out=$(tr -d '\r' < "$work/out")
dir="$clone/build/release/app"

failures=0
check() {  # check DESCRIPTION: the last command's status
  if [[ $? -eq 0 ]]; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
has() { grep -qF -- "$1" <<< "$out"; }

[[ $code -eq 0 ]]; check "run.sh ends with exit code 0 (was $code)"
[[ -e "$work/banner" ]]; check "the banner comes"
has "key 文件: $dir/weskey.txt"; check "the key prompt names the key file"
[[ "$(cat "$dir/weskey.txt" 2>/dev/null)" == "$key" ]]; check "the typed key is saved"
has "key 已保存"; check "the key is confirmed"
has "任务已添加"; check "the key road follows: schedule installed"
has "测试完成"; check "the key road follows: test delivery"
has "再按一次回车退出"; check "the quit hint"
! has "$key"; check "the key is never shown"

if [[ -e "$work/banner" ]]; then
  echo "fresh-check: clone to banner $(($(cat "$work/banner") / 1000)) s; run.sh in all $((total / 1000)) s"
fi
if ((failures)); then
  echo "--- output ---"
  echo "$out"
  exit 1
fi
