#!/usr/bin/env bash
# Soak: off-screen for a while (600 s unless given), sampled from /proc every minute:
#  - the viewer with computer control and auto-move on (scripted keys C and 4);
#  - a networked pair through the relay, both under computer control, so positions flow
#    both ways all the time.
# Each process's resident memory and open descriptors are printed as a table. It passes when
# memory stays flat after the first minute (warm-up): no later sample exceeds the one at one
# minute by more than the tolerance (4096 KiB unless SOAK_TOLERANCE_KB says otherwise), the
# relay's descriptors do not grow, and every process ends normally on SIGTERM.
#   scripts/soak.sh [SECONDS]      (BUILD=build by default; what it runs is built first)
set -uo pipefail
seconds=${1:-600}
interval=${SOAK_INTERVAL:-60}
tolerance=${SOAK_TOLERANCE_KB:-4096}
build=${BUILD:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
[[ $seconds =~ ^[0-9]+$ ]] && ((seconds >= 2 * interval)) ||
    { echo "soak.sh: the length must be a whole number of seconds, at least $((2 * interval))" >&2; exit 2; }
cmake -S "$root" -B "$root/$build" -G Ninja >/dev/null &&
    cmake --build "$root/$build" --target duoscope duoscope-net duoscope-relay >/dev/null ||
    { echo "soak.sh: the programs do not build" >&2; exit 1; }

# Scratch directories with the data files, so the logs land there and not in data/.
dir=$(mktemp -d /tmp/duoscope-soak.XXXXXX)
for d in viewer net-a net-b; do mkdir "$dir/$d" && ln -s "$root"/data/* "$dir/$d"/; done
names=() pids=()
start_in() { # name dir command... : started in the background, its stderr kept
    local name=$1 where=$2
    shift 2
    (cd "$where" && exec "$@" 2>"$dir/$name.err") &
    names+=("$name") pids+=($!)
}
trap 'kill "${pids[@]}" 2>/dev/null' EXIT

start_in viewer "$dir/viewer" env SDL_VIDEODRIVER=offscreen DUOSCOPE_SEED=1 \
    DUOSCOPE_KEYS="F1@500-700,C@1000-1200,4@1000-1200" "$root/$build/duoscope"
start_in relay "$dir" "$root/$build/duoscope-relay" --port 0 --bind 127.0.0.1
for _ in $(seq 100); do grep -q "listening on" "$dir/relay.err" && break; sleep 0.1; done
port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$dir/relay.err")
[ -n "$port" ] || { echo "soak.sh: FAIL: the relay did not start" >&2; cat "$dir/relay.err" >&2; exit 1; }
for n in net-a net-b; do
    start_in "$n" "$dir/$n" env SDL_VIDEODRIVER=offscreen DUOSCOPE_SEED=${#names[@]} \
        DUOSCOPE_SERVER_PORT="$port" DUOSCOPE_KEYS="F1@500-700,C@1000-1200" \
        "$root/$build/duoscope-net"
done

declare -A base peak firstfds lastfds
row() { # elapsed seconds: one table row for every process; fails when one is gone
    local line i rss fds
    line=$(printf '%8s' "$1")
    for i in "${!pids[@]}"; do
        rss=$(awk '/^VmRSS:/ {print $2}' "/proc/${pids[$i]}/status" 2>/dev/null)
        [ -n "$rss" ] || { echo "soak.sh: FAIL: ${names[$i]} ended early:" >&2; cat "$dir/${names[$i]}.err" >&2; return 1; }
        fds=$(ls "/proc/${pids[$i]}/fd" 2>/dev/null | wc -l)
        line+=$(printf ' %12s %5s' "$rss" "$fds")
        if [ "$1" -ge "$interval" ]; then
            [ -n "${base[$i]:-}" ] || { base[$i]=$rss; peak[$i]=$rss; firstfds[$i]=$fds; }
            ((rss > peak[$i])) && peak[$i]=$rss
            lastfds[$i]=$fds
        fi
    done
    echo "$line"
}

echo "Soak: $seconds s in $dir (relay on 127.0.0.1:$port)"
header=$(printf '%8s' "time s")
for n in "${names[@]}"; do header+=$(printf ' %12s %5s' "$n KiB" "fds"); done
echo "$header"
begin=$SECONDS
sleep 5 && row 5 || exit 1
for ((t = interval; t <= seconds; t += interval)); do
    sleep $((begin + t - SECONDS))
    row "$t" || exit 1
done

failed=0
kill -TERM "${pids[@]}"
for i in "${!pids[@]}"; do
    wait "${pids[$i]}"
    status=$?
    growth=$((peak[$i] - base[$i]))
    echo "${names[$i]}: $((base[$i])) KiB after warm-up, at most $((peak[$i])) KiB later (growth $growth KiB), exit status $status"
    ((status == 0)) || { echo "soak.sh: FAIL: ${names[$i]} ended with status $status on SIGTERM" >&2; failed=1; }
    ((growth <= tolerance)) || { echo "soak.sh: FAIL: ${names[$i]}'s memory grew after warm-up" >&2; failed=1; }
done
relay=1 # index of the relay
((lastfds[$relay] <= firstfds[$relay])) ||
    { echo "soak.sh: FAIL: the relay's descriptors grew from ${firstfds[$relay]} to ${lastfds[$relay]}" >&2; failed=1; }
trap - EXIT
((failed == 0)) || exit 1
echo "soak.sh: PASS: memory flat after warm-up, relay descriptors steady, normal exits on SIGTERM"
rm -rf "$dir"
