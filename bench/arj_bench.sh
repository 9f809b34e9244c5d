#!/usr/bin/env bash
# Our ARJ -m1 extraction against `arj x` on one corpus, in one run.
# Usage: bench/arj_bench.sh [ROUNDS] [BUILD_DIR]   (defaults: 3 rounds, build/ of a release build)
# Both extract the same archive that `arj a -m1` made: the tree (~64 MB: docs, shared libraries,
# a log, random) and the same bytes as one file. Times are medians; ratios are ours / theirs,
# lower is better. The corpus is made under /tmp and removed at the end.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=corpus_lib.sh
source "$root/bench/corpus_lib.sh"
bench_start "${1:-}" "${2:-}" arj openssl

work=$(mktemp -d /tmp/torvo-arjbench-XXXXXX)
[[ -n ${KEEP:-} ]] || trap 'rm -rf "$work"' EXIT
corpus=$work/corpus
mixed_corpus arj
mkdir -p "$work/one"
find "$corpus" -type f -print0 | sort -z | xargs -0 cat >"$work/one/corpus.bin"
(cd "$corpus" && arj a -y -r -m1 "$work/tree.arj" '*' >/dev/null </dev/null)
(cd "$work/one" && arj a -y -m1 "$work/one.arj" corpus.bin >/dev/null </dev/null)

# arj asks on the terminal when it has one.
seconds_quiet() { seconds "$@" </dev/null; }

tree_ours=() tree_theirs=() one_ours=() one_theirs=()
for ((r = 0; r < rounds; r++)); do
    rm -rf "$work/x1" "$work/x2" "$work/y1" "$work/y2" && mkdir -p "$work/x1" "$work/x2" "$work/y1" "$work/y2"
    tree_ours+=("$(seconds_quiet "$plxtool" extract "$work/tree.arj" "$work/x1")")
    tree_theirs+=("$(cd "$work/x2" && seconds_quiet arj x -y "$work/tree.arj")")
    one_ours+=("$(seconds_quiet "$plxtool" extract "$work/one.arj" "$work/y1")")
    one_theirs+=("$(cd "$work/y2" && seconds_quiet arj x -y "$work/one.arj")")
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
