#!/usr/bin/env bash
# Installs what building and testing filedist needs on a fresh Debian machine:
# the native tool chain, the i686 mingw-w64 cross compiler with its zlib, Wine
# (32-bit) to run the Windows test programs, libgcrypt for both targets,
# nlohmann-json (header-only; both targets' program builds take its headers),
# dpkg-dev and file for the Debian package, clang-format for the layout check,
# the tools the tests use as independent oracles (gzip, zip, unzip, md5sum,
# python3's hashlib and cryptography), zstd and rsync (the patch benchmarks'
# peers) and the web servers of the update tests (nginx and openssl for HTTP and HTTPS, python3 for faults).
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
packages=(
  cmake make g++ pkg-config dpkg-dev file
  libgtest-dev googletest zlib1g-dev libcurl4-openssl-dev libgcrypt20-dev
  nlohmann-json3-dev
  g++-mingw-w64-i686 libz-mingw-w64-dev libgcrypt-mingw-w64-dev
  wine wine32:i386
  clang libclang-rt-14-dev clang-format
  gzip zip unzip coreutils python3 python3-cryptography curl groff-base man-db zstd rsync
  nginx-light openssl
)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" > /dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" > /dev/null
fi
