# shellcheck shell=bash disable=SC2034,SC2154  # sets and reads the scripts' globals
# Corpus helpers of the benchmark scripts (sourced).

# Copies sorted regular files from FROM (matching find's remaining arguments) into DEST until
# about MB megabytes, skipping single files larger than MAXMB. Names that differ only in case are
# left out: archive names are compared as on Windows, so the second one would be skipped on extract.
copy_budget() {
    local from=$1 dest=$2 mb=$3 maxmb=$4
    shift 4
    local budget=$((mb << 20)) max=$((maxmb << 20)) used=0 size rel
    local -A taken=()
    while IFS= read -r -d '' f; do
        size=$(stat -c %s "$f")
        ((size <= max)) || continue
        ((used + size <= budget)) || break
        rel=${f#"$from"/}
        [[ -z ${taken[${rel,,}]:-} ]] || continue
        taken[${rel,,}]=1
        mkdir -p "$dest/$(dirname "$rel")"
        cp "$f" "$dest/$rel"
        used=$((used + size))
    done < <(find "$from" -type f "$@" -readable -print0 2>/dev/null | sort -z)
}

# Deterministic incompressible bytes.
random_bytes() {
    head -c "$2" < <(openssl enc -aes-128-ctr -nosalt -pass "pass:$1" -pbkdf2 </dev/zero 2>/dev/null)
}

# The common start of a benchmark: ROUNDS and BUILD_DIR from the script's arguments, then the
# tools it compares against. Sets rounds, build and plxtool; needs root.
bench_start() {
    rounds=${1:-3}
    build=${2:-$root/build}
    shift 2
    plxtool=$build/tools/plxtool
    [[ -x $plxtool ]] || { echo "no $plxtool: cmake --preset release && cmake --build build -j4" >&2; exit 2; }
    local t
    for t in "$@"; do
        command -v "$t" >/dev/null || { echo "needs $t" >&2; exit 2; }
    done
}

# The ~64 MB mixed corpus in $corpus: docs, shared libraries, a log, and random bytes from SEED.
mixed_corpus() {
    mkdir -p "$corpus"/{doc,lib,other}
    copy_budget /usr/share/doc "$corpus/doc" 30 4
    copy_budget /usr/lib/x86_64-linux-gnu "$corpus/lib" 26 8 -name '*.so*'
    random_bytes "$1" $((4 << 20)) >"$corpus/other/random.bin"
    awk 'BEGIN {for (i = 1; i <= 80000; i++) printf "record %08d status=ok user=backup folder=C:\\Data\\%d\n", i, i % 97}' \
        >"$corpus/other/log.txt"
    echo "corpus: $(du -sm "$corpus" | cut -f1) MB, $(find "$corpus" -type f | wc -l) files"
}

# Wall seconds of one run of "$@", its output dropped.
seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N); awk -v a="$t1" -v b="$t0" 'BEGIN {print a - b}'; }
# The middle argument (the lower of the two middle ones for an even count).
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }
