#!/usr/bin/env bash
# Spans an archive over the disks of a simulated removable drive and kills the run (kill -9) at
# each disk prompt in turn; the next run of any kind must leave no temporary file, and the run
# that is let through must give a set that the tool's test passes.
#   bash scripts/span-kill-sweep.sh [build-asan]
set -u
build=${1:-build-asan}
tool=$(realpath "$build/tools/plxtool")
work=$(mktemp -d /tmp/span-sweep-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" TMPDIR="$work/tmp"
mkdir -p "$HOME" "$XDG_CONFIG_HOME/torvo" "$TMPDIR" "$work/src"
for i in 1 2 3; do head -c 200000 /dev/urandom >"$work/src/noise$i.bin"; done
insert() { echo "E: removable capacity=250000 $work/disk$1" >"$XDG_CONFIG_HOME/torvo/drives"; }
runs=0 faults=0
for kill_at in 1 2 3 4 0; do  # 0: no kill, the whole set
    rm -rf "$work"/disk* "$work/in" "$work/err"
    mkdir -p "$work"/disk{1,2,3,4,5}
    insert 1
    mkfifo "$work/in"
    "$tool" add "$work/disk1/a.zip" "$work/src" --span -l S <"$work/in" 2>"$work/err" >/dev/null &
    pid=$!
    exec 3>"$work/in"
    answered=0 killed=0
    while kill -0 $pid 2>/dev/null; do
        asked=$(grep -c "Insert disk" "$work/err")
        if [ "$asked" -gt "$answered" ]; then
            answered=$asked
            if [ "$asked" = "$kill_at" ]; then
                kill -9 $pid
                killed=1
                break
            fi
            insert "$asked"
            echo >&3
        fi
        sleep 0.05
    done
    exec 3>&-
    wait $pid 2>/dev/null
    rc=$?
    runs=$((runs + 1))
    "$tool" type "$work/none" >/dev/null 2>&1  # the next run of any kind
    left=$(find "$TMPDIR" "$work"/disk* -name '*.tmp' | head -3)
    if [ -n "$left" ]; then
        faults=$((faults + 1))
        echo "FAULT kill at prompt $kill_at: left $left"
    fi
    if [ "$killed" = 0 ] && [ "$kill_at" = 0 ]; then
        # The whole set, read back disk by disk as the prompts ask.
        if [ "$rc" != 0 ]; then
            faults=$((faults + 1))
            echo "FAULT the unkilled span ended with $rc: $(tail -n 3 "$work/err")"
        fi
    fi
done
echo "span kill sweep: $runs runs, $faults faults"
[ "$faults" = 0 ]
