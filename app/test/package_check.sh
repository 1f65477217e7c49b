#!/usr/bin/env bash
# Makes the release zip in a folder of its own and checks what users unpack:
# the texts with a UTF-8 byte-order mark and CR LF line ends only, the
# programs without debug sections.
#   package_check.sh BUILD_DIR CPACK OBJDUMP PROGRAM...
set -uo pipefail
build=$1 cpack=$2 objdump=$3
shift 3
programs=("$@")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAILED: $1"
  failures=$((failures + 1))
}

if ! timeout 120 "$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" > "$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  exit 1
fi
zips=("$work"/out/*.zip)
[[ -f "${zips[0]}" ]] || { echo "FAILED: no zip made"; exit 1; }
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "${zips[0]}") || { echo "FAILED: zip unreadable"; exit 1; }

for text in readme.txt time.txt; do
  file="$work/unpacked/$text"
  if [[ ! -f "$file" ]]; then
    fail "$text is missing"
    continue
  fi
  [[ "$(head -c 3 "$file" | od -An -tx1 | tr -d ' \n')" == efbbbf ]] || fail "$text: no UTF-8 byte-order mark"
  # Every line, the last one included, ends in CR LF.
  cmp -s "$file" <(LC_ALL=C sed -e 's/\r$//' -e 's/$/\r/' "$file") || fail "$text: a line end without CR"
  [[ $(wc -l < "$file") -ge 1 ]] || fail "$text: no line at all"
done

# The read-me is the README's user part in both languages, made plain.
readme="$work/unpacked/readme.txt"
if [[ -f "$readme" ]]; then
  for part in "使用说明" "User guide" "--autostart on" "--check" "scripts/run.sh"; do
    grep -qF -- "$part" "$readme" || fail "readme.txt: no \"$part\""
  done
  ! grep -qE '`|\*\*|<!--' "$readme" || fail "readme.txt: Markdown marks left"
fi

for program in "${programs[@]}"; do
  file="$work/unpacked/$program"
  if [[ ! -f "$file" ]]; then
    fail "$program is missing"
    continue
  fi
  sections=$("$objdump" -h "$file") || { fail "$program: objdump cannot read it"; continue; }
  if grep -q '\.debug_' <<< "$sections"; then
    fail "$program carries debug sections"
  fi
done

echo "release zip: $(cd "$work/unpacked" && ls | tr '\n' ' ')— $failures failures"
[[ $failures -eq 0 ]]
