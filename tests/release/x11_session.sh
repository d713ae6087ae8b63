# Sourced inside an Xvfb session by the scripts that drive the real window:
# a window manager, waiting for a window by its title, failing. The caller
# sets out (the output folder) and pid (the program, once started).
fail() { echo "FAIL: $*"; exit 1; }
start_window_manager() {  # $1: its log
    openbox > "$1" 2>&1 &
    wm=$!
    for _ in $(seq 1 50); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done
    wmctrl -m >/dev/null 2>&1 || fail "no window manager"
}
finish() {
    [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true
    [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
}
trap finish EXIT
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
# The window manager's close request, as the close box sends it; the program must end with status 0.
close_and_expect_clean_exit() {  # $1: the window id
    wmctrl -i -c "$1"
    for _ in $(seq 1 50); do running || break; sleep 0.1; done
    running && fail "still running after the close request"
    local rc=0
    wait "$pid" || rc=$?
    pid=""
    [ "$rc" -eq 0 ] || fail "exit code $rc"
}
