#!/usr/bin/env bash
# Starts the relay and two networked viewers in data/, connected to each other through it.
# With no display both run off-screen with scripted keys, each walking to a place where it
# faces the other, and each writes a screenshot showing the other viewer's character there.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root/data"

# The relay on a free port of this machine; the viewers are pointed at it with the hook.
log=$(mktemp)
"$root/$build/duoscope-relay" --port 0 --bind 127.0.0.1 2>"$log" &
relay=$!
trap 'kill $relay 2>/dev/null || true; rm -f "$log"' EXIT
for _ in $(seq 100); do
    grep -q "listening on" "$log" && break
    sleep 0.05
done
port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$log")
[ -n "$port" ] || { cat "$log"; echo "run_net: the relay did not start" >&2; exit 1; }
export DUOSCOPE_SERVER_PORT=$port
echo "Relay listening on 127.0.0.1:$port"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    # Both windows open at the top-left corner: drag one aside. Each moves its own fatman;
    # the other viewer shows it as its sailor.
    "$root/$build/duoscope-net" "${@:2}" &
    first=$!
    "$root/$build/duoscope-net" "${@:2}" &
    second=$!
    wait $first $second || true
    exit 0
fi

# Off-screen: A walks forward a little, B walks further and turns round to face A. Holding
# forward and back together moves nothing but keeps each one's place going out.
shots="$root/$build"
common=(SDL_VIDEODRIVER=offscreen DUOSCOPE_FIXED_STEP=20 DUOSCOPE_SEED=1 DUOSCOPE_FRAMES=450)
env "${common[@]}" DUOSCOPE_SCREENSHOT="$shots/net-a.png" \
    DUOSCOPE_KEYS="F1@0-100,1@200-300,UP@0-9000000,DOWN@600-9000000" "$root/$build/duoscope-net" &
a=$!
env "${common[@]}" DUOSCOPE_SCREENSHOT="$shots/net-b.png" \
    DUOSCOPE_KEYS="F1@0-100,1@200-300,UP@0-1400,RIGHT@1400-5000,UP@5000-9000000,DOWN@5000-9000000" \
    "$root/$build/duoscope-net" &
b=$!
wait $a $b
cat "$log"
echo "Screenshots, each viewer's camera 1 looking at the other's character:"
echo "  $shots/net-a.png"
echo "  $shots/net-b.png"
