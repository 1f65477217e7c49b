#!/usr/bin/env bash
# Runs clang-tidy (the repo's .clang-tidy) over the project's sources, using
# the default build's compile commands without the g++-only flags, and fails
# on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
[[ -f build/default/compile_commands.json ]] || cmake --preset default >/dev/null
mkdir -p build/tidy
sed -e 's/ -fexec-charset=GBK//g' -e 's/ -finput-charset=UTF-8//g' -e 's/ -Wno-restrict//g' \
  build/default/compile_commands.json > build/tidy/compile_commands.json
# One file a process, as many at once as there are cores; the findings are
# collected and printed at the end.
out=build/tidy/findings.txt
git ls-files '*.cpp' | grep -v -E '_win32(_test)?\.cpp$|^fuzz/|^bench/' |
  xargs -P "$(nproc)" -n 1 clang-tidy -p build/tidy --quiet 2>/dev/null > "$out" || true
if grep -E "warning:|error:" "$out"; then
  echo "clang-tidy: $(grep -cE "warning:|error:" "$out") findings" >&2
  exit 1
fi
echo "clang-tidy: no findings"
