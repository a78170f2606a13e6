#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12.
set -euo pipefail

# wine64 is the 64-bit loader, wine32 (an i386 package) the 32-bit one; the
# `wine` package puts the `wine` command on the PATH. The -posix compilers come
# with mingw-w64 but are named so that a missing one is noticed. The Windows
# window tests run on an Xvfb display of their own; imagemagick and x11-utils
# capture and inspect it.
# clang and its runtime libraries build the libFuzzer targets; clang-format
# and clang-tidy are the lint stage.
# dpkg-dev (dpkg-shlibdeps) and file let CPack compute the .deb's dependencies;
# man-db and groff-base check the manual pages.
packages=(
  cmake
  ninja-build
  g++
  libgtest-dev
  googletest
  mingw-w64
  g++-mingw-w64-x86-64-posix
  gcc-mingw-w64-x86-64-posix
  g++-mingw-w64-i686-posix
  gcc-mingw-w64-i686-posix
  wine
  wine64
  wine32
  xvfb
  x11-utils
  imagemagick
  socat
  python3
  clang
  libclang-rt-14-dev
  clang-format
  clang-tidy
  dpkg-dev
  file
  man-db
  groff-base
)

missing=()
for p in "${packages[@]}"; do
  # dpkg -s also succeeds for removed packages whose config files remain.
  if ! dpkg -s "$p" 2>/dev/null | grep -q '^Status: install ok installed$'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages already present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
# wine32 is only built for i386.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
# A mirror caught mid-sync fails one index; the others are still good, and the
# install below says so if a package really cannot be had.
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update ||
  echo "install-deps: apt-get update reported errors; installing with the lists it has" >&2
apt_install() {
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "$@" </dev/null
}
if apt_install "${missing[@]}"; then
  exit 0
fi
# The i386 packages must match the amd64 ones version for version, so an i386
# index that failed above makes wine32 alone uninstallable: install the rest,
# and test.sh reports its 32-bit suite as skipped.
rest=()
for p in "${missing[@]}"; do
  [ "$p" = wine32 ] || rest+=("$p")
done
apt_install "${rest[@]}"
echo "install-deps: wine32 could not be installed; the 32-bit Wine suite will be skipped" >&2
