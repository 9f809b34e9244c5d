#!/bin/bash
# Builds the damage sweep's archives with the real tools from one source tree of mixed content.
# usage: make-corpus.sh [DIR [PLXTOOL]]   (DIR/arc: the archives; BH, which no tool makes, by PLXTOOL)
set -u
S=${1:-/tmp/damage-sweep}
T=${2:-$(cd "$(dirname "$0")/../.." && pwd)/build-asan/tools/plxtool}
rm -rf $S/src $S/arc; mkdir -p $S/src/sub $S/arc
cd $S/src
python3 - <<'PY'
import os, random
random.seed(40)
words = b"alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu\n".split(b" ")
open("readme.txt","wb").write(b"".join(random.choice(words)+b" " for _ in range(3000)))
open("random.bin","wb").write(bytes(random.getrandbits(8) for _ in range(9000)))
open("empty.txt","wb").write(b"")
open("zeros.dat","wb").write(b"\0"*20000)
open("sub/table.csv","wb").write(b"".join(b"%d,%d,%s\n"%(i,i*i,hex(i*7919).encode()) for i in range(1500)))
open("sub/mixed.bin","wb").write(bytes((i*31+ (i>>7)) & 0xff for i in range(12000)) + bytes(random.getrandbits(8) for _ in range(2000)))
PY
touch -d '2024-05-06 07:08:10' readme.txt random.bin empty.txt zeros.dat sub/table.csv sub/mixed.bin
FILES="readme.txt random.bin empty.txt zeros.dat sub/table.csv sub/mixed.bin"
A=$S/arc
zip -q -0 $A/zip_store.zip $FILES
zip -q -9 $A/zip_deflate.zip $FILES
zip -q -Z bzip2 $A/zip_bzip2.zip $FILES
zip -q -e -P secret $A/zip_enc.zip $FILES
7zz a -tzip -mm=Deflate64 $A/zip7_deflate64.zip $FILES >/dev/null
7zz a -tzip -mm=PPMd $A/zip7_ppmd.zip $FILES >/dev/null
7zz a -tzip -mm=BZip2 $A/zip7_bzip2.zip $FILES >/dev/null
tar cf $A/t.tar $FILES
tar czf $A/t.tgz $FILES
tar cjf $A/t.tbz $FILES
gzip -9 -c readme.txt > $A/readme.txt.gz
gzip -c -n sub/mixed.bin > $A/mixed.bin.gz
bzip2 -9 -c readme.txt > $A/readme.txt.bz2
bzip2 -c sub/mixed.bin > $A/mixed.bin.bz2
compress -c readme.txt > $A/readme.txt.Z
compress -c sub/mixed.bin > $A/mixed.bin.Z
lha aq $A/lha_lh5.lzh $FILES >/dev/null
lha aqo6 $A/lha_lh6.lzh $FILES >/dev/null 2>&1 || true
lha aqo7 $A/lha_lh7.lzh $FILES >/dev/null 2>&1 || true
lha aqz $A/lha_lh0.lzh $FILES >/dev/null
for m in 1 2 3 4; do arj a -m$m -y $A/arj_m$m.arj $FILES >/dev/null; done
arc aq $A/arc_defa.arc readme.txt random.bin empty.txt zeros.dat >/dev/null 2>&1
mv $A/arc_defa.arc $A/arc_default.arc
gcab -c $A/cab_store.cab $FILES
gcab -c -z $A/cab_mszip.cab $FILES
uuencode readme.txt readme.txt > $A/readme.uue
uuencode random.bin random.bin > $A/random.uue
uuencode -m random.bin random.bin > $A/random.b64
uuencode -m sub/table.csv table.csv > $A/table.b64
$T add $A/t.bh readme.txt random.bin empty.txt zeros.dat sub -r && $T add -t bh -m store $A/t_store.bh readme.txt random.bin zeros.dat && $T add -t bh -m fuse $A/t_fuse.bh readme.txt random.bin zeros.dat sub -r
ls -la $A
