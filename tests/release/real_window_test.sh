#!/usr/bin/env bash
# Starts the built program under Xvfb and a window manager, as a desktop user
# meets it: checks the client size, takes a screenshot of both pages and of
# both pages of the rule dialog, checks that Escape leaves the main window
# open while the rule dialog keeps its Escape, and that the program ends
# cleanly when the window manager asks the window to close.
set -euo pipefail
exe="$1"; out="$2"
for tool in xvfb-run xdotool import xwininfo openbox wmctrl; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
mkdir -p "$out"
inner=$(mktemp)
cat > "$inner" <<'INNER'
set -euo pipefail
exe="$1"; out="$2"
openbox > "$out/openbox.log" 2>&1 &
wm=$!
pid=""
finish() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    kill "$wm" 2>/dev/null || true
}
trap finish EXIT
fail() { echo "FAIL: $*"; exit 1; }
for _ in $(seq 1 50); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done
wmctrl -m >/dev/null 2>&1 || fail "no window manager"

window() {  # the id of the visible window whose title is $1, waiting for it
    local id=""
    for _ in $(seq 1 100); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && break
        sleep 0.1
    done
    echo "$id"
}
running() { kill -0 "$pid" 2>/dev/null; }
shot() { sleep 0.5; import -window "$1" "$out/$2.png"; }

"$exe" > "$out/velmora.log" 2>&1 &
pid=$!
wid=$(window '^Velmora文件夹工具$')
[ -n "$wid" ] || fail "no window"
sleep 1
size=$(xwininfo -id "$wid" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
echo "window $wid size $size"
[ "$size" = "1067x587" ] || fail "client size $size"
ox=$(xwininfo -id "$wid" | awk '/Absolute upper-left X/ {print $4}')
oy=$(xwininfo -id "$wid" | awk '/Absolute upper-left Y/ {print $4}')
click() { xdotool mousemove $((ox + $1)) $((oy + $2)) click 1; }  # client coordinates of the fixed layout

shot "$wid" page1
xdotool key --window "$wid" Escape
sleep 0.5
running || fail "Escape closed the main window"
click 140 12  # the second tab
shot "$wid" page2
click 46 12
click 930 410  # 批量更改选中文件名 opens the rule dialog
rule=$(window '^更改文件名规则$')
[ -n "$rule" ] || fail "no rule dialog"
shot "$rule" rule_page1
xdotool key ctrl+Tab
shot "$rule" rule_page2
xdotool key Escape
sleep 0.5
xdotool search --onlyvisible --name '^更改文件名规则$' >/dev/null 2>&1 && fail "Escape left the rule dialog open"
running || fail "closing the rule dialog ended the program"

# The window manager's close request, as the close box sends it.
wmctrl -i -c "$wid"
for _ in $(seq 1 50); do running || break; sleep 0.1; done
running && fail "still running after the close request"
rc=0; wait "$pid" || rc=$?
pid=""
[ "$rc" -eq 0 ] || fail "exit code $rc"
echo "PASS: screenshots in $out: page1.png page2.png rule_page1.png rule_page2.png"
INNER
rc=0
xvfb-run -a -s "-screen 0 1280x800x24" bash "$inner" "$exe" "$out" || rc=$?
rm -f "$inner"
exit $rc
