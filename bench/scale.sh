#!/usr/bin/env bash
# Cost per file as the number of files grows: add and extract, ZIP and TAR, for 2.5k, 5k, 10k and
# 20k small files in one folder (flat) and in folders of 100 (nested), against zip/unzip and tar on
# the same tree in the same run.
# Usage: bench/scale.sh [ROUNDS] [BUILD_DIR]   (defaults: 3 rounds, build/ of a release build)
# Prints microseconds per file (median of the rounds) and the ratio ours / theirs; fails when our
# time per file at 20k is more than 1.5x that at 2.5k for any operation, judged on the fastest
# round of each, which the load of a shared machine moves least. WORK=DIR picks the
# scratch folder (default $TMPDIR or /tmp); KEEP=1 leaves it.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=corpus_lib.sh
source "$root/bench/corpus_lib.sh"
bench_start "${1:-}" "${2:-}" zip unzip tar
# shellcheck source=scale_lib.sh
source "$root/bench/scale_lib.sh"

work=$(mktemp -d "${WORK:-${TMPDIR:-/tmp}}/torvo-scale-XXXXXX")
[[ -n ${KEEP:-} ]] || trap 'rm -rf "$work"' EXIT
# Our temporary archive on the archive's own drive, where zip writes its own: a new archive is
# then renamed into place rather than copied across file systems.
export TMPDIR=$work
sizes=(2500 5000 10000 20000)

# shellcheck disable=SC2034  # read by report_row
declare -A first=()
status=0
print_header
for layout in flat nested; do
    for n in "${sizes[@]}"; do
        src=$work/src && rm -rf "$src" && make_tree "$src" "$n" "$layout"
        out=$work/out
        # Correctness first: our archives pass the other tools, our extraction gives the tree back.
        (cd "$src" && zip -qrD -6 "$work/theirs.zip" . && ls | tar cf "$work/theirs.tar" -T -)
        "$plxtool" add "$work/ours.zip" "$src" -r >/dev/null || fail "plxtool add zip"
        unzip -tq "$work/ours.zip" >/dev/null || fail "unzip -t rejects our archive"
        "$plxtool" add "$work/ours.tar" "$src" -r -t tar >/dev/null || fail "plxtool add tar"
        rm -rf "$out" && mkdir -p "$out" && tar xf "$work/ours.tar" -C "$out" && diff -r "$src" "$out" >/dev/null ||
            fail "tar reads our archive differently"
        rm -rf "$out" && "$plxtool" extract "$work/theirs.zip" "$out" >/dev/null && diff -r "$src" "$out" >/dev/null ||
            fail "our zip extraction differs"
        rm -rf "$out" && "$plxtool" extract "$work/theirs.tar" "$out" >/dev/null && diff -r "$src" "$out" >/dev/null ||
            fail "our tar extraction differs"

        declare -A ours=() theirs=()
        ours[zip-add]=$(time_median 'rm -f "$work/ours.zip"' "$plxtool" add "$work/ours.zip" "$src" -r)
        theirs[zip-add]=$(time_median 'rm -f "$work/t.zip"' bash -c 'cd "$1" && zip -qrD -6 "$2" .' _ "$src" "$work/t.zip")
        ours[zip-extract]=$(time_median 'rm -rf "$out"' "$plxtool" extract "$work/theirs.zip" "$out")
        theirs[zip-extract]=$(time_median 'rm -rf "$out"' unzip -q "$work/theirs.zip" -d "$out")
        ours[tar-add]=$(time_median 'rm -f "$work/ours.tar"' "$plxtool" add "$work/ours.tar" "$src" -r -t tar)
        theirs[tar-add]=$(time_median 'rm -f "$work/t.tar"' bash -c 'cd "$1" && ls | tar cf "$2" -T -' _ "$src" "$work/t.tar")
        ours[tar-extract]=$(time_median 'rm -rf "$out"' "$plxtool" extract "$work/theirs.tar" "$out")
        theirs[tar-extract]=$(time_median 'rm -rf "$out" && mkdir -p "$out"' tar xf "$work/theirs.tar" -C "$out")
        for op in zip-add zip-extract tar-add tar-extract; do
            report_row "$layout" "$n" "$op" "${ours[$op]}" "${theirs[$op]}"
        done
        rm -f "$work"/*.zip "$work"/*.tar
    done
done
exit $status
