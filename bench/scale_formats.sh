#!/usr/bin/env bash
# Cost per file as the number of files grows, for the formats other than ZIP and TAR: write, list,
# test and extract of LHA, BH, CAB, JAR, TGZ and TBZ archives of ours, read and extract of ARJ and
# LHA archives made by arj and lha, and extraction into a drive with a capacity, for 2.5k, 5k, 10k
# and 20k small files in one folder (flat) and in folders of 100 (nested), against the real tools
# on the same tree in the same run where there is one.
# Usage: bench/scale_formats.sh [ROUNDS] [BUILD_DIR] [WORK_DIR]
#   (defaults: 3 rounds, build/ of a release build, $WORK or $TMPDIR or /tmp)
# Prints microseconds per file (median of the rounds) and the ratio ours / theirs; fails when our
# time per file at 20k is more than 1.5x that at 2.5k for any operation, judged on the fastest
# round of each. The work folder decides what is measured: a real disk (/tmp here is ext4) what a
# user waits for, tmpfs (/dev/shm) the programs' own cost. KEEP=1 leaves it; SIZES="2500 20000",
# LAYOUTS=flat and FORMATS="lha cab" narrow the run.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=corpus_lib.sh
source "$root/bench/corpus_lib.sh"
bench_start "${1:-}" "${2:-}" zip unzip tar gzip bzip2 lha lhasa arj gcab cabextract
# shellcheck source=scale_lib.sh
source "$root/bench/scale_lib.sh"

work=$(mktemp -d "${3:-${WORK:-${TMPDIR:-/tmp}}}/torvo-scalefmt-XXXXXX")
[[ -n ${KEEP:-} ]] || trap 'rm -rf "$work"' EXIT
echo "work folder: $work ($(df -T "$work" | awk 'NR == 2 {print $2}'))"
export TMPDIR=$work
# A drive table of our own: R: holds at most twice what a tree needs, so every write is checked.
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME/torvo" "$work/drive"
read -r -a sizes <<<"${SIZES:-2500 5000 10000 20000}"
read -r -a formats <<<"${FORMATS:-lha bh cab jar tgz tbz}"
read -r -a layouts <<<"${LAYOUTS:-flat nested}"

out=$work/out
same_tree() { diff -r "$src" "$out" >/dev/null; }
extracted_by_us() { rm -rf "$out" && "$plxtool" extract "$1" "$out" >/dev/null 2>&1 && same_tree; }
# The tree's relative names (gcab and lha take names, not folders).
names() { (cd "$src" && find . -type f | sed 's|^\./||' | sort); }

# The reference tool's commands per format and operation, run from the tree's folder for adds;
# A is the archive, O the output folder. No entry: there is no tool to compare with. Names go to
# the tools in one call: gcab would make a new cabinet per call.
declare -A ref=(
    [lha-add]='cd "$S" && lha aq "$A" *'
    [lha-list]='lha l "$A"'
    [lha-test]='lha t "$A"'
    [lha-extract]='mkdir -p "$O" && cd "$O" && lha xq "$A"'
    [cab-add]='cd "$S" && gcab -cz "$A" $(names)'
    [cab-list]='cabextract -l "$A"'
    [cab-test]='cabextract -t "$A"'
    [cab-extract]='cabextract -q -d "$O" "$A"'
    [jar-add]='cd "$S" && zip -qrD -6 "$A" .'
    [jar-list]='unzip -l "$A"'
    [jar-test]='unzip -tq "$A"'
    [jar-extract]='unzip -q "$A" -d "$O"'
    [tgz-add]='tar czf "$A" -C "$S" .'
    [tgz-test]='tar tzf "$A"'
    [tgz-extract]='mkdir -p "$O" && tar xzf "$A" -C "$O"'
    [tbz-add]='tar cjf "$A" -C "$S" .'
    [tbz-test]='tar tjf "$A"'
    [tbz-extract]='mkdir -p "$O" && tar xjf "$A" -C "$O"'
    [arj-list]='arj l "$A"'
    [arj-test]='arj t "$A"'
    [arj-extract]='mkdir -p "$O" && cd "$O" && arj x -y "$A"'
)
theirs_run() { S=$src A=$1 O=$out bash -c "$(declare -f names); $2"; }

