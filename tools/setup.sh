#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo use, where missing.
# Idempotent; runs as root without prompts (or through sudo when not root).
set -euo pipefail
packages=(
    cmake make
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    googletest
    wine wine64
    xvfb xauth xdotool x11-utils imagemagick fonts-wqy-zenhei
    python3 openssl curl ca-certificates osslsigncode
    faketime
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -q
    "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
