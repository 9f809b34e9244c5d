#!/usr/bin/env bash
# Our LZH encoder and -lh5- decoder against the LHA tools on one corpus, in one run.
# Usage: bench/lzh_bench.sh [ROUNDS] [BUILD_DIR]   (defaults: 3 rounds, build/ of a release build)
# Encode: `plxtool add -t lha -m lh5` against `lha a -o5` (time and size). Decode: `plxtool extract`
# against `lhasa x`, both reading the archive that `lha` made. Times are medians; ratios are
# ours / theirs, lower is better. The corpus (~64 MB: docs, shared libraries, a log, random) is
# made under /tmp and removed at the end.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=corpus_lib.sh
source "$root/bench/corpus_lib.sh"
bench_start "${1:-}" "${2:-}" lha lhasa openssl

work=$(mktemp -d /tmp/torvo-lzhbench-XXXXXX)
[[ -n ${KEEP:-} ]] || trap 'rm -rf "$work"' EXIT
corpus=$work/corpus
mixed_corpus lzh
# The same bytes as one file: the codec alone, without the cost of creating thousands of files.
mkdir -p "$work/one"
find "$corpus" -type f -print0 | sort -z | xargs -0 cat >"$work/one/corpus.bin"
(cd "$work/one" && lha aqo5 "$work/one.lzh" corpus.bin)

enc_ours=() enc_theirs=() dec_ours=() dec_theirs=() one_ours=() one_theirs=()
for ((r = 0; r < rounds; r++)); do
    rm -f "$work/ours.lzh" "$work/theirs.lzh"
    enc_ours+=("$(seconds "$plxtool" add "$work/ours.lzh" "$corpus" -t lha -m lh5 -r)")
    enc_theirs+=("$(cd "$corpus" && seconds lha aqo5 "$work/theirs.lzh" doc lib other)")
    rm -rf "$work/x1" "$work/x2" && mkdir -p "$work/x1" "$work/x2"
    dec_ours+=("$(seconds "$plxtool" extract "$work/theirs.lzh" "$work/x1")")
    dec_theirs+=("$(cd "$work/x2" && seconds lhasa xq "$work/theirs.lzh")")
    rm -rf "$work/y1" "$work/y2" && mkdir -p "$work/y1" "$work/y2"
    one_ours+=("$(seconds "$plxtool" extract "$work/one.lzh" "$work/y1")")
    one_theirs+=("$(cd "$work/y2" && seconds lhasa xq "$work/one.lzh")")
done

# Right before fast: both archives pass lhasa, and our extraction equals the corpus.
lhasa t "$work/ours.lzh" >/dev/null && lhasa t "$work/theirs.lzh" >/dev/null
diff -r "$corpus" "$work/x1" >/dev/null || { echo "our extraction differs from the corpus" >&2; exit 1; }
rm -rf "$work/x3" && mkdir -p "$work/x3" && (cd "$work/x3" && lhasa xq "$work/ours.lzh")
diff -r "$corpus" "$work/x3" >/dev/null || { echo "lhasa's extraction of our archive differs" >&2; exit 1; }

eo=$(median "${enc_ours[@]}") et=$(median "${enc_theirs[@]}")
do_=$(median "${dec_ours[@]}") dt=$(median "${dec_theirs[@]}")
oo=$(median "${one_ours[@]}") ot=$(median "${one_theirs[@]}")
cmp -s "$work/one/corpus.bin" "$work/y1/corpus.bin" || { echo "our extraction of one.lzh differs" >&2; exit 1; }
so=$(stat -c %s "$work/ours.lzh") st=$(stat -c %s "$work/theirs.lzh")
printf '| step | ours | theirs | ratio |\n|---|---|---|---|\n'
printf '| encode -lh5- (lha a -o5) | %.2f s | %.2f s | %s |\n' "$eo" "$et" "$(ratio "$eo" "$et")"
printf '| size | %s | %s | %s |\n' "$so" "$st" "$(ratio "$so" "$st")"
printf '| decode -lh5-, the tree (lhasa x) | %.2f s | %.2f s | %s |\n' "$do_" "$dt" "$(ratio "$do_" "$dt")"
printf '| decode -lh5-, one file (lhasa x) | %.2f s | %.2f s | %s |\n' "$oo" "$ot" "$(ratio "$oo" "$ot")"
echo "ratios: encode $(ratio "$eo" "$et") size $(ratio "$so" "$st") decode $(ratio "$do_" "$dt") decode-one $(ratio "$oo" "$ot")"
