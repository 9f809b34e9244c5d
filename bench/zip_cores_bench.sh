#!/usr/bin/env bash
# ZIP creation on every core and on one, against 7-Zip at a like level, on a ~256 MB tree.
# Usage: bench/zip_cores_bench.sh [ROUNDS] [BUILD_DIR] [WORK_PARENT]   (defaults: 3, build/, /tmp)
# Ours and 7zz alternate within each round; times are medians, ratios ours / 7zz (lower is better).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=corpus_lib.sh
source "$root/bench/corpus_lib.sh"
bench_start "${1:-}" "${2:-}" 7zz unzip openssl taskset

work=$(mktemp -d "${3:-/tmp}/torvo-zipcores-XXXXXX")
[[ -n ${KEEP:-} ]] || trap 'rm -rf "$work"' EXIT
corpus=$work/corpus

mkdir -p "$corpus"/{doc,lib,text,random}
copy_budget /usr/share/doc "$corpus/doc" 100 8
copy_budget /usr/lib/x86_64-linux-gnu "$corpus/lib" 120 8 -name '*.so*'
awk 'BEGIN {for (f = 0; f < 40; f++) { out = sprintf("'"$corpus"'/text/log%02d.txt", f)
     for (i = 1; i <= 12000; i++) printf "record %08d status=ok user=backup folder=C:\\Data\\%d\n", i * f, i % 97 > out
     close(out) } }'
random_bytes cores $((8 << 20)) >"$corpus/random/noise.bin"
echo "corpus: $(du -sm "$corpus" | cut -f1) MB, $(find "$corpus" -type f | wc -l) files, $(nproc) cores"

ours() { $1 "$plxtool" add "$work/ours.zip" "$corpus" -r; }
theirs() { (cd "$corpus" && $1 7zz a -tzip -mx5 $2 -bd "$work/7zz.zip" . >/dev/null); }

ours "" >/dev/null
unzip -tq "$work/ours.zip" >/dev/null || { echo "FAIL: unzip -t of our archive" >&2; exit 1; }
rm -rf "$work/check" && mkdir "$work/check" && unzip -q "$work/ours.zip" -d "$work/check" &&
    diff -r "$corpus" "$work/check" >/dev/null || { echo "FAIL: our archive does not give the tree back" >&2; exit 1; }
rm -rf "$work/check"
theirs "" ""
echo "size ours $(stat -c %s "$work/ours.zip"), 7zz $(stat -c %s "$work/7zz.zip")"

declare -a om=() tm=() o1=() t1=()
for ((r = 0; r < rounds; r++)); do
    rm -f "$work/ours.zip" "$work/7zz.zip"; om+=("$(seconds ours "")")
    theirsall() { theirs "" ""; }; tm+=("$(seconds theirsall)")
    rm -f "$work/ours.zip" "$work/7zz.zip"; o1+=("$(seconds ours "taskset -c 0")")
    theirsone() { theirs "taskset -c 0" "-mmt1"; }; t1+=("$(seconds theirsone)")
done
a=$(median "${om[@]}") b=$(median "${tm[@]}") c=$(median "${o1[@]}") d=$(median "${t1[@]}")
printf 'all cores: ours %.2f s, 7zz -tzip -mx5 %.2f s, ratio %s\n' "$a" "$b" "$(ratio "$a" "$b")"
printf 'one core:  ours %.2f s, 7zz -tzip -mx5 -mmt1 %.2f s, ratio %s\n' "$c" "$d" "$(ratio "$c" "$d")"
