#!/usr/bin/env bash
# Our ARJ -m1 extraction against `arj x` on one corpus, in one run.
# Usage: bench/arj_bench.sh [ROUNDS] [BUILD_DIR]   (defaults: 3 rounds, build/ of a release build)
# Both extract the same archive that `arj a -m1` made: the tree (~64 MB: docs, shared libraries,
# a log, random) and the same bytes as one file. Times are medians; ratios are ours / theirs,
# lower is better. The corpus is made under /tmp and removed at the end.
set -euo pipefail

rounds=${1:-3}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build}
plxtool=$build/tools/plxtool
[[ -x $plxtool ]] || { echo "no $plxtool: cmake --preset release && cmake --build build -j4" >&2; exit 2; }
for t in arj openssl; do
    command -v "$t" >/dev/null || { echo "needs $t" >&2; exit 2; }
done

work=$(mktemp -d /tmp/torvo-arjbench-XXXXXX)
[[ -n ${KEEP:-} ]] || trap 'rm -rf "$work"' EXIT
corpus=$work/corpus
# shellcheck source=corpus_lib.sh
source "$root/bench/corpus_lib.sh"

mkdir -p "$corpus"/{doc,lib,other}
copy_budget /usr/share/doc "$corpus/doc" 30 4
copy_budget /usr/lib/x86_64-linux-gnu "$corpus/lib" 26 8 -name '*.so*'
random_bytes arj $((4 << 20)) >"$corpus/other/random.bin"
awk 'BEGIN {for (i = 1; i <= 80000; i++) printf "record %08d status=ok user=backup folder=C:\\Data\\%d\n", i, i % 97}' \
    >"$corpus/other/log.txt"
echo "corpus: $(du -sm "$corpus" | cut -f1) MB, $(find "$corpus" -type f | wc -l) files"
mkdir -p "$work/one"
find "$corpus" -type f -print0 | sort -z | xargs -0 cat >"$work/one/corpus.bin"
(cd "$corpus" && arj a -y -r -m1 "$work/tree.arj" '*' >/dev/null </dev/null)
(cd "$work/one" && arj a -y -m1 "$work/one.arj" corpus.bin >/dev/null </dev/null)

seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null 2>&1 </dev/null; t1=$(date +%s.%N); awk -v a="$t1" -v b="$t0" 'BEGIN {print a - b}'; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }

tree_ours=() tree_theirs=() one_ours=() one_theirs=()
for ((r = 0; r < rounds; r++)); do
    rm -rf "$work/x1" "$work/x2" "$work/y1" "$work/y2" && mkdir -p "$work/x1" "$work/x2" "$work/y1" "$work/y2"
    tree_ours+=("$(seconds "$plxtool" extract "$work/tree.arj" "$work/x1")")
    tree_theirs+=("$(cd "$work/x2" && seconds arj x -y "$work/tree.arj")")
    one_ours+=("$(seconds "$plxtool" extract "$work/one.arj" "$work/y1")")
    one_theirs+=("$(cd "$work/y2" && seconds arj x -y "$work/one.arj")")
done

# Right before fast: our extraction equals the corpus.
diff -r "$corpus" "$work/x1" >/dev/null || { echo "our extraction differs from the corpus" >&2; exit 1; }
cmp -s "$work/one/corpus.bin" "$work/y1/corpus.bin" || { echo "our extraction of one.arj differs" >&2; exit 1; }

to=$(median "${tree_ours[@]}") tt=$(median "${tree_theirs[@]}")
oo=$(median "${one_ours[@]}") ot=$(median "${one_theirs[@]}")
printf '| step | ours | theirs | ratio |\n|---|---|---|---|\n'
printf '| extract -m1, the tree (arj x) | %.2f s | %.2f s | %s |\n' "$to" "$tt" "$(ratio "$to" "$tt")"
printf '| extract -m1, one file (arj x) | %.2f s | %.2f s | %s |\n' "$oo" "$ot" "$(ratio "$oo" "$ot")"
echo "ratios: tree $(ratio "$to" "$tt") one $(ratio "$oo" "$ot")"
