#!/usr/bin/env bash
# Runs clang-tidy (the repo's .clang-tidy) over the project's sources and
# fails on any finding, and on any file clang-tidy could not check.
#   - every source of the Linux build, with the default build's compile
#     commands (tests included);
#   - every *_win32 source, with the Windows build's compile commands, as
#     mingw-w64 compiles them;
#   - production sources (no tests, benchmarks or fuzz targets) also get
#     readability-function-size: no function over 70 lines.
set -euo pipefail
cd "$(dirname "$0")/.."
[[ -f build/default/compile_commands.json ]] || cmake --preset default >/dev/null
[[ -f build/windows/compile_commands.json ]] || cmake --preset windows >/dev/null

# clang knows neither g++'s charset flags nor -Wno-restrict.
strip_gcc_flags() {
  mkdir -p "$2"
  sed -e 's/ -fexec-charset=GBK//g' -e 's/ -finput-charset=UTF-8//g' -e 's/ -Wno-restrict//g' \
    "$1/compile_commands.json" > "$2/compile_commands.json"
}
strip_gcc_flags build/default build/tidy/linux
strip_gcc_flags build/windows build/tidy/windows

# The cross compiler's own C++ headers: clang does not find them in Debian's
# "12-posix" folder by itself.
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
windows_args=(--extra-arg=--target=x86_64-w64-mingw32 --extra-arg=-nostdinc++)
for d in "$gcc_dir/include/c++" "$gcc_dir/include/c++/x86_64-w64-mingw32" \
  "$gcc_dir/include/c++/backward"; do
  windows_args+=("--extra-arg=-isystem$d")
done
size_check=(--checks=readability-function-size)

is_production() { ! grep -qE '_test\.(cpp|c)$|(^|/)test/|^fuzz/|^bench/' <<< "$1"; }

# One line per clang-tidy run: database, extra check or not, file.
jobs=build/tidy/jobs.txt
: > "$jobs"
while read -r f; do
  db=linux
  [[ "$f" =~ _win32(_test)?\.cpp$ ]] && db=windows
  # Fuzz targets build with clang alone (their preset); benchmarks are not
  # production code, and their loop variable is never read by design.
  [[ "$f" =~ ^(fuzz|bench)/ ]] && continue
  size=plain
  is_production "$f" && size=size
  echo "$db $size $f" >> "$jobs"
done < <(git ls-files '*.cpp' '*.c')

# Arrays do not cross into xargs' shells: they go as flat words.
export windows_flat="${windows_args[*]}" size_flat="${size_check[*]}"
run_one() {
  local db=$1 size=$2 f=$3 args=() log
  [[ $db == windows ]] && read -r -a args <<< "$windows_flat"
  [[ $size == size ]] && args+=($size_flat)
  log=$(mktemp)
  if ! clang-tidy -p "build/tidy/$db" --quiet "${args[@]}" "$f" > "$log" 2>&1; then
    # A finding, or clang-tidy could not check the file: either fails.
    grep -qE "warning:|error:" "$log" || echo "$f: clang-tidy failed without a finding"
    cat "$log"
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}
export -f run_one

out=build/tidy/findings.txt
status=0
xargs -P "$(nproc)" -L 1 bash -c 'run_one "$@"' _ < "$jobs" > "$out" || status=$?
if ((status != 0)); then
  grep -E "warning:|error:|failed without a finding" "$out" || cat "$out"
  echo "clang-tidy: $(grep -cE "warning:|error:|failed without a finding" "$out") findings or failures in $(wc -l < "$jobs") files" >&2
  exit 1
fi
echo "clang-tidy: no findings in $(wc -l < "$jobs") files"
