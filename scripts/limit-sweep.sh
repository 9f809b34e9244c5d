#!/usr/bin/env bash
# Adds to and extracts from archives of every writable format under file-size limits (ulimit -f)
# and counts the outcomes: a run must end with a report (exit 1, 25160) rather than a signal, keep
# the old archive as it was, and leave neither a cut file nor a temporary file behind.
#   bash scripts/limit-sweep.sh [build-asan]
set -u
build=${1:-build-asan}
tool=$(realpath "$build/tools/plxtool")
work=$(mktemp -d /tmp/limit-sweep-XXXXXX)
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work/tmp" XDG_STATE_HOME="$work/state"
mkdir -p "$TMPDIR" "$work/src"
echo "a small file" >"$work/src/small.txt"
head -c 900000 /dev/urandom >"$work/src/big.bin"
runs=0 good=0 bad=0
check() {  # what, rc, output, folder that must hold no leftovers
    runs=$((runs + 1))
    local leftovers
    leftovers=$(find "$4" "$TMPDIR" \( -name '*.tmp*' -o -name big.bin \) 2>/dev/null | head -3)
    if [ "$2" = 1 ] && grep -q 25160 <<<"$3" && [ -z "$leftovers" ]; then
        good=$((good + 1))
    else
        bad=$((bad + 1))
        echo "FAULT $1: rc $2 ${leftovers:+leftovers: $leftovers }$(head -c 300 <<<"$3")"
    fi
}
for type in zip jar tar tgz tbz lha bh cab gz bz2 uue; do
    input="$work/src"
    case $type in gz | bz2 | uue) input="$work/src/big.bin" ;; esac
    for blocks in 16 64 256 512; do
        dir="$work/$type-$blocks"
        mkdir -p "$dir"
        archive="$dir/a.$type"
        # add: over an old archive where the format updates one
        case $type in gz | bz2 | uue) ;; *) "$tool" add "$archive" "$work/src/small.txt" -t $type >/dev/null 2>&1 ;; esac
        old=$(cat "$archive" 2>/dev/null | md5sum)
        out=$(bash -c "ulimit -f $blocks; exec '$tool' add '$archive' '$input' -t $type" 2>&1)
        rc=$?
        [ "$old" = "$(cat "$archive" 2>/dev/null | md5sum)" ] || out="old archive changed; $out"
        check "add $type ulimit $blocks" $rc "$out" "$dir"
        # extract: an archive made without the limit
        rm -f "$archive"
        "$tool" add "$archive" "$input" -t $type >/dev/null 2>&1 || { echo "cannot make $type"; continue; }
        out=$(bash -c "ulimit -f $blocks; exec '$tool' extract '$archive' '$dir/x'" 2>&1)
        rc=$?
        check "extract $type ulimit $blocks" $rc "$out" "$dir/x"
    done
done
echo "limit sweep: $runs runs, $good ended as a full disk, $bad faults"
[ "$bad" = 0 ]
