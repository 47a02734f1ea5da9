#!/usr/bin/env bash
# Starts the viewer in data/. With no display it runs a short scripted demo off-screen and
# writes a screenshot instead.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root/data"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$root/$build/duoscope" "${@:2}"
fi
shot="$root/$build/demo.png"
echo "No display: running a scripted demo off-screen (walk forward, turn, view 1)."
SDL_VIDEODRIVER=offscreen DUOSCOPE_FRAMES=240 DUOSCOPE_SEED=1 \
    DUOSCOPE_KEYS="UP@200-1500,RIGHT@1500-2200,1@2200-2300" \
    DUOSCOPE_SCREENSHOT="$shot" "$root/$build/duoscope" "${@:2}"
echo "Screenshot of the last frame: $shot"
