#!/usr/bin/env bash
# Installs what is missing, builds, and starts the reminder from its build
# folder, where its two files (weskey.txt, time.txt) live beside it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target reminder -j"$(nproc)"

dir=build/default/app
# A sample schedule on first run; the key file is left for the user to write.
[[ -e "$dir/time.txt" ]] || cp app/time.txt.sample "$dir/time.txt"
echo "== $dir/reminder   (key file: $dir/weskey.txt, schedule: $dir/time.txt)"
exec "$dir/reminder"
