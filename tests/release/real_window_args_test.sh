#!/usr/bin/env bash
# The built program under Xvfb, started as a file manager starts it: with a
# folder, with an archive, with a name that names nothing. What each page
# lists is read back through the file list's context menu ("复制路径") and the
# X clipboard.
set -euo pipefail
exe="$1"
for tool in xvfb-run xdotool xclip zip; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tree folder"
echo a > "$work/tree folder/a.txt"
(cd "$work/tree folder" && zip -q b.zip a.txt)
cat > "$work/inner.sh" <<'INNER'
set -euo pipefail
exe="$1"; work="$2"
pid=""
fail() {
    echo "FAIL: $*"; cat "$work/velmora.log" 2>/dev/null || true
    [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
    exit 1
}
window() {  # waits for a visible window of that name; prints its id
    for _ in $(seq 1 300); do
        xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 && return 0
        sleep 0.1
    done
    return 1
}
start() {
    "$exe" "$@" > "$work/velmora.log" 2>&1 &
    pid=$!
    wid=$(window 'Velmora文件夹工具') || fail "no window for $*"
    sleep 1
}
stop() { kill "$pid"; wait "$pid" 2>/dev/null || true; pid=""; }
windows() { xdotool search --onlyvisible --pid "$pid" 2>/dev/null | wc -l; }
# Right-clicks the first entry of the shown page's file list, copies its path
# ("复制路径", the third entry) and checks the clipboard; a load or a menu
# that is slow on a busy machine gets two more tries.
expect_first_entry() {
    local want="$1" what="$2" got=""
    printf 'nothing copied' | xclip -selection clipboard
    for _ in 1 2 3; do
        xdotool mousemove --window "$wid" 450 120 click 3
        for _ in $(seq 1 30); do [ "$(windows)" -ge 2 ] && break; sleep 0.1; done
        [ "$(windows)" -ge 2 ] || continue
        xdotool key Down Down Down Return
        for _ in $(seq 1 20); do
            got=$(xclip -o -selection clipboard 2>/dev/null || true)
            [ "$got" = "$want" ] && return 0
            sleep 0.1
        done
        [ "$(windows)" -lt 2 ] || xdotool key Escape  # greyed entries: close the menu
        sleep 0.5
    done
    fail "$what: the shown page's first entry is '$got', not '$want'"
}
folder="$work/tree folder"

start "$folder" "$work/ignored"
expect_first_entry "$folder/a.txt" "a folder argument"
stop

# Page 1 stays empty; only page 2, shown, lists the archive's folder.
start "$folder/b.zip"
expect_first_entry "$folder/a.txt" "an archive argument"
stop

# Each page's error box follows.
start "$work/missing"
window '选择文件夹错误!' >/dev/null || fail "no error box for a name that names nothing"
stop
echo "PASS"
INNER
# A display number of its own (other test runs on this machine start X servers
# too), and no server reset when one program of the test exits before the next starts.
xvfb-run -a -n $((100 + $$ % 800)) -s "-screen 0 1280x800x24 -noreset" bash "$work/inner.sh" "$exe" "$work"
