#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, and the
# ones named as arguments (scripts/coverage.sh asks for lcov,
# scripts/static-analysis.sh for clang-tidy). Idempotent: packages already
# present are left alone, and apt is not touched at all when nothing is
# missing.
set -euo pipefail

packages=(
  cmake
  make
  g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64
  mingw-w64-tools
  wine
  wine64
  libwine-dev
  googletest
  python3
  python3-matplotlib
  openssl
  osslsigncode
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
