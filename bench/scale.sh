#!/usr/bin/env bash
# Cost per file as the number of files grows: add, test and extract, ZIP and TAR, for 2.5k, 5k,
# 10k and 20k small files in one folder (flat) and in folders of 100 (nested), against zip/unzip
# and tar on the same tree in the same run, ours and theirs alternating round by round.
# Usage: bench/scale.sh [ROUNDS] [BUILD_DIR] [WORK_DIR]
#   (defaults: 3 rounds, build/ of a release build, $WORK or $TMPDIR or /tmp)
# The work folder decides what is measured: a folder on a real disk (/tmp here is ext4) shows what
# a user waits for, tmpfs (/dev/shm) the programs' own cost. SIZES="2500 100000" and
# LAYOUTS=flat narrow or widen the run, OPS="tar-add tar-test" picks the operations; KEEP=1 leaves
# the work folder.
# Prints microseconds per file (median of the rounds) and the ratio ours / theirs, then the peak
# memory of each operation at the largest size; fails when our time per file at the largest size
# is more than 1.5x that at the smallest for any operation, judged on the fastest round of each,
# which the load of a shared machine moves least.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=corpus_lib.sh
source "$root/bench/corpus_lib.sh"
bench_start "${1:-}" "${2:-}" zip unzip tar
# shellcheck source=scale_lib.sh
source "$root/bench/scale_lib.sh"

work=$(mktemp -d "${3:-${WORK:-${TMPDIR:-/tmp}}}/torvo-scale-XXXXXX")
[[ -n ${KEEP:-} ]] || trap 'rm -rf "$work"' EXIT
echo "work folder: $work ($(df -T "$work" | awk 'NR == 2 {print $2}'))"
# Our temporary archive on the archive's own drive, where zip writes its own: a new archive is
# then renamed into place rather than copied across file systems.
export TMPDIR=$work
read -r -a sizes <<<"${SIZES:-2500 5000 10000 20000}"
read -r -a layouts <<<"${LAYOUTS:-flat nested}"
read -r -a ops <<<"${OPS:-zip-add zip-test zip-extract tar-add tar-test tar-extract}"

# The commands per operation: ours, theirs and what each round starts from. S is the tree, O the
# output folder; the archives are the other tool's where we read, so both read the same bytes.
declare -A oursCmd=(
    [zip-add]='"$plxtool" add "$work/ours.zip" "$src" -r'
    [zip-test]='"$plxtool" test "$work/theirs.zip"'
    [zip-extract]='"$plxtool" extract "$work/theirs.zip" "$out"'
    [tar-add]='"$plxtool" add "$work/ours.tar" "$src" -r -t tar'
    [tar-test]='"$plxtool" test "$work/theirs.tar"'
    [tar-extract]='"$plxtool" extract "$work/theirs.tar" "$out"'
)
declare -A theirsCmd=(
    [zip-add]='bash -c "cd \"$src\" && zip -qrD -6 \"$work/t.zip\" ."'
    [zip-test]='unzip -tq "$work/theirs.zip"'
    [zip-extract]='unzip -q "$work/theirs.zip" -d "$out"'
    [tar-add]='tar cf "$work/t.tar" -C "$src" .'
    [tar-test]='tar tf "$work/theirs.tar"'
    [tar-extract]='tar xf "$work/theirs.tar" -C "$out"'
)
declare -A cleanCmd=(
    [zip-add]='rm -f "$work/ours.zip" "$work/t.zip"'
    [zip-test]=:
    [zip-extract]='rm -rf "$out"'
    [tar-add]='rm -f "$work/ours.tar" "$work/t.tar"'
    [tar-test]=:
    [tar-extract]='rm -rf "$out" && mkdir -p "$out"'
)

# shellcheck disable=SC2034  # read by report_row
declare -A first=()
declare -A peakOurs=() peakTheirs=()
status=0
print_header
for layout in "${layouts[@]}"; do
    for n in "${sizes[@]}"; do
        src=$work/src && rm -rf "$src" && make_tree "$src" "$n" "$layout"
        out=$work/out
        # Correctness first: our archives pass the other tools, our extraction gives the tree back.
        (cd "$src" && zip -qrD -6 "$work/theirs.zip" . && tar cf "$work/theirs.tar" .)
        "$plxtool" add "$work/ours.zip" "$src" -r >/dev/null || fail "plxtool add zip"
        unzip -tq "$work/ours.zip" >/dev/null || fail "unzip -t rejects our archive"
        "$plxtool" add "$work/ours.tar" "$src" -r -t tar >/dev/null || fail "plxtool add tar"
        rm -rf "$out" && mkdir -p "$out" && tar xf "$work/ours.tar" -C "$out" && diff -r "$src" "$out" >/dev/null ||
            fail "tar reads our archive differently"
        rm -rf "$out" && "$plxtool" extract "$work/theirs.zip" "$out" >/dev/null && diff -r "$src" "$out" >/dev/null ||
            fail "our zip extraction differs"
        rm -rf "$out" && "$plxtool" extract "$work/theirs.tar" "$out" >/dev/null && diff -r "$src" "$out" >/dev/null ||
            fail "our tar extraction differs"

        for op in "${ops[@]}"; do
            read -r om ob tm tb <<<"$(time_pair "${cleanCmd[$op]}" "${oursCmd[$op]}" "${theirsCmd[$op]}")"
            report_row "$layout" "$n" "$op" "$om $ob" "$tm $tb"
            if ((n == sizes[-1])); then
                peakOurs[$layout-$op]=$(peak_kb "${cleanCmd[$op]}" "${oursCmd[$op]}")
                peakTheirs[$layout-$op]=$(peak_kb "${cleanCmd[$op]}" "${theirsCmd[$op]}")
            fi
        done
        rm -rf "$out" "$work"/*.zip "$work"/*.tar
    done
done
echo
printf '%-8s %-7s %-16s %9s %9s %6s\n' layout files "peak memory" "ours KB" "theirs KB" ratio
for layout in "${layouts[@]}"; do
    for op in "${ops[@]}"; do
        printf '%-8s %-7s %-16s %9s %9s %6s\n' "$layout" "${sizes[-1]}" "$op" "${peakOurs[$layout-$op]}" \
            "${peakTheirs[$layout-$op]}" "$(ratio "${peakOurs[$layout-$op]}" "${peakTheirs[$layout-$op]}")"
    done
done
exit $status
