#!/usr/bin/env bash
# The archive manager with many small files, driven by keys on a running X display (Xvfb with a
# window manager), against plxtool doing the same work:
#   new   - a new ZIP of FILES files from the popup's "New": OK of the add dialog until the split
#           question shows, then Enter until the list shows the new archive;
#   test  - Ctrl+T, Ok, until the program is idle again (Escape closes the result);
#   then, with all rows selected (Home, Shift+End):
#   extract - Ctrl+E, a new folder, Enter, until idle with every file written;
#   test selected - Ctrl+T, Ok, until idle;
#   delete - popup "Delete", Yes, until idle with the archive empty.
# Usage: DISPLAY=:N bench/manager_files.sh [FILES] [ROUNDS] [BUILD_DIR] [WORK_PARENT]
#        (below some 2,000 files the archive is too small for the split question: "new" is then
#        the time until the list shows)
#        (defaults: 20000 files, 3 rounds, build/ of a release build, /tmp); needs xdotool.
set -euo pipefail

files=${1:-20000}
rounds=${2:-3}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${3:-$root/build}
torvo=${TORVO:-$build/torvo}
plxtool=$build/tools/plxtool
[[ -n ${DISPLAY:-} ]] || { echo "set DISPLAY to an X server with a window manager" >&2; exit 2; }
for p in "$torvo" "$plxtool"; do
    [[ -x $p ]] || { echo "no $p: cmake --preset release && cmake --build build -j4" >&2; exit 2; }
done
command -v xdotool >/dev/null || { echo "needs xdotool" >&2; exit 2; }

work=$(mktemp -d "${4:-/tmp}/torvo-managerbench-XXXXXX")
trap 'kill "${pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/cfg XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$work/src" "$work/seed"
chmod 700 "$XDG_RUNTIME_DIR"
unset TORVO_RESPONSES TORVO_TRANSCRIPT
for ((i = 0; i < files; i++)); do
    printf -v name 'f%06d.txt' "$i"
    printf 'line %d of a small file\nline %d of a small file\n' "$i" "$i" >"$work/src/$name"
done
echo seed >"$work/seed/one.txt"
(cd "$work/seed" && zip -q ../seed.zip one.txt)

now() { echo "$EPOCHREALTIME"; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
# Waits until a window whose title matches $1 shows.
shows() { until xdotool search --sync --onlyvisible --name "$1" >/dev/null 2>&1; do sleep 0.05; done; }
# The same, then gives it the keyboard.
focus() {
    local w
    until w=$(xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | tail -1) && [[ -n $w ]]; do sleep 0.05; done
    xdotool windowactivate --sync "$w" 2>/dev/null || true
    sleep 0.2
}
# Waits until the main window's title is $1, at most $2 seconds (default 600).
titled() {
    local end=$((SECONDS + ${2:-600}))
    while ((SECONDS < end)); do
        [[ $(xdotool getwindowname "$main" 2>/dev/null) == "$1" ]] && return 0
        sleep 0.01
    done
    return 1
}
# F2, the archive's name, Enter; again when the keys went astray (the name box completes names).
open_archive() {
    for _ in 1 2 3 4 5; do
        xdotool key F2
        focus '^Open Archive'
        xdotool type --delay 5 "$1"
        xdotool key Return
        titled "$1" 5 && return 0
        xdotool key Return  # the first one took the completion offered
        titled "$1" 60 && return 0
        xdotool key Escape  # the name went astray: close the dialog and start again
        sleep 0.5
    done
    echo "could not open $1" >&2
    exit 1
}

start() {
    rm -rf "$XDG_RUNTIME_DIR/torvo"
    "$torvo" >"$work/torvo.out" 2>&1 &
    pid=$!
    shows '^TORVO'
    main=$(xdotool search --onlyvisible --name '^TORVO' | head -1)
    xdotool windowactivate --sync "$main"
    open_archive "$work/seed.zip"
}
stop() {
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
}
popup() {  # the list's popup menu, its Nth item
    xdotool key shift+F10
    sleep 0.3
    for ((k = 0; k < $1; k++)); do xdotool key Down; done
    xdotool key Return
}

new_round() {
    rm -f "$work/new.zip"
    start
    popup 8  # New
    focus '^New Archive'
    xdotool type --delay 5 "$work/new.zip"
    xdotool key Return
    focus "^$work/new.zip\$"
    xdotool type --delay 5 "$work/src/*"
    xdotool key Return
    local t0
    t0=$(now)
    xdotool key alt+o
    # A small archive is never offered a split: then the list follows at once.
    ask=- listed=-
    until [[ $(xdotool getwindowname "$main" 2>/dev/null) == "$work/new.zip" ]]; do
        if xdotool search --onlyvisible --name 'OnSplitBegin' >/dev/null 2>&1; then
            ask=$(since "$t0")
            focus 'OnSplitBegin'
            t0=$(now)
            xdotool key Return
            titled "$work/new.zip"
            listed=$(since "$t0")
            break
        fi
        sleep 0.01
    done
    [[ $ask != - ]] || ask=$(since "$t0")
}
# Waits until the program has used no CPU for 0.1 s: the end of what the keys started.
quiet() {
    local before after
    while :; do
        before=$(awk '{print $14 + $15}' "/proc/$pid/stat")
        sleep 0.1
        after=$(awk '{print $14 + $15}' "/proc/$pid/stat")
        ((after - before <= 1)) && return 0
    done
}
test_round() {
    local t0
    xdotool key ctrl+t
    focus 'validity test'
    t0=$(now)
    xdotool key Return
    quiet
    tested=$(since "$t0")
    xdotool key Escape
}
extract_round() {
    local t0
    rm -rf "$work/out" && mkdir "$work/out"
    xdotool key ctrl+e
    focus '^Extract$'
    xdotool key ctrl+a
    xdotool type --delay 5 "$work/out"
    t0=$(now)
    xdotool key Return
    while [[ $(find "$work/out" -type f 2>/dev/null | wc -l) -lt $files ]]; do sleep 0.05; done
    quiet
    extracted=$(since "$t0")
}
delete_round() {
    local t0
    popup 2  # Delete
    focus '^Delete'
    t0=$(now)
    xdotool key Return
    while (($(stat -c %s "$work/new.zip") > 100)); do sleep 0.05; done  # the empty archive is 22 bytes
    quiet
    deleted=$(since "$t0")
}

for ((r = 1; r <= rounds; r++)); do
    new_round
    test_round
    all=$tested
    xdotool key Home shift+End
    quiet
    extract_round
    test_round
    delete_round
    stop
    rm -f "$work/tool.zip"
    t0=$(now)
    "$plxtool" add "$work/tool.zip" "$work/src" >/dev/null
    tool=$(since "$t0")
    rm -rf "$work/out" && mkdir "$work/out"
    t0=$(now)
    "$plxtool" extract "$work/tool.zip" "$work/out" >/dev/null
    toolExtract=$(since "$t0")
    echo "round $r, $files files: new ZIP to the split question $ask s, then listed $listed s;" \
        "test $all s; all rows selected: extract $extracted s, test $tested s, delete $deleted s;" \
        "plxtool add $tool s, extract $toolExtract s"
done
