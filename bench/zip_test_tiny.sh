#!/usr/bin/env bash
# `plxtool test` of 100,000 tiny members against `unzip -tq`: 100 folders of 1,000 files of 5-8
# bytes packed by `zip -qr`, each tool run in turn round by round.
# Usage: bench/zip_test_tiny.sh [ROUNDS] [BUILD_DIR] [WORK_DIR] [OTHER_PLXTOOL]
#   (defaults: 21 rounds, build/ of a release build, $WORK or $TMPDIR or /tmp; /dev/shm measures
#   the programs alone). OTHER_PLXTOOL, another build's plxtool, runs in the same rounds and must
#   print the same output to the byte.
# Prints median and best CPU (perf task-clock) and wall milliseconds of each, output to /dev/null,
# the ratios to unzip's medians, and with valgrind the instructions each executes (callgrind),
# which the other engineers' builds do not move.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=corpus_lib.sh
source "$root/bench/corpus_lib.sh"
bench_start "${1:-21}" "${2:-}" zip unzip perf
other=${4:-}

work=$(mktemp -d "${3:-${WORK:-${TMPDIR:-/tmp}}}/torvo-ziptest-XXXXXX")
[[ -n ${KEEP:-} ]] || trap 'rm -rf "$work"' EXIT
awk -v root="$work/tree" 'BEGIN {
    srand(7)
    for (d = 0; d < 100; d++) {
        dir = sprintf("%s/d%03d", root, d)
        system("mkdir -p " dir)
        for (f = 0; f < 1000; f++) {
            n = 5 + int(rand() * 4); s = ""
            for (i = 0; i < n; i++) s = s substr("abcdefgh", 1 + int(rand() * 8), 1)
            printf "%s", s > sprintf("%s/f%04d.txt", dir, f); close(sprintf("%s/f%04d.txt", dir, f))
        }
    }
}'
(cd "$work" && zip -qr tiny.zip tree)
zip=$work/tiny.zip

tools=(ours)
[[ -n $other ]] && tools+=(other)
tools+=(unzip)
# The command of a tool into cmd.
command_of() {
    case $1 in
    ours) cmd=("$plxtool" test "$zip") ;;
    other) cmd=("$other" test "$zip") ;;
    unzip) cmd=(unzip -tq "$zip") ;;
    esac
}
"$plxtool" test "$zip" | tail -1
if [[ -n $other ]]; then
    cmp -s <("$plxtool" test "$zip") <("$other" test "$zip") || { echo "FAIL: the two builds print differently" >&2; exit 1; }
fi

declare -A cpu wall
for ((r = 0; r < rounds; r++)); do
    for t in "${tools[@]}"; do
        command_of "$t"
        c=$(perf stat -e task-clock -x, "${cmd[@]}" 2>&1 >/dev/null | awk -F, '/task-clock/ {print $1}')
        t0=$(date +%s%N)
        "${cmd[@]}" >/dev/null
        t1=$(date +%s%N)
        cpu[$t]+=" $c" wall[$t]+=" $(((t1 - t0) / 1000))"
    done
done
best() { printf '%s\n' "$@" | sort -g | head -1; }
ms() { awk -v x="$1" 'BEGIN {printf "%.1f", x / 1000}'; }
# shellcheck disable=SC2086
uc=$(median ${cpu[unzip]}) uw=$(median ${wall[unzip]})
printf '%-6s %11s %9s %12s %10s %10s %11s\n' tool "CPU median" "CPU best" "wall median" "wall best" "CPU/unzip" "wall/unzip"
for t in "${tools[@]}"; do
    # shellcheck disable=SC2086
    c=$(median ${cpu[$t]}) w=$(median ${wall[$t]}) cb=$(best ${cpu[$t]}) wb=$(best ${wall[$t]})
    printf '%-6s %11.1f %9.1f %12s %10s %10s %11s\n' "$t" "$c" "$cb" "$(ms "$w")" "$(ms "$wb")" "$(ratio "$c" "$uc")" \
        "$(ratio "$w" "$uw")"
done
echo "rounds $rounds, milliseconds, load average $(cut -d' ' -f1-3 /proc/loadavg)"
if command -v valgrind >/dev/null; then
    for t in "${tools[@]}"; do
        command_of "$t"
        n=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "${cmd[@]}" 2>&1 >/dev/null | awk '/Collected/ {print $4}')
        echo "$t: $n instructions"
    done
fi
