#!/usr/bin/env bash
# Installs what building and running need (nothing for the tests: that is
# scripts/test.sh), builds the program alone, and starts it from its build
# folder, where its two files (weskey.txt, time.txt) live beside it.
#   scripts/run.sh [CMAKE-OPTION...]
# e.g. scripts/run.sh -DREMINDER_PUSH_BASE_URL=http://127.0.0.1:8080/
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh run
cmake --preset release "$@" >/dev/null
cmake --build --preset release --target reminder -j"$(nproc)"

dir=build/release/app
# A sample schedule on first run; the key file is left for the user to write.
[[ -e "$dir/time.txt" ]] || cp app/time.txt.sample "$dir/time.txt"
echo "== $dir/reminder   (key file: $dir/weskey.txt, schedule: $dir/time.txt)"
exec "$dir/reminder"
