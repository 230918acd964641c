#!/usr/bin/env bash
# Installs the Debian packages the kit needs to build and test; packages that
# are present already are left alone.
set -euo pipefail

# A minimal Debian (debootstrap --variant=minbase) has neither a build
# program nor git: CMake's generator needs make, the code checks git.
packages=(
    make git ca-certificates procps
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    wine wine64 fonts-wine xvfb xdotool wixl googletest cmake python3 imagemagick
    libspdlog-dev libfmt-dev clang clang-tidy cppcheck osslsigncode openssl zip unzip
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
