#!/usr/bin/env bash
# Installs the Debian packages that are missing, and says which.
#   setup.sh run    what building and running the program needs
#   setup.sh test   that, and what the tests, benchmarks, fuzzing and the
#                   Windows build (cross compiler, Wine) need (the default)
# Idempotent: does nothing (quickly) when all is there. Uses sudo only when
# not already root.
set -euo pipefail

run_packages=(
  cmake make g++ pkg-config
  libcurl4-openssl-dev nlohmann-json3-dev
  # HTTPS needs the certificate authorities, which libcurl only recommends.
  ca-certificates
  # Opens weskey.txt in the desktop's editor.
  xdg-utils
)
test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev openssl libcpp-httplib-dev
  clang clang-format clang-tidy
  # Tests only: node runs the HTTP/2-capable TLS test server (its http2 module is built in).
  nodejs
  # The Windows build: cross compiler, GoogleTest sources, Wine to run it, and
  # the locale sources scripts/wine-run.sh compiles zh_CN.GBK from.
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix googletest wine64 locales
)

purpose=${1:-test}
case "$purpose" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *)
    echo "usage: scripts/setup.sh [run|test]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  echo "setup: the ${#packages[@]} packages for '$purpose' are installed: ${packages[*]}"
  exit 0
fi

echo "setup: installing ${#missing[@]} packages for '$purpose': ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
  if ! command -v sudo >/dev/null; then
    echo "setup: not root and no sudo; as root run: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  sudo=(sudo)
fi
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
