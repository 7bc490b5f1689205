#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12, only what is missing.
# Needs root (or sudo) and the package mirrors only when something is missing.
set -euo pipefail

packages=(
  cmake make g++ clang libclang-rt-14-dev
  googletest libgtest-dev libbenchmark-dev zlib1g-dev libdeflate-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 libz-mingw-w64-dev
  wine64 wine libwine-dev wixl msitools
  python3 p7zip-full locales tzdata
  pkg-config libssl-dev libcurl4-openssl-dev libmicrohttpd-dev openssl
)
# --native: only what the native release tree needs (scripts/demo.sh): the
# compilers, the benchmark library and the peers it links, and the libraries of NuvaNet,
# NuvaCA and nuva-server.
if [ "${1:-}" = "--native" ]; then
  packages=(cmake make g++ pkg-config libbenchmark-dev zlib1g-dev libdeflate-dev
            libssl-dev libcurl4-openssl-dev libmicrohttpd-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Wine takes code page 936 from LC_ALL=zh_CN.UTF-8 alone, but maps Chinese file
# names to the Unix side only when the C library knows that locale: the win64
# configure compiles it into the build tree from the sources in `locales`.
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
