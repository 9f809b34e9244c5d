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
