#!/usr/bin/env bash
# Peak memory of ZIP creation as the number of files grows, ours against `zip -qr` on the same
# nested tree (folders of 100 small files), alternating round by round.
# Usage: bench/zip_memory.sh [ROUNDS] [BUILD_DIR] [WORK_DIR]
#   (defaults: 3 rounds, build/ of a release build, $WORK or $TMPDIR or /tmp; /dev/shm measures
#   the programs alone). SIZES="2500 10000 100000" picks the trees.
# Prints the median peak resident memory of each tool per size and what each file added to it
# against the smallest tree (bytes per file); checks that the archives hold the same names.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=corpus_lib.sh
source "$root/bench/corpus_lib.sh"
bench_start "${1:-}" "${2:-}" zip unzip
# shellcheck source=scale_lib.sh
source "$root/bench/scale_lib.sh"

work=$(mktemp -d "${3:-${WORK:-${TMPDIR:-/tmp}}}/torvo-zipmem-XXXXXX")
[[ -n ${KEEP:-} ]] || trap 'rm -rf "$work"' EXIT
export TMPDIR=$work
read -r -a sizes <<<"${SIZES:-2500 10000 100000}"

printf '%-8s %10s %10s %12s %12s\n' files "ours KB" "zip KB" "ours B/file" "zip B/file"
firstOurs='' firstZip='' firstN=''
for n in "${sizes[@]}"; do
    src=$work/tree$n
    make_tree "$src" "$n" nested
    ours=() theirs=()
    for ((r = 0; r < rounds; r++)); do
        ours+=("$(peak_kb 'rm -f "$work/ours.zip"' '"$plxtool" add "$work/ours.zip" "$src" -r')")
        theirs+=("$(peak_kb 'rm -f "$work/t.zip"' 'bash -c "cd \"$src\" && zip -qr \"$work/t.zip\" ."')")
    done
    [[ $(unzip -Z1 "$work/ours.zip" | sort | md5sum) == $(unzip -Z1 "$work/t.zip" | grep -v '/$' | sort | md5sum) ]] ||
        fail "the archives of $n files list different names"
    unzip -tq "$work/ours.zip" >/dev/null || fail "unzip -t refuses our archive of $n files"
    o=$(median "${ours[@]}") t=$(median "${theirs[@]}")
    if [[ -z $firstN ]]; then
        firstOurs=$o firstZip=$t firstN=$n
        printf '%-8s %10s %10s %12s %12s\n' "$n" "$o" "$t" - -
    else
        printf '%-8s %10s %10s %12.1f %12.1f\n' "$n" "$o" "$t" \
            "$(awk -v a="$o" -v b="$firstOurs" -v n="$n" -v f="$firstN" 'BEGIN {print (a - b) * 1024 / (n - f)}')" \
            "$(awk -v a="$t" -v b="$firstZip" -v n="$n" -v f="$firstN" 'BEGIN {print (a - b) * 1024 / (n - f)}')"
    fi
    rm -rf "$src" "$work/ours.zip" "$work/t.zip"
done
