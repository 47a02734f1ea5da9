#!/usr/bin/env bash
# The Debian package as a user gets it: built with CPack from a build configured for /usr,
# its file list checked, lintian (where installed) without errors, unpacked into a scratch
# root with dpkg -x, each program saying the package's version, the unpacked relay carrying a
# position between two scripted clients, and the unpacked viewer run off-screen from an
# unrelated folder, its picture the same as the build tree's.
# Usage: package_test.sh BUILD_DIR (configured with CMAKE_INSTALL_PREFIX=/usr).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
relay_pid=""
trap '[ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null; rm -rf "$scratch"' EXIT
fail() { echo "package: FAIL: $*"; exit 1; }

(cd "$build" && cpack -G DEB >/dev/null) || fail "cpack"
deb=$(ls "$build"/duoscope_*.deb)
echo "package: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB"

expected="./etc/default/duoscope-relay
./lib/systemd/system/duoscope-relay.service
./usr/bin/duoscope
./usr/bin/duoscope-net
./usr/bin/duoscope-relay
./usr/share/applications/duoscope.desktop
./usr/share/doc/duoscope/changelog.gz
./usr/share/doc/duoscope/copyright
./usr/share/duoscope/Duoscope.fx
./usr/share/duoscope/crate.png
./usr/share/duoscope/fatman.x
./usr/share/duoscope/fatman_suit.png
./usr/share/duoscope/fatman_tie.png
./usr/share/duoscope/floor.png
./usr/share/duoscope/room.x
./usr/share/duoscope/seaman.x
./usr/share/duoscope/seaman_shirt.png
./usr/share/duoscope/seaman_trousers.png
./usr/share/duoscope/server.txt
./usr/share/duoscope/skin.png
./usr/share/duoscope/wall.png
./usr/share/icons/hicolor/64x64/apps/duoscope.png
./usr/share/man/man6/duoscope-net.6.gz
./usr/share/man/man6/duoscope.6.gz
./usr/share/man/man8/duoscope-relay.8.gz"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
[ "$files" = "$expected" ] || { diff <(echo "$expected") <(echo "$files") || true; fail "file list"; }
[ "$(dpkg-deb -I "$deb" conffiles)" = "/etc/default/duoscope-relay" ] ||
    fail "the options file is not a conffile"

if command -v lintian >/dev/null; then
    lintian --no-tag-display-limit "$deb" >"$scratch/lintian.txt" 2>&1 || true
    grep '^E:' "$scratch/lintian.txt" && fail "lintian reports errors"
    grep '^W:' "$scratch/lintian.txt" || true
    echo "package: lintian: no errors, $(grep -c '^W:' "$scratch/lintian.txt" || true) warnings"
else
    echo "package: lintian not installed, skipped"
fi
if command -v systemd-analyze >/dev/null; then
    dpkg -x "$deb" "$scratch/verify"
    unit="$scratch/verify/lib/systemd/system/duoscope-relay.service"
    # verify resolves ExecStart on this machine: point it at the unpacked relay.
    sed -i "s|/usr/bin/duoscope-relay|$scratch/verify/usr/bin/duoscope-relay|" "$unit"
    # It also opens the unit's man page: the unpacked one.
    MANPATH="$scratch/verify/usr/share/man" systemd-analyze verify "$unit" ||
        fail "systemd-analyze verify"
    echo "package: systemd-analyze verify: passed"
else
    echo "package: systemd-analyze not found, unit check skipped"
fi

dpkg -x "$deb" "$scratch/root"
bin="$scratch/root/usr/bin"

# Each program says the package's version.
version=$(dpkg-deb -f "$deb" Version)
for program in duoscope duoscope-net duoscope-relay; do
    said=$("$bin/$program" --version) || fail "$program --version"
    [ "$said" = "$program $version" ] || fail "$program says '$said', not version $version"
done
echo "package: the unpacked programs say their version, $version"

# The relay: two clients, one position frame from the first reaches the second byte for byte.
"$bin/duoscope-relay" --port 0 --bind 127.0.0.1 2>"$scratch/relay.log" &
relay_pid=$!
for _ in $(seq 100); do grep -q "listening on" "$scratch/relay.log" && break; sleep 0.05; done
port=$(sed -n 's/.*listening on [0-9.]*:\([0-9]*\).*/\1/p' "$scratch/relay.log" | head -1)
[ -n "$port" ] || fail "the unpacked relay did not start"
python3 - "$port" <<'PY' || fail "the relay did not pass the position"
import socket, struct, sys
port = int(sys.argv[1])
def client():
    s = socket.create_connection(("127.0.0.1", port), timeout=5)
    head = b""
    while len(head) < 12:
        head += s.recv(12 - len(head))
    marker, cid, _ = struct.unpack(">iii", head)
    assert marker == -2 and cid >= 1, head
    return s, cid
a, ida = client()
b, idb = client()
body = struct.pack(">iii", 500, 0, ida) + struct.pack("<iffff", ida, 1.5, 0.0, -2.0, 90.0)
frame = struct.pack(">iiii", -1, 0, ida, len(body)) + body
a.sendall(frame)
got = b""
while len(got) < len(frame):
    chunk = b.recv(len(frame) - len(got))
    assert chunk, "closed"
    got += chunk
assert got == frame, got.hex()
PY
echo "package: the unpacked relay passed a position between two clients"

# The viewer from an unrelated folder, data found beside its executable, log in the user's
# folder; its picture is the build tree's.
home="$scratch/home"
mkdir -p "$home" "$scratch/elsewhere"
run_env=(SDL_VIDEODRIVER=offscreen DUOSCOPE_FIXED_STEP=16 DUOSCOPE_SEED=1 DUOSCOPE_FRAMES=40
         DUOSCOPE_KEYS=UP@0-400)
(cd "$scratch/elsewhere" && env -u XDG_DATA_HOME HOME="$home" "${run_env[@]}" \
    DUOSCOPE_SCREENSHOT=unpacked.png "$bin/duoscope") || fail "the unpacked viewer"
(cd "$root/data" && env "${run_env[@]}" DUOSCOPE_SCREENSHOT="$scratch/tree.png" "$build/duoscope") ||
    fail "the build tree's viewer"
cmp -s "$scratch/elsewhere/unpacked.png" "$scratch/tree.png" || fail "the pictures differ"
work="$home/.local/share/duoscope"
[ "$(head -1 "$work/log.txt")" = "Initialized DirectX 9" ] || fail "no log.txt in $work"
[ -L "$work/seaman.x" ] && [ -f "$work/server.txt" ] && [ ! -L "$work/server.txt" ] ||
    fail "the working folder holds no links or no own server.txt"
echo "package: the unpacked viewer ran from an unrelated folder; log in ~/.local/share/duoscope"
echo "package: passed"
