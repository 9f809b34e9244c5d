# shellcheck shell=bash disable=SC2034,SC2154  # sets and reads the scripts' globals
# Helpers of the cost-per-file benchmarks (sourced after corpus_lib.sh and bench_start): the trees,
# the timing of rounds and the growth check.

now() { echo "$EPOCHREALTIME"; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

# Runs "$@" ROUNDS times after the shell command CLEAN; prints the median and the fastest round in
# seconds.
time_median() {
    local clean=$1 times=() t0 r
    shift
    for ((r = 0; r < rounds; r++)); do
        eval "$clean"
        t0=$(now)
        "$@" >/dev/null 2>&1
        times+=("$(awk -v a="$t0" -v b="$(now)" 'BEGIN {print b - a}')")
    done
    echo "$(median "${times[@]}") $(printf '%s\n' "${times[@]}" | sort -g | head -1)"
}

# Runs the shell commands OURS and THEIRS alternately ROUNDS times, each after the shell command
# CLEAN, so that the machine's load falls on both alike; prints "median fastest" of ours, then of
# theirs, on one line.
time_pair() {
    local clean=$1 oursCmd=$2 theirsCmd=$3 ours=() theirs=() t0 r
    for ((r = 0; r < rounds; r++)); do
        eval "$clean"
        t0=$(now)
        eval "$oursCmd" >/dev/null 2>&1
        ours+=("$(awk -v a="$t0" -v b="$(now)" 'BEGIN {print b - a}')")
        eval "$clean"
        t0=$(now)
        eval "$theirsCmd" >/dev/null 2>&1
        theirs+=("$(awk -v a="$t0" -v b="$(now)" 'BEGIN {print b - a}')")
    done
    echo "$(median "${ours[@]}") $(printf '%s\n' "${ours[@]}" | sort -g | head -1)" \
        "$(median "${theirs[@]}") $(printf '%s\n' "${theirs[@]}" | sort -g | head -1)"
}

# Peak resident memory in KB of one run of the simple command CMD (a shell string), after CLEAN.
peak_kb() {
    eval "$1"
    eval "/usr/bin/time -f %M -o \"\$work/peak\" $2" >/dev/null 2>&1
    tail -1 "$work/peak"
}

# N files of 20 to 2000 bytes of text, all in one folder or 100 to a folder.
make_tree() {
    local dest=$1 n=$2 layout=$3
    mkdir -p "$dest"
    awk -v dest="$dest" -v n="$n" -v layout="$layout" 'BEGIN {
        for (i = 0; i < n; i++) {
            dir = layout == "flat" ? dest : sprintf("%s/d%03d", dest, int(i / 100))
            if (layout != "flat" && i % 100 == 0) system("mkdir -p " dir)
            f = sprintf("%s/file%05d.txt", dir, i)
            for (k = 0; k < 1 + i % 40; k++) printf "line %d of file %d, some words to pack\n", k, i > f
            close(f)
        }
    }'
}

fail() { echo "FAIL: $*" >&2; exit 1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
per_file() { awk -v t="$1" -v n="$2" 'BEGIN {printf "%.1f", t * 1e6 / n}'; }

print_header() { printf '%-8s %-7s %-16s %9s %9s %6s\n' layout files operation "ours us" "theirs us" ratio; }

# Prints one row from time_median's "median fastest" of ours and of theirs (empty: no reference
# tool), and checks growth: the fastest round per file at the last size against the first.
# Needs the globals sizes, first (an associative array) and status.
report_row() {
    local layout=$1 n=$2 op=$3 ours=$4 theirs=$5 ourMedian ourBest theirMedian us key
    read -r ourMedian ourBest <<<"$ours"
    if [[ -n $theirs ]]; then
        read -r theirMedian _ <<<"$theirs"
        printf '%-8s %-7s %-16s %9s %9s %6s\n' "$layout" "$n" "$op" "$(per_file "$ourMedian" "$n")" \
            "$(per_file "$theirMedian" "$n")" "$(ratio "$ourMedian" "$theirMedian")"
    else
        printf '%-8s %-7s %-16s %9s %9s %6s\n' "$layout" "$n" "$op" "$(per_file "$ourMedian" "$n")" - -
    fi
    us=$(per_file "$ourBest" "$n")
    key=$layout-$op
    if [[ -z ${first[$key]:-} ]]; then
        first[$key]=$us
    elif ((n == sizes[-1])) && awk -v a="$us" -v b="${first[$key]}" 'BEGIN {exit !(a > 1.5 * b)}'; then
        echo "FAIL: $key: $us us per file at $n files against ${first[$key]} at ${sizes[0]} (fastest rounds)" >&2
        status=1
    fi
}
