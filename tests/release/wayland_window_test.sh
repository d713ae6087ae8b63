#!/usr/bin/env bash
# The window under a headless Wayland compositor, as GNOME and KDE Plasma start
# programs by default: the real program must load the Wayland platform, map its
# window and keep running; then the window test answers input there and leaves
# a picture of page 1.
set -euo pipefail
exe="$1"; test_exe="$2"; out="$3"
command -v weston >/dev/null || { echo "SKIP: weston is not installed"; exit 77; }
mkdir -p "$out"
runtime=$(mktemp -d)
chmod 700 "$runtime"
socket="velmora-test-$$"
weston_pid=""; pid=""
finish() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    [ -n "$weston_pid" ] && kill "$weston_pid" 2>/dev/null || true
    rm -rf "$runtime"
}
trap finish EXIT
fail() { echo "FAIL: $*"; exit 1; }
export XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland
unset DISPLAY
weston --backend=headless-backend.so --socket="$socket" --idle-time=0 > "$out/weston.log" 2>&1 &
weston_pid=$!
for _ in $(seq 1 100); do [ -S "$runtime/$socket" ] && break; sleep 0.1; done
[ -S "$runtime/$socket" ] || fail "weston did not start: $(tail -n 3 "$out/weston.log")"

log="$out/wayland_velmora.log"
WAYLAND_DEBUG=client "$exe" > "$log" 2>&1 &
pid=$!
for _ in $(seq 1 100); do grep -q 'wl_surface@[0-9]*\.attach(wl_buffer' "$log" && break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null || fail "the program ended: $(grep -v '^\[' "$log" | tail -n 3)"
grep -q 'xdg_toplevel@[0-9]*\.set_title("Velmora文件夹工具")' "$log" || fail "no top-level window"
grep -q 'xdg_toplevel@[0-9]*\.configure(' "$log" || fail "the compositor never configured the window"
grep -q 'wl_surface@[0-9]*\.attach(wl_buffer' "$log" || fail "the window never drew"
kill "$pid"; pid=""

VELMORA_SHOT_DIR="$out" "$test_exe" --gtest_filter='WaylandWindow.*'
