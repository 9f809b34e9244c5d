#!/usr/bin/env bash
# The GUI's cost: CPU of the program idle with its main window shown, and the time of one
# automatic backup, under offscreen Qt against the headless widget set, in one run.
# Usage: bench/gui_idle.sh [IDLE_SECONDS] [BACKUP_MB] [ROUNDS] [BUILD_DIR]
#        (defaults: 10 s, 200 MB, 3 alternating rounds, build/ of a release build)
set -euo pipefail

secs=${1:-10}
mb=${2:-200}
rounds=${3:-3}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${4:-$root/build}
torvo=$build/torvo
caller=$build/tests/app/torvo-caller
for p in "$torvo" "$caller"; do
    [[ -x $p ]] || { echo "no $p: cmake --preset release && cmake --build build -j4" >&2; exit 2; }
done

work=$(mktemp -d /tmp/torvo-guibench-XXXXXX)
trap 'kill "${pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/cfg XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME/data" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset TORVO_RESPONSES TORVO_TRANSCRIPT DISPLAY WAYLAND_DISPLAY

# An automatic backup set of two files: text that deflate has work with.
printf '[MENUARCHIV]C:\\data\\menu.txt\r\n[PATHARCHIVDRV]A:\\ZALOHY\\\r\n[PATHARCHIV]C:\\ZALOHY\\\r\n[PATHARCHIVACE]C:\\data\\*.dta\r\n[CLOSE]YES\r\n' >"$HOME/data/archivace.dta"
printf '[Menu]\r\n{0}Archivace\r\n{10}Automaticka\r\n[Archivace] Archivace dat\r\n~Data|Data\x870<x>\r\n[Seznam]\r\n{0}Ucto\x87Ucto\r\n[Ucto]\r\n{1}kniha.dat\x87a\r\n{2}ucty.dat\x87b\r\n' \
    >"$HOME/data/menu.txt"
for f in kniha.dat ucty.dat; do
    od -An -tx2 -N $(((mb << 19) * 100 / 256)) /dev/urandom >"$HOME/data/$f"  # about mb/2 MB of hex
done

ticks_per_second=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# Starts the program under the widget set ($1: qt or headless) and waits for its window.
start() {
    rm -rf "$XDG_RUNTIME_DIR/torvo"  # names of the earlier run's windows
    if [[ $1 == qt ]]; then
        QT_QPA_PLATFORM=offscreen TORVO_WIDGETSET= "$torvo" >"$work/torvo.out" 2>&1 &
    else
        env -u QT_QPA_PLATFORM TORVO_WIDGETSET=headless "$torvo" >"$work/torvo.out" 2>&1 &
    fi
    pid=$!
    for _ in $(seq 100); do
        compgen -G "$XDG_RUNTIME_DIR/torvo/TFormTorvo.*.sock" >/dev/null && return 0
        sleep 0.1
    done
    echo "the program did not open its window" >&2
    exit 1
}
stop() {
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
}

idle_percent() {
    start "$1"
    sleep 1  # the first paint
    local before after
    before=$(cpu_ticks "$pid")
    sleep "$secs"
    after=$(cpu_ticks "$pid")
    stop
    awk -v t=$((after - before)) -v hz="$ticks_per_second" -v s="$secs" 'BEGIN { printf "%.2f", 100 * t / hz / s }'
}

backup_seconds() {
    rm -rf "$HOME/ZALOHY"
    start "$1"
    local t0 t1 reply
    t0=$(date +%s.%N)
    reply=$("$caller" --command 1 --mode 10 --folder 'C:\data\' --timeout 600)
    t1=$(date +%s.%N)
    [[ $reply == "reply 110" ]] || { echo "backup failed: $reply" >&2; exit 1; }
    wait "$pid" 2>/dev/null || true
    pid=
    unzip -tqq "$HOME/ZALOHY/Ucto (001).ZIP" >/dev/null || { echo "the archive does not test" >&2; exit 1; }
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }'
}

qt_idle=$(idle_percent qt)
headless_idle=$(idle_percent headless)
echo "idle ${secs} s with the main window shown (% of one core):"
echo "  qt offscreen $qt_idle   headless $headless_idle"

qt_sum=0 headless_sum=0
for r in $(seq "$rounds"); do
    q=$(backup_seconds qt)
    h=$(backup_seconds headless)
    echo "backup of $mb MB, round $r: qt $q s   headless $h s"
    qt_sum=$(awk -v a="$qt_sum" -v b="$q" 'BEGIN { print a + b }')
    headless_sum=$(awk -v a="$headless_sum" -v b="$h" 'BEGIN { print a + b }')
done
awk -v q="$qt_sum" -v h="$headless_sum" 'BEGIN { printf "backup qt/headless (sum of rounds): %.3f\n", q / h }'
