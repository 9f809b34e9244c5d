#!/usr/bin/env bash
# Our ZIP writer and extractor against Info-ZIP and 7-Zip on one corpus, in one run.
# Usage: bench/zip_bench.sh [ROUNDS] [BUILD_DIR]   (defaults: 3 rounds, build/ of a release build)
# Times are the median of the rounds; ratios are ours / theirs, lower is better.
# The corpus (~150 MB: docs, shared libraries, random, highly compressible, many small files) is
# made under /tmp and removed at the end.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=corpus_lib.sh
source "$root/bench/corpus_lib.sh"
bench_start "${1:-}" "${2:-}" zip unzip 7zz openssl

work=$(mktemp -d /tmp/torvo-zipbench-XXXXXX)
[[ -n ${KEEP:-} ]] || trap 'rm -rf "$work"' EXIT
corpus=$work/corpus

make_corpus() {
    mkdir -p "$corpus"/{doc,lib,random,packed,small}
    copy_budget /usr/share/doc "$corpus/doc" 45 4
    copy_budget /usr/lib/x86_64-linux-gnu "$corpus/lib" 55 24 -name '*.so*'
    random_bytes one $((8 << 20)) >"$corpus/random/one.bin"
    random_bytes two $((3 << 20)) >"$corpus/random/two.bin"
    awk 'BEGIN {for (i = 1; i <= 400000; i++) printf "record %08d status=ok user=backup folder=C:\\Data\\%d\n", i, i % 97}' \
        >"$corpus/packed/log.txt"
    head -c $((12 << 20)) /dev/zero >"$corpus/packed/zeros.bin"
    : >"$corpus/packed/empty.txt"
    make_small_files "$corpus/small"
}

# 2000 small files in nested folders: two thirds short text, one third random slices of a pool.
make_small_files() {
    local dest=$1 pool=$work/pool.bin i d
    random_bytes pool $((1 << 20)) >"$pool"
    for ((i = 0; i < 2000; i++)); do
        d=$dest/d$((i % 40))/e$((i % 7))
        mkdir -p "$d"
        if ((i % 3 == 0)); then
            dd if="$pool" of="$d/f$i.bin" iflag=skip_bytes,count_bytes skip=$((i * 397)) \
                count=$((100 + i * 37 % 4000)) status=none
        fi
    done
    awk -v dest="$dest" 'BEGIN {
        for (i = 0; i < 2000; i++) {
            if (i % 3 == 0) continue
            f = sprintf("%s/d%d/e%d/f%d.txt", dest, i % 40, i % 7, i)
            for (n = 1; n <= 1 + i % 150; n++) printf "line %d of file %d\n", n, i > f
            close(f)
        }
    }'
    rm "$pool"
}

now() { echo "$EPOCHREALTIME"; }

# Median of the arguments.
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

# Runs the command in "$@" ROUNDS times after CLEAN (a command string) each time; prints the median.
time_median() {
    local clean=$1
    shift
    local times=() t0 r
    for ((r = 0; r < rounds; r++)); do
        eval "$clean"
        sync
        t0=$(now)
        "$@" >/dev/null
        times+=("$(awk -v a="$t0" -v b="$(now)" 'BEGIN {print b - a}')")
    done
    median "${times[@]}"
}

ours_add() { "$plxtool" add "$work/ours.zip" "$corpus" -r; }
info_zip_add() { (cd "$corpus" && zip -r -6 -q "$work/infozip.zip" .); }
ours_extract() { "$plxtool" extract "$work/ours.zip" "$work/out"; }
unzip_extract() { unzip -q "$work/ours.zip" -d "$work/out"; }
sevenzip_extract() { 7zz x -y -bd "-o$work/out" "$work/ours.zip"; }

fail() { echo "FAIL: $*" >&2; exit 1; }

make_corpus
files=$(find "$corpus" -type f | wc -l)
bytes=$(du -sb "$corpus" | cut -f1)
printf 'corpus: %d files, %.1f MB; %d rounds, median\n' "$files" "$(awk -v b="$bytes" 'BEGIN {print b / 1048576}')" "$rounds"

# Nothing is timed until our archive is sound to Info-ZIP and every extractor gives the source back.
ours_add >/dev/null || fail "plxtool add"
unzip -tq "$work/ours.zip" >/dev/null || fail "unzip -t rejects our archive"
for extractor in ours_extract unzip_extract sevenzip_extract; do
    rm -rf "$work/out"
    $extractor >/dev/null || fail "$extractor"
    diff -r "$corpus" "$work/out" >/dev/null || fail "$extractor: tree differs from the source"
done

t_add=$(time_median 'rm -f "$work/ours.zip"' ours_add)
t_zip=$(time_median 'rm -f "$work/infozip.zip"' info_zip_add)
t_ext=$(time_median 'rm -rf "$work/out"' ours_extract)
t_unzip=$(time_median 'rm -rf "$work/out"' unzip_extract)
t_7z=$(time_median 'rm -rf "$work/out"' sevenzip_extract)

size_ours=$(stat -c %s "$work/ours.zip")
size_zip=$(stat -c %s "$work/infozip.zip")

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
printf 'add      ours %7.3f s   zip -6   %7.3f s   ratio %s\n' "$t_add" "$t_zip" "$(ratio "$t_add" "$t_zip")"
printf 'extract  ours %7.3f s   unzip    %7.3f s   ratio %s\n' "$t_ext" "$t_unzip" "$(ratio "$t_ext" "$t_unzip")"
printf 'extract  ours %7.3f s   7zz x    %7.3f s   ratio %s\n' "$t_ext" "$t_7z" "$(ratio "$t_ext" "$t_7z")"
printf 'size     ours %d   zip -6 %d   ratio %s\n' "$size_ours" "$size_zip" "$(ratio "$size_ours" "$size_zip")"
echo "zip_bench add=$(ratio "$t_add" "$t_zip") extract_unzip=$(ratio "$t_ext" "$t_unzip")" \
    "extract_7zz=$(ratio "$t_ext" "$t_7z") size=$(ratio "$size_ours" "$size_zip")"
