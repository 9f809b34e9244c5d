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
# "Until idle" is the program's last CPU tick before 0.2 s without one, and each of these prints
# the program's CPU time beside it. TORVO=PATH runs another build of the manager.
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
[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time" >&2; exit 2; }

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
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }  # CPU time used, in clock ticks
# Waits until the program has used no CPU for 0.1 s: the end of what the keys started.
quiet() {
    local before after
    while :; do
        before=$(ticks "$pid")
        sleep 0.1
        after=$(ticks "$pid")
        ((after - before <= 1)) && return 0
    done
}
# Starts timing what the next key starts: wall time and the program's CPU time.
mark() {
    cpu0=$(ticks "$pid")
    t0=$(now)
}
# Waits until the program has started and then used no CPU for 0.2 s; sets $took to the time of its last tick
# after the mark (so the wait itself does not count) and $cpu to the CPU seconds since the mark.
settle() {
    local last c n idle=0 start=$((SECONDS + 2))
    c=$(ticks "$pid")
    while (($(ticks "$pid") == c && SECONDS < start)); do sleep 0.005; done  # until the work starts
    last=$(now) c=$(ticks "$pid")
    while ((idle < 20)); do
        sleep 0.01
        n=$(ticks "$pid")
        if ((n != c)); then c=$n last=$(now) idle=0; else idle=$((idle + 1)); fi
    done
    took=$(awk -v a="$t0" -v b="$last" 'BEGIN { printf "%.2f", b - a }')
    cpu=$(awk -v t="$((c - cpu0))" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.2f", t / hz }')
}
test_round() {
    xdotool key ctrl+t
    focus 'validity test'
    mark
    xdotool key Return
    settle
    tested="$took s (CPU $cpu)"
    xdotool key Escape
}
extract_round() {
    rm -rf "$work/out" && mkdir "$work/out"
    xdotool key ctrl+e
    focus '^Extract$'
    xdotool key ctrl+a
    xdotool type --delay 5 "$work/out"
    mark
    xdotool key Return
    settle
    local written
    written=$(find "$work/out" -type f | wc -l)
    ((written == files)) || { echo "extracted $written files of $files" >&2; exit 1; }
    extracted="$took s (CPU $cpu)"
}
delete_round() {
    popup 2  # Delete
    focus '^Delete'
    mark
    xdotool key Return
    settle
    (($(stat -c %s "$work/new.zip") == 22)) || { echo "the archive is not empty after the delete" >&2; exit 1; }
    deleted="$took s (CPU $cpu)"
}
# plxtool's wall and CPU time (user + system) of one command.
tool_time() {
    /usr/bin/time -f '%e s (CPU %U %S)' -o "$work/time" "$plxtool" "$@" >/dev/null
    awk '{ printf "%s s (CPU %.2f)", $1, $4 + $5 }' "$work/time"
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
    tool=$(tool_time add "$work/tool.zip" "$work/src")
    rm -rf "$work/out" && mkdir "$work/out"
    toolExtract=$(tool_time extract "$work/tool.zip" "$work/out")
    toolTest=$(tool_time test "$work/tool.zip")
    toolDelete=$(tool_time delete "$work/tool.zip" "*")
    echo "round $r, $files files: new ZIP to the split question $ask s, then listed $listed s;" \
        "test $all; all rows selected: extract $extracted, test $tested, delete $deleted;" \
        "plxtool add $tool, extract $toolExtract, test $toolTest, delete $toolDelete"
done
