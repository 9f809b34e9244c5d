#!/bin/sh
# UU and Base64 encoding and decoding: plxtool against uuencode/uudecode and base64 on one input.
# Usage: bench/uu_bench.sh [MiB] [ROUNDS] [BUILD_DIR]      (defaults: 64, 3, build)
# Ratios are ours / theirs (median seconds of the rounds), lower is better.
set -eu
MIB=${1:-64}
ROUNDS=${2:-3}
BUILD=${3:-build}
PLX=$(cd "$BUILD/tools" && pwd)/plxtool
for t in uuencode uudecode base64; do
    command -v $t >/dev/null || { echo "missing $t" >&2; exit 1; }
done
W=$(mktemp -d /tmp/torvo-uubench-XXXXXX)
trap 'rm -rf "$W"' EXIT
cd "$W"
# Half noise, half text: both kinds of bytes a mail attachment carries.
head -c $((MIB * 512 * 1024)) /dev/urandom > in.bin
find /usr/share/doc -type f -name '*.gz' -prune -o -type f -print 2>/dev/null | head -2000 | xargs cat 2>/dev/null |
    head -c $((MIB * 512 * 1024)) >> in.bin
truncate -s $((MIB * 1024 * 1024)) in.bin

# Tool inputs for the decoders; a MIME header makes base64's output one of our files too.
uuencode in.bin in.bin > tool.uue
base64 in.bin > tool.b64
{ printf 'Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename="in.bin"\r\n\r\n'; cat tool.b64; } > tool.mim

# Every result is checked once before anything is timed.
check() { cmp -s "$1" in.bin || { echo "wrong output: $2" >&2; exit 1; }; }
"$PLX" add ours.uue in.bin -t uue && rm -rf d && mkdir d && (cd d && uudecode ../ours.uue) && check d/in.bin "uudecode of ours"
"$PLX" add ours.mim in.bin -t b64 && sed -n '/^begin-base64/,/^====/p' ours.mim | sed '1d;$d' | tr -d '\r' | base64 -d > d/b && check d/b "base64 -d of ours"
rm -rf o && "$PLX" extract tool.uue o >/dev/null && check o/in.bin "our decoding of uuencode"
rm -rf o && "$PLX" extract tool.mim o >/dev/null && check o/in.bin "our decoding of base64"

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
seconds() {  # command; prints its wall time
    rm -rf o
    s=$(date +%s.%N)
    sh -c "$1" >/dev/null
    e=$(date +%s.%N)
    awk "BEGIN { print $e - $s }"
}
row() {  # name, ours, theirs: the two alternate, so a change of the machine's load hits both
    : > ours.t
    : > theirs.t
    i=0
    while [ $i -lt "$ROUNDS" ]; do
        seconds "$2" >> ours.t
        seconds "$3" >> theirs.t
        i=$((i + 1))
    done
    ours=$(median < ours.t)
    theirs=$(median < theirs.t)
    printf '%-28s %8.3f s %8.3f s %6.2f\n' "$1" "$ours" "$theirs" "$(awk "BEGIN { print $ours / $theirs }")"
}
printf '%-28s %10s %10s %6s\n' "$MIB MiB" ours theirs ratio
row "encode UU vs uuencode" "'$PLX' add o.uue in.bin -t uue" "uuencode in.bin in.bin > o.uue"
row "decode UU vs uudecode" "'$PLX' extract tool.uue o" "uudecode -o o.bin tool.uue"
row "encode Base64 vs base64" "'$PLX' add o.mim in.bin -t b64" "base64 in.bin > o.b64"
row "decode Base64 vs base64 -d" "'$PLX' extract tool.mim o" "base64 -d tool.b64 > o.bin"
