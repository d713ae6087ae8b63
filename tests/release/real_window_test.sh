#!/usr/bin/env bash
# Starts the built program under Xvfb, waits for its window, takes a
# screenshot, checks the client size and that the program exits cleanly
# when the window is closed.
set -euo pipefail
exe="$1"; out="$2"
for tool in xvfb-run xdotool import xwininfo; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
mkdir -p "$out"
inner=$(mktemp)
cat > "$inner" <<'INNER'
set -euo pipefail
exe="$1"; out="$2"
"$exe" > "$out/velmora.log" 2>&1 &
pid=$!
wid=""
for _ in $(seq 1 100); do
    wid=$(xdotool search --onlyvisible --name 'Velmora文件夹工具' 2>/dev/null | head -n 1 || true)
    [ -n "$wid" ] && break
    sleep 0.1
done
[ -n "$wid" ] || { echo "FAIL: no window"; kill "$pid"; exit 1; }
sleep 1
import -window root "$out/velmora.png"
size=$(xwininfo -id "$wid" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
echo "window $wid size $size"
[ "$size" = "1067x587" ] || { echo "FAIL: client size $size"; kill "$pid"; exit 1; }
# Escape closes the window like its close box; the program must then end by itself.
xdotool key --window "$wid" Escape 2>/dev/null || true  # the window may vanish before xdotool is done with it
for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then echo "FAIL: still running after close"; kill "$pid"; exit 1; fi
wait "$pid"; rc=$?
[ "$rc" -eq 0 ] || { echo "FAIL: exit code $rc"; exit 1; }
echo "PASS: screenshot in $out/velmora.png"
INNER
xvfb-run -a -s "-screen 0 1280x800x24" bash "$inner" "$exe" "$out"
rc=$?
rm -f "$inner"
exit $rc
