#!/usr/bin/env bash
# Soak: the viewer off-screen for a while (600 s unless given) with computer control and
# auto-move on (scripted keys C and 4), its resident memory and open descriptors sampled from
# /proc every minute and printed as a table. It passes when memory stays flat after the first
# minute (warm-up): the last samples exceed the one at one minute by at most the tolerance
# (4096 KiB unless SOAK_TOLERANCE_KB says otherwise), and the viewer ends normally on SIGTERM.
#   scripts/soak.sh [SECONDS]      (BUILD=build by default; the viewer is built first)
set -uo pipefail
seconds=${1:-600}
interval=${SOAK_INTERVAL:-60}
tolerance=${SOAK_TOLERANCE_KB:-4096}
build=${BUILD:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
[[ $seconds =~ ^[0-9]+$ ]] && ((seconds >= 2 * interval)) ||
    { echo "soak.sh: the length must be a whole number of seconds, at least $((2 * interval))" >&2; exit 2; }
cmake -S "$root" -B "$root/$build" -G Ninja >/dev/null && cmake --build "$root/$build" --target duoscope >/dev/null ||
    { echo "soak.sh: the viewer does not build" >&2; exit 1; }

# A scratch directory with the data files, so the log lands there and not in data/.
dir=$(mktemp -d /tmp/duoscope-soak.XXXXXX)
ln -s "$root"/data/* "$dir"/
cd "$dir"
SDL_VIDEODRIVER=offscreen DUOSCOPE_SEED=1 DUOSCOPE_KEYS="F1@500-700,C@1000-1200,4@1000-1200" \
    "$root/$build/duoscope" 2>stderr.txt &
pid=$!
trap 'kill $pid 2>/dev/null' EXIT

sample() { # elapsed seconds -> one table row; fails when the viewer is gone
    local rss fds
    rss=$(awk '/^VmRSS:/ {print $2}' /proc/$pid/status 2>/dev/null) || return 1
    [ -n "$rss" ] || return 1
    fds=$(ls /proc/$pid/fd 2>/dev/null | wc -l)
    printf '%8s %12s %8s\n' "$1" "$rss" "$fds"
    last=$rss
}

echo "Soak: viewer pid $pid, $seconds s, computer control and auto-move on, in $dir"
printf '%8s %12s %8s\n' "time s" "VmRSS KiB" "fds"
start=$SECONDS
base="" peak=""
sleep 5 && sample 5 || { echo "soak.sh: FAIL: the viewer did not start:" >&2; cat stderr.txt >&2; exit 1; }
for ((t = interval; t <= seconds; t += interval)); do
    sleep $((start + t - SECONDS))
    if ! sample "$t"; then
        echo "soak.sh: FAIL: the viewer ended early; its stderr:" >&2
        cat stderr.txt >&2
        exit 1
    fi
    if [ -z "$base" ]; then base=$last peak=$last; elif ((last > peak)); then peak=$last; fi
done
kill -TERM $pid
wait $pid
status=$?
trap - EXIT
growth=$((peak - base))
echo "Memory after warm-up: $base KiB at ${interval} s, at most $peak KiB later (growth $growth KiB, tolerance $tolerance KiB)"
if ((status != 0)); then
    echo "soak.sh: FAIL: the viewer ended with status $status on SIGTERM" >&2
    exit 1
fi
if ((growth > tolerance)); then
    echo "soak.sh: FAIL: memory grew after warm-up" >&2
    exit 1
fi
echo "soak.sh: PASS: memory flat after warm-up, normal exit on SIGTERM"
rm -rf "$dir"
