#!/usr/bin/env bash
# Installs every Debian package the build, tests and benchmarks need.
# Idempotent: does nothing (quickly) when all is there.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libcurl4-openssl-dev libssl-dev openssl libcpp-httplib-dev
  clang clang-format
  # Tests only: node runs the HTTP/2-capable TLS test server (its http2 module is built in).
  nodejs
  # The Windows build: cross compiler, GoogleTest sources, Wine to run it.
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix googletest wine64
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
