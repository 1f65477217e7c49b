#!/usr/bin/env bash
# Compiler launcher of the fuzz build. clang reads sources as UTF-8 and has no
# -fexec-charset=GBK, but it passes the bytes of a string literal through as
# they are. So a source that holds non-ASCII text is compiled from a code page
# 936 copy kept beside its object (a "#line" keeps the original's name in
# diagnostics and debug information): the fixed texts are then the same bytes
# as in the shipped build. Headers hold non-ASCII text only in comments.
#   gbk-compile.sh COMPILER ARGS...   (as CMAKE_CXX_COMPILER_LAUNCHER)
set -euo pipefail
args=("$@")
obj="" src="" at=-1
for ((i = 1; i < ${#args[@]} - 1; i++)); do
  case "${args[i]}" in
    -o) obj=${args[i + 1]} ;;
    -c) src=${args[i + 1]} at=$((i + 1)) ;;
  esac
done
if [[ -n "$obj" && -f "$src" ]] && ! iconv -f UTF-8 -t ASCII "$src" >/dev/null 2>&1; then
  copy="$obj.gbk.${src##*.}"
  # -c: what code page 936 cannot hold can only stand in comments here; in a
  # literal it would stop the shipped build already.
  { printf '#line 1 "%s"\n' "$src"; iconv -c -f UTF-8 -t GBK "$src" || true; } > "$copy"
  args[at]=$copy
  args+=(-iquote "$(dirname "$src")" -Wno-invalid-source-encoding)
fi
exec "${args[@]}"
