#!/usr/bin/env bash
# Our cabinet writer and reader (MSZIP) against the cabinet tools on one corpus, in one run.
# Usage: bench/cab_bench.sh [ROUNDS] [BUILD_DIR]   (defaults: 3 rounds, build/ of a release build)
# Write: `plxtool add -t cab -m mszip` against `gcab -c -z` (time and size). Read: `plxtool extract`
# against `cabextract`, both reading the cabinet that gcab made. Times are medians; ratios are
# ours / theirs, lower is better (goals: time <= 1.0, size <= 1.01). The corpus (~64 MB: docs,
# shared libraries, a log, random) is made under /tmp and removed at the end.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=corpus_lib.sh
source "$root/bench/corpus_lib.sh"
bench_start "${1:-}" "${2:-}" gcab cabextract openssl

work=$(mktemp -d /tmp/torvo-cabbench-XXXXXX)
[[ -n ${KEEP:-} ]] || trap 'rm -rf "$work"' EXIT
corpus=$work/corpus
mixed_corpus cab
(cd "$corpus" && find . -type f | sed 's|^\./||' | sort) >"$work/list"

gcab_write() { (cd "$corpus" && xargs -d '\n' gcab -c -z "$1" <"$work/list"); }

enc_ours=() enc_theirs=() dec_ours=() dec_theirs=()
for ((r = 0; r < rounds; r++)); do
    rm -f "$work/ours.cab" "$work/theirs.cab"
    enc_ours+=("$(seconds "$plxtool" add "$work/ours.cab" "$corpus" -t cab -m mszip -r)")
    enc_theirs+=("$(seconds gcab_write "$work/theirs.cab")")
    rm -rf "$work/x1" "$work/x2" && mkdir -p "$work/x1" "$work/x2"
    dec_ours+=("$(seconds "$plxtool" extract "$work/theirs.cab" "$work/x1")")
    dec_theirs+=("$(cd "$work/x2" && seconds cabextract -q "$work/theirs.cab")")
done

# Right before fast: both cabinets pass cabextract, and each reader's output equals the corpus.
cabextract -t "$work/ours.cab" >/dev/null && cabextract -t "$work/theirs.cab" >/dev/null
diff -r "$corpus" "$work/x1" >/dev/null || { echo "our extraction differs from the corpus" >&2; exit 1; }
rm -rf "$work/x3" && mkdir -p "$work/x3" && (cd "$work/x3" && cabextract -q "$work/ours.cab")
diff -r "$corpus" "$work/x3" >/dev/null || { echo "cabextract's extraction of our cabinet differs" >&2; exit 1; }

eo=$(median "${enc_ours[@]}") et=$(median "${enc_theirs[@]}")
do_=$(median "${dec_ours[@]}") dt=$(median "${dec_theirs[@]}")
so=$(stat -c %s "$work/ours.cab") st=$(stat -c %s "$work/theirs.cab")
printf '| step | ours | theirs | ratio |\n|---|---|---|---|\n'
printf '| write MSZIP (gcab -c -z) | %.2f s | %.2f s | %s |\n' "$eo" "$et" "$(ratio "$eo" "$et")"
printf '| size | %s | %s | %s |\n' "$so" "$st" "$(ratio "$so" "$st")"
printf '| read MSZIP (cabextract) | %.2f s | %.2f s | %s |\n' "$do_" "$dt" "$(ratio "$do_" "$dt")"
echo "ratios: write $(ratio "$eo" "$et") size $(ratio "$so" "$st") read $(ratio "$do_" "$dt")"
