#!/usr/bin/env bash
# The lists' context menu on a real X server, as a user meets it on a desktop
# with no default application: choose 打开 and then 打开所在文件夹 on a file,
# answer each failure box with Enter; the program must live on through both
# and end cleanly when the window manager closes it.
set -euo pipefail
exe="$1"; out="$2"
for tool in xvfb-run xdotool xwininfo openbox wmctrl; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
mkdir -p "$out"
tree=$(mktemp -d)
inner=$(mktemp)
trap 'rm -rf "$tree" "$inner"' EXIT
mkdir -p "$tree/sub"
echo x > "$tree/a.unknown"
cat > "$inner" <<'INNER'
set -euo pipefail
exe="$1"; out="$2"; tree="$3"; lib="$4"
pid=""
source "$lib"
start_window_manager "$out/menu_openbox.log"

# No launcher on the path: every open fails, as on a desktop without a default application.
env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION PATH=/nonexistent "$exe" "$tree" > "$out/menu_velmora.log" 2>&1 &
pid=$!
wid=$(window '^Velmora文件夹工具$')
[ -n "$wid" ] || fail "no window"
sleep 1
ox=$(xwininfo -id "$wid" | awk '/Absolute upper-left X/ {print $4}')
oy=$(xwininfo -id "$wid" | awk '/Absolute upper-left Y/ {print $4}')
for keys in "Down" "Down Down"; do  # 打开, then 打开所在文件夹
    xdotool mousemove $((ox + 450)) $((oy + 125)) click 3  # the file's row in page 1's file list
    sleep 0.5
    xdotool key $keys Return
    box=$(window '^Velmora文件夹工具V1.0$')
    [ -n "$box" ] || fail "no box after choosing ($keys)"
    sleep 0.3
    xdotool key Return  # the box has the focus
    sleep 1
    running || fail "the program died after the box of ($keys): $(tail -n 2 "$out/menu_velmora.log")"
    xdotool search --onlyvisible --name '^Velmora文件夹工具V1.0$' >/dev/null 2>&1 && fail "the box stayed open"
done
close_and_expect_clean_exit "$wid"
echo "PASS"
INNER
xvfb-run -a -s "-screen 0 1280x800x24" bash "$inner" "$exe" "$out" "$tree" "$(dirname "$0")/x11_session.sh"
