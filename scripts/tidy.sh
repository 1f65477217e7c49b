#!/usr/bin/env bash
# Runs clang-tidy (the repo's .clang-tidy) over the project's sources, using
# the default build's compile commands without the g++-only flags.
set -euo pipefail
cd "$(dirname "$0")/.."
[[ -f build/default/compile_commands.json ]] || cmake --preset default >/dev/null
mkdir -p build/tidy
sed -e 's/ -fexec-charset=GBK//g' -e 's/ -finput-charset=UTF-8//g' -e 's/ -Wno-restrict//g' \
  build/default/compile_commands.json > build/tidy/compile_commands.json
files=$(git ls-files '*.cpp' | grep -v -E '_win32(_test)?\.cpp$|^fuzz/|^bench/')
clang-tidy -p build/tidy --quiet $files 2>/dev/null | grep -E "warning:|error:" || true