# Our archive ACCEPTED by the tool, or the tool's archive read by us.
check_ours() {
    local fmt=$1 a=$2
    case $fmt in
    lha) lhasa t "$a" >/dev/null 2>&1 || fail "lhasa rejects our $fmt archive" ;;
    cab) cabextract -t "$a" >/dev/null 2>&1 || fail "cabextract rejects our cabinet" ;;
    jar) unzip -tq "$a" >/dev/null 2>&1 || fail "unzip rejects our jar" ;;
    tgz | tbz) rm -rf "$out" && mkdir -p "$out" && tar xaf "$a" -C "$out" && same_tree || fail "tar reads our $fmt differently" ;;
    esac
    extracted_by_us "$a" || fail "our extraction of our $fmt differs"
}

# shellcheck disable=SC2034  # read by report_row
declare -A first=()
status=0
print_header
for layout in "${layouts[@]}"; do
    for n in "${sizes[@]}"; do
        src=$work/src && rm -rf "$src" && make_tree "$src" "$n" "$layout"
        declare -A ours=() theirs=()
        for fmt in "${formats[@]}"; do
            a=$work/ours.$fmt t=$work/theirs.$fmt
            "$plxtool" add "$a" "$src" -r -t "$fmt" >/dev/null 2>&1 || fail "plxtool add -t $fmt"
            check_ours "$fmt" "$a"
            ours[$fmt-add]=$(time_median 'rm -f "$a"' "$plxtool" add "$a" "$src" -r -t "$fmt")
            ours[$fmt-list]=$(time_median : "$plxtool" list "$a")
            ours[$fmt-test]=$(time_median : "$plxtool" test "$a")
            ours[$fmt-extract]=$(time_median 'rm -rf "$out"' "$plxtool" extract "$a" "$out")
            for op in add list test extract; do
                [[ -n ${ref[$fmt-$op]:-} ]] || { theirs[$fmt-$op]=; continue; }
                if [[ $op == add ]]; then
                    theirs[$fmt-$op]=$(time_median 'rm -f "$t"' theirs_run "$t" "${ref[$fmt-$op]}")
                else
                    theirs[$fmt-$op]=$(time_median 'rm -rf "$out"' theirs_run "$a" "${ref[$fmt-$op]}")
                fi
            done
            for op in add list test extract; do
                report_row "$layout" "$n" "$fmt-$op" "${ours[$fmt-$op]}" "${theirs[$fmt-$op]}"
            done
            rm -f "$a" "$t"
        done

        # Archives only the tools write: our reading against theirs, on the same archive.
        # Each in one call: both tools rewrite the whole archive for every call that adds to it.
        (cd "$src" && arj a -r -y "$work/tool.arj" >/dev/null && lha aq "$work/tool.lzh" *)
        for a in "$work/tool.arj" "$work/tool.lzh"; do
            fmt=${a##*.} && [[ $fmt == lzh ]] && fmt=lha
            extracted_by_us "$a" || fail "our extraction of $fmt's own archive differs"
            for op in list test extract; do
                clean=: args=("$a")
                [[ $op == extract ]] && clean='rm -rf "$out"' args+=("$out")
                ours[x]=$(time_median "$clean" "$plxtool" "$op" "${args[@]}")
                theirs[x]=$(time_median "$clean" theirs_run "$a" "${ref[$fmt-$op]}")
                report_row "$layout" "$n" "$fmt-tool-$op" "${ours[x]}" "${theirs[x]}"
            done
        done
        rm -f "$work/tool.arj" "$work/tool.lzh"

        # Extraction into a drive with a capacity, against the same extraction without one.
        "$plxtool" add "$work/tree.zip" "$src" -r >/dev/null 2>&1
        echo "R: removable capacity=$((2 * $(du -sb "$src" | cut -f1))) $work/drive" >"$XDG_CONFIG_HOME/torvo/drives"
        rm -rf "$work/drive/o" && "$plxtool" extract "$work/tree.zip" "$work/drive/o" >/dev/null 2>&1 &&
            diff -r "$src" "$work/drive/o" >/dev/null || fail "extraction into the limited drive differs"
        ours[x]=$(time_median 'rm -rf "$work/drive/o"' "$plxtool" extract "$work/tree.zip" "$work/drive/o")
        theirs[x]=$(time_median 'rm -rf "$out"' "$plxtool" extract "$work/tree.zip" "$out")
        report_row "$layout" "$n" "capacity-extract" "${ours[x]}" "${theirs[x]}"
        rm -f "$work/tree.zip" "$XDG_CONFIG_HOME/torvo/drives"
    done
done
exit $status
