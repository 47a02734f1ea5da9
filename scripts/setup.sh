#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
    libsdl2-dev libepoxy-dev libfreetype-dev libfontconfig-dev fonts-liberation2
    libstb-dev libturbojpeg0-dev zlib1g-dev libmeshoptimizer-dev libx11-dev libxdamage-dev
    libgl1-mesa-dri libegl-mesa0 libgtest-dev libgmock-dev libbenchmark-dev libassimp-dev
    xvfb xdotool dpkg-dev lintian python3
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
