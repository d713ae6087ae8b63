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
exe="$1"; out="$2"; lib="$3"
pid=""
source "$lib"
start_window_manager "$out/openbox.log"
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

close_and_expect_clean_exit "$wid"
echo "PASS: screenshots in $out: page1.png page2.png rule_page1.png rule_page2.png"
INNER
rc=0
xvfb-run -a -s "-screen 0 1280x800x24" bash "$inner" "$exe" "$out" "$(dirname "$0")/x11_session.sh" || rc=$?
rm -f "$inner"
exit $rc
