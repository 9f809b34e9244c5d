#!/usr/bin/env bash
# Runs every fuzz target once over a seed corpus, so a change that breaks a target or crashes on
# an ordinary archive is seen on main. The seeds are archives the real tools make here, plus the
# small shared fixtures when their folder is present.
set -euo pipefail
build=${1:-build-fuzz}
root=$(cd "$(dirname "$0")/.." && pwd)
fixtures=${TORVO_FIXTURES:-$root/../shared/fixtures}
work=$(mktemp -d "${TMPDIR:-/tmp}/torvo-seeds-XXXXXX")
trap 'rm -rf "$work"' EXIT

src=$work/src seeds=$work/seeds
mkdir -p "$src/dir" "$seeds"
printf 'hello, seeds\n' > "$src/a.txt"
seq 1 3000 > "$src/dir/numbers.txt"
head -c 4096 /dev/urandom > "$src/dir/noise.bin"
(
  cd "$src"
  zip -qr "$seeds/deflate.zip" . && zip -qr0 "$seeds/stored.zip" . && zip -qrZ bzip2 "$seeds/bzip2.zip" .
  zip -qr -P secret "$seeds/crypt.zip" a.txt
  7zz a -tzip -mm=PPMd "$seeds/ppmd.zip" . >/dev/null
  tar cf "$seeds/plain.tar" . && tar czf "$seeds/plain.tgz" . && tar cjf "$seeds/plain.tbz" .
  gzip -c dir/numbers.txt > "$seeds/numbers.gz"; bzip2 -c dir/numbers.txt > "$seeds/numbers.bz2"
  compress -c dir/numbers.txt > "$seeds/numbers.Z"
  lha -aq "$seeds/plain.lzh" a.txt dir >/dev/null
  arj a -y "$seeds/plain.arj" a.txt dir/numbers.txt >/dev/null
  arc a "$seeds/plain.arc" a.txt >/dev/null 2>&1 || true
  gcab -c "$seeds/plain.cab" a.txt dir/numbers.txt
  uuencode dir/numbers.txt numbers.txt > "$seeds/numbers.uue"
  base64 dir/numbers.txt > "$seeds/numbers.b64"
)
if [ -d "$fixtures" ]; then
  mapfile -t small < <(find "$fixtures" -type f -size -64k ! -name '*.md' ! -name '*.py' | sort)
  for f in "${small[@]:0:300}"; do cp "$f" "$seeds/fixture-$(printf '%s' "$f" | md5sum | cut -c1-12)"; done
fi

failed=0 count=0
for target in "$build"/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  count=$((count + 1))
  if ! "$target" -runs=0 -timeout=30 -rss_limit_mb=4096 "$seeds" > "$work/log" 2>&1; then
    echo "fuzz seeds: $(basename "$target") failed:"; tail -n 30 "$work/log"; failed=1
  fi
done
echo "fuzz seeds: $count targets over $(ls "$seeds" | wc -l) seeds"
[ "$count" -gt 0 ] || { echo "fuzz seeds: no targets in $build/fuzz"; exit 1; }
exit $failed
