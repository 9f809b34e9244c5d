#!/usr/bin/env python3
"""Cut and byte-flipped archives through plxtool test/list/extract (ASan build), checked against peer tools.

usage: sweep.py [--tool PATH] [--corpus DIR] [--workers N] [--only REGEX] [--max N] [--fields] [--out DIR]
The corpus is made by make-corpus.sh with the real tools; the shared fixtures are read from
../shared/fixtures beside the source tree. Copy the plxtool binary aside first: a rebuild while the
sweep runs would make every run fail.
A finding: a crash or sanitizer report, a hang, a file written outside the target folder, or exit 0 from
test/extract where the peer rejects the damaged archive and the extracted tree differs from the reference.
"""
import argparse, hashlib, json, os, re, shutil, subprocess, sys, tempfile
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FIX = os.path.join(ROOT, "..", "shared", "fixtures")
ACE = os.path.join(ROOT, "..", "shared", "oracles", "acefile", "acefile.py")
ARC = os.environ.get("SWEEP_CORPUS", "/tmp/damage-sweep/arc")

UNZIP = ["unzip", "-tqq", "{f}"]
UNZIP_PW = ["unzip", "-tqq", "-P", "secret", "{f}"]
SEVENZ = ["7zz", "t", "-bd", "-y", "-pnone", "{f}"]
TAR = ["sh", "-c", "tar -xOf \"$0\" >/dev/null 2>&1", "{f}"]
TGZ = ["sh", "-c", "tar -xzOf \"$0\" >/dev/null 2>&1", "{f}"]
TBZ = ["sh", "-c", "tar -xjOf \"$0\" >/dev/null 2>&1", "{f}"]
GZ = ["gzip", "-tq", "{f}"]
BZ = ["bzip2", "-tq", "{f}"]
ZZ = ["sh", "-c", "uncompress -c <\"$0\" >/dev/null 2>&1", "{f}"]
LHA = ["sh", "-c", "lhasa t \"$0\" >/dev/null 2>&1 && lha tq \"$0\" >/dev/null 2>&1", "{f}"]
ARJ = ["arj", "t", "-y", "{f}"]
ARCP = ["sh", "-c", "arc t \"$0\" >/dev/null 2>&1 && nomarch -t \"$0\" >/dev/null 2>&1", "{f}"]
CAB = ["cabextract", "-t", "-q", "{f}"]
UU = ["sh", "-c", "d=$(mktemp -d) && cd $d && uudecode \"$0\" >/dev/null 2>&1; r=$?; rm -rf $d; exit $r", "{f}"]
LSAR = ["lsar", "-t", "{f}"]
ACEP = ["python3", ACE, "-t", "{f}"]


def corpus():
    c = []
    def add(fmt, path, peer, pw=None):
        if os.path.exists(path):
            c.append(dict(fmt=fmt, path=path, peer=peer, pw=pw))
    for n in ["zip_store", "zip_deflate", "zip_bzip2"]:
        add("zip", f"{ARC}/{n}.zip", UNZIP)
    add("zip", f"{ARC}/zip_enc.zip", UNZIP_PW, "secret")
    for n in ["zip7_deflate64", "zip7_ppmd", "zip7_bzip2"]:
        add("zip", f"{ARC}/{n}.zip", SEVENZ)
    for n in ["HWIMPODE.ZIP", "HWREDUCE.ZIP", "HWSHRINK.ZIP", "implode.zip", "reduce.zip", "shrink.zip"]:
        add("zip-legacy", f"{FIX}/zip-legacy/{n}", UNZIP)
    add("tar", f"{ARC}/t.tar", TAR)
    add("tgz", f"{ARC}/t.tgz", TGZ)
    add("tbz", f"{ARC}/t.tbz", TBZ)
    for n in ["readme.txt", "mixed.bin"]:
        add("gz", f"{ARC}/{n}.gz", GZ)
        add("bz2", f"{ARC}/{n}.bz2", BZ)
        add("Z", f"{ARC}/{n}.Z", ZZ)
    for n in ["lh0", "lh5", "lh6", "lh7"]:
        add("lha", f"{ARC}/lha_{n}.lzh", LHA)
    for n in ["LH113.LZH", "LH5.LZH", "lhasa-corpus/lharc113/lh1.lzh", "lhasa-corpus/lha_os2_208/h3_lh5.lzh",
              "lhasa-corpus/lh2_222/subdir.lzh", "lhasa-corpus/lha_x68k_213/h2_lh5.lzh",
              "lhasa-corpus/explzh_723/h1_lh7.lzh", "lhasa-corpus/lha_amiga_122/lh4.lzh",
              "lhasa-corpus/pmarc2/pm2.pma", "lhasa-corpus/larc333/lz5.lzs", "lhasa-corpus/unlha32/lh2.lzh",
              "lhasa-corpus/unlha32/lh3.lzh"]:
        add("lha-old", f"{FIX}/lha/{n}", LHA)
    for m in "1234":
        add("arj", f"{ARC}/arj_m{m}.arj", ARJ)
    add("arj", f"{FIX}/arj/ARJ020B.ARJ", ARJ)
    add("arc", f"{ARC}/arc_default.arc", ARCP)
    add("arc", f"{FIX}/arc/ARC601.ARC", ARCP)
    add("arc", f"{FIX}/arc/PAK100.PAK", LSAR)
    add("cab", f"{ARC}/cab_store.cab", CAB)
    add("cab", f"{ARC}/cab_mszip.cab", CAB)
    for n in ["GCAB16.CAB", "libarchive/test_read_format_cab_3.cab", "libarchive/test_read_format_cab_lzx_16bit.cab",
              "libarchive/test_read_format_cab_lzx_e8.cab", "libarchive/test_read_format_cab_2.cab",
              "libarchive/test_read_format_cab_filename_cp932.cab"]:
        add("cab", f"{FIX}/cab/{n}", CAB)
    for n in ["readme.uue", "random.uue", "random.b64", "table.b64"]:
        add("uu", f"{ARC}/{n}", UU)
    add("zoo", f"{FIX}/zoo/t.zoo", LSAR)
    for n in ["t.ace", "ace_plain.ace", "ace_nested.ace", "ace_nested2.ace"]:
        add("ace", f"{FIX}/ace/{n}", ACEP)
    for n in ["RAR250.RAR", "t.rar", "libarchive/test_read_format_rar.rar",
              "libarchive/test_read_format_rar5_multiple_files_solid.rar",
              "libarchive/test_read_format_rar5_compressed.rar", "libarchive/test_read_format_rar5_stored.rar",
              "libarchive/test_read_format_rar5_solid.rar"]:
        add("rar", f"{FIX}/rar/{n}", SEVENZ)
    add("bh", f"{ARC}/t.bh", None)
    add("bh", f"{ARC}/t_store.bh", None)
    add("bh", f"{ARC}/t_fuse.bh", None)
    return c


SIGS = [b"PK\x03\x04", b"PK\x01\x02", b"PK\x05\x06", b"PK\x07\x08", b"-lh", b"-lz", b"-pm", b"\x60\xea", b"MSCF",
        b"ustar", b"begin", b"BZh", b"\x1f\x8b", b"\x1f\x9d", b"Rar!", b"**ACE**", b"\xdc\xa7\xc4\xfd", b"end\n",
        b"====", b"\x1a"]


def boundaries(data):
    out = set()
    for s in SIGS:
        i = data.find(s)
        n = 0
        while i >= 0 and n < 12:
            out.add(i)
            n += 1
            i = data.find(s, i + 1)
    return sorted(out)


def member_points(path):
    """Data offsets and lengths of the members, as lsar sees them (empty where it cannot read the file)."""
    try:
        out = subprocess.run(["lsar", "-j", path], capture_output=True, timeout=60).stdout
        entries = json.loads(out.decode("utf-8", "replace")).get("lsarContents", [])
    except Exception:
        return []
    pts = []
    for e in entries:
        off = next((v for k, v in e.items() if k.endswith("DataOffset") and isinstance(v, int)), None)
        ln = next((v for k, v in e.items() if k.endswith("DataLength") and isinstance(v, int)), 0)
        if off is not None:
            pts.append((off, ln))
    return pts


def field_mutations(data, cap, members=()):
    """Four-byte fields overwritten with all ones or zeros: sizes, counts and offsets at their extremes."""
    n = len(data)
    pos = set(range(0, min(n, 64), 2))
    for b in boundaries(data):
        pos.update(b + d for d in range(0, 48, 2) if b + d < n)
    for off, ln in members:
        pos.update(off - k for k in range(2, 40, 2) if 0 <= off - k < n)
    pos.update(n - k for k in range(2, 24, 2) if n - k >= 0)
    pos = sorted(pos)
    if len(pos) > cap // 2:
        pos = [pos[i * len(pos) // (cap // 2)] for i in range(cap // 2)]
    muts = []
    for k in pos:
        for fill in (b"\xff\xff\xff\xff", b"\0\0\0\0"):
            d = bytearray(data)
            d[k:k + 4] = fill[:max(0, min(4, n - k))]
            muts.append(("set%02x" % fill[0], k, bytes(d[:n])))
    return muts


def mutations(data, cap, members=()):
    n = len(data)
    cuts, flips = set(), set()
    for off, ln in members:
        for c in (off - 1, off, off + 1, off + ln - 1, off + ln, off + ln + 1):
            if 0 < c < n:
                cuts.add(c)
        for k in list(range(1, 33, 3)) + [-ln, 1 - ln, 3 - ln]:
            if 0 <= off - k < n:
                flips.add(off - k)
    for k in list(range(1, 33)) + [40, 48, 56, 64, 80, 100, 128, 200, 256, 300, 512, 513]:
        if k < n:
            cuts.add(k)
    for k in [1, 2, 3, 4, 8, 12, 16, 18, 20, 22, 24, 32, 46, 64, 100]:
        if n - k > 0:
            cuts.add(n - k)
    for i in range(1, 17):
        cuts.add(n * i // 17)
    bounds = boundaries(data)
    for b in bounds:
        for d in (0, 1, 4, 10, 20, 30):
            if 0 < b + d < n:
                cuts.add(b + d)
    for k in range(min(n, 64)):
        flips.add(k)
    for b in bounds:
        for d in range(0, 48, 3):
            if b + d < n:
                flips.add(b + d)
    for k in range(1, 33):
        if n - k >= 0:
            flips.add(n - k)
    for i in range(1, 25):
        flips.add(n * i // 25)
    cuts = sorted(cuts)
    flips = sorted(flips)
    # Thin evenly when a large archive has too many points.
    def thin(xs, m):
        if len(xs) <= m:
            return xs
        return [xs[i * len(xs) // m] for i in range(m)]
    cuts, flips = thin(cuts, cap // 3), thin(flips, cap - cap // 3)
    muts = [("cut", k, bytes(data[:k])) for k in cuts]
    masks = [0xFF, 0x01, 0x80, 0x10]
    for j, k in enumerate(flips):
        d = bytearray(data)
        d[k] ^= masks[j % 4]
        muts.append(("flip%02x" % masks[j % 4], k, bytes(d)))
    return muts


SAN = re.compile(r"AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|runtime error:|SUMMARY: \w+Sanitizer")


def run(cmd, cwd, timeout, env):
    try:
        p = subprocess.run(cmd, cwd=cwd, capture_output=True, timeout=timeout, env=env)
        return p.returncode, p.stderr.decode("latin-1")[-4000:], p.stdout.decode("latin-1")[-2000:]
    except subprocess.TimeoutExpired:
        return "timeout", "", ""


def tree(root):
    t = {}
    for dp, dn, fn in os.walk(root):
        for f in fn:
            p = os.path.join(dp, f)
            rel = os.path.relpath(p, root)
            if os.path.islink(p):
                t[rel] = "link:" + os.readlink(p)
            else:
                with open(p, "rb") as fh:
                    t[rel] = hashlib.sha1(fh.read()).hexdigest()
    return t


def ext_of(path):
    b = os.path.basename(path)
    for e in [".tar.gz", ".tar.bz2"]:
        if b.endswith(e):
            return e
    return os.path.splitext(b)[1]


class Sweep:
    def __init__(self, a):
        self.tool = a.tool
        self.out = a.out
        self.timeout = a.timeout
        self.env = dict(os.environ, ASAN_OPTIONS="detect_leaks=1:abort_on_error=0", UBSAN_OPTIONS="print_stacktrace=1")
        self.cap = a.max
        self.fields = a.fields

    def one(self, item, kind, off, data, ref, idx):
        try:
            return self.one_checked(item, kind, off, data, ref, idx)
        except Exception as e:  # a fault of the sweep itself, kept as such
            return {"fmt": item["fmt"], "archive": item["path"], "kind": kind, "off": off, "rc": {}, "peer": None,
                    "findings": [], "notes": [f"SWEEP-ERROR {type(e).__name__}: {e}"], "runs": 0}

    def one_checked(self, item, kind, off, data, ref, idx):
        fmt = item["fmt"]
        work = tempfile.mkdtemp(prefix="m", dir=self.scratch)
        name = os.path.basename(item["path"])
        f = os.path.join(work, "in", name)
        os.makedirs(os.path.dirname(f))
        with open(f, "wb") as fh:
            fh.write(data)
        deep = os.path.join(work, "a", "b")
        os.makedirs(deep)
        tmpd = os.path.join(work, "tmp")
        os.makedirs(tmpd)
        env = dict(self.env, TMPDIR=tmpd, HOME=work)
        pw = ["-p", item["pw"]] if item["pw"] else []
        res = {"fmt": fmt, "archive": item["path"], "kind": kind, "off": off, "findings": [], "notes": []}
        runs = 0
        rc = {}
        for cmd in ("test", "list", "extract"):
            if cmd == "extract":
                args = [self.tool, "extract", f, os.path.join(deep, "out")] + pw
            elif cmd == "test":
                args = [self.tool, "test", f] + pw
            else:
                args = [self.tool, "list", f]
            r, err, _ = run(args, deep, self.timeout, env)
            runs += 1
            rc[cmd] = r
            if r == "timeout":
                res["findings"].append(f"HANG {cmd}")
            elif isinstance(r, int) and (r < 0 or r > 2):
                res["findings"].append(f"CRASH {cmd} rc={r} {err[-300:]}")
            if r != "timeout" and SAN.search(err):
                m = SAN.search(err)
                lines = [l for l in err.splitlines() if "Sanitizer" in l or "runtime error" in l or " #" in l][:12]
                res["findings"].append(f"SANITIZER {cmd}: " + " | ".join(lines))
        # Anything written outside the target folder.
        stray = []
        for dp, dn, fn in os.walk(work):
            if dp.startswith(os.path.join(deep, "out")):
                continue
            for x in fn + [d for d in dn]:
                p = os.path.join(dp, x)
                rel = os.path.relpath(p, work)
                if rel in ("in", "a", "a/b", "tmp", "in/" + name) or rel.startswith("a/b/out") or rel.startswith(".local"):
                    continue
                stray.append(rel)
        if stray:
            tmp_only = all(s.startswith("tmp") for s in stray)
            (res["notes"] if tmp_only else res["findings"]).append(("TMPLEFT " if tmp_only else "ESCAPE ") + ",".join(stray[:5]))
        got = tree(os.path.join(deep, "out")) if os.path.isdir(os.path.join(deep, "out")) else {}
        differs = got != ref
        res["rc"] = rc
        res["differs"] = differs
        peer_rc = None
        if (rc["test"] == 0 or rc["extract"] == 0) and item["peer"]:
            pc = [x.replace("{f}", f) for x in item["peer"]]
            pr, _, _ = run(pc, work, 60, dict(os.environ, TMPDIR=tmpd))
            peer_rc = pr
            runs += 1
        res["peer"] = peer_rc
        ok_claim = [c for c in ("test", "extract") if rc[c] == 0]
        if ok_claim and differs:
            diff = sorted(set(ref) ^ set(got)) + sorted(k for k in ref if k in got and ref[k] != got[k])
            desc = f"{'/'.join(ok_claim)} rc0, tree differs ({','.join(diff[:4])})"
            if item["peer"] is None:
                res["findings"].append("UNCHECKED-OK " + desc)
            elif peer_rc != 0:
                res["findings"].append(f"FALSE-OK peer rc={peer_rc} " + desc)
            else:
                res["notes"].append("PEER-ALSO-OK " + desc)
        elif rc["test"] == 0 and item["peer"] and peer_rc not in (0, None) and not differs:
            res["notes"].append(f"PEER-REJECTS-SAME-DATA peer rc={peer_rc}")
        if rc["test"] == 0 and rc["extract"] not in (0,) or rc["extract"] == 0 and rc["test"] != 0:
            res["notes"].append(f"TEST-EXTRACT-DISAGREE test={rc['test']} extract={rc['extract']}")
        if res["findings"]:
            keep = os.path.join(self.out, "cases", f"{fmt}-{name}-{kind}-{off}")
            os.makedirs(os.path.dirname(keep), exist_ok=True)
            with open(keep, "wb") as fh:
                fh.write(data)
            res["case"] = keep
        shutil.rmtree(work, ignore_errors=True)
        res["runs"] = runs
        return res

    def archive(self, item, pool):
        path = item["path"]
        data = open(path, "rb").read()
        refdir = tempfile.mkdtemp(prefix="ref", dir=self.scratch)
        pw = ["-p", item["pw"]] if item["pw"] else []
        f = os.path.join(refdir, os.path.basename(path))
        shutil.copy(path, f)
        r, err, _ = run([self.tool, "extract", f, os.path.join(refdir, "out")] + pw, refdir, self.timeout, self.env)
        ref = tree(os.path.join(refdir, "out")) if os.path.isdir(os.path.join(refdir, "out")) else {}
        shutil.rmtree(refdir, ignore_errors=True)
        base = {"fmt": item["fmt"], "archive": path, "ref_rc": r, "ref_files": len(ref)}
        if item["peer"]:
            pc = [x.replace("{f}", path) for x in item["peer"]]
            base["peer_ref_rc"] = run(pc, "/tmp", 60, os.environ)[0]
        if base.get("peer_ref_rc", 0) != 0:
            item = dict(item, peer=None)  # the peer cannot read even the sound archive
        make = field_mutations if self.fields else mutations
        muts = make(data, self.cap, member_points(path))
        futs = [pool.submit(self.one, item, k, o, d, ref, i) for i, (k, o, d) in enumerate(muts)]
        return base, futs

    def main(self, only, workers):
        os.makedirs(self.out, exist_ok=True)
        self.scratch = tempfile.mkdtemp(prefix="scratch", dir=self.out)
        items = [c for c in corpus() if not only or re.search(only, c["fmt"] + ":" + c["path"])]
        stats = {}
        log = open(os.path.join(self.out, "results.jsonl"), "w")
        with ThreadPoolExecutor(workers) as pool:
            jobs = [self.archive(it, pool) for it in items]
            for base, futs in jobs:
                print(json.dumps(dict(base, baseline=True)), file=log, flush=True)
                s = stats.setdefault(base["fmt"], dict(archives=0, mutations=0, runs=0, findings=0, notes=0))
                s["archives"] += 1
                if base["ref_rc"] != 0 or base.get("peer_ref_rc", 0) != 0:
                    print(f"baseline: {base}", flush=True)
                for fu in futs:
                    r = fu.result()
                    s["mutations"] += 1
                    s["runs"] += r["runs"]
                    s["findings"] += bool(r["findings"])
                    s["notes"] += bool(r["notes"])
                    print(json.dumps(r), file=log, flush=True)
                    if r["findings"]:
                        print(f"FINDING {r['fmt']} {r['archive']} {r['kind']}@{r['off']}: {r['findings']} rc={r['rc']} peer={r['peer']}", flush=True)
        shutil.rmtree(self.scratch, ignore_errors=True)
        print("format      archives mutations  runs findings notes")
        tot = [0, 0, 0, 0, 0]
        for k, s in stats.items():
            print(f"{k:12s}{s['archives']:8d}{s['mutations']:10d}{s['runs']:6d}{s['findings']:9d}{s['notes']:6d}")
            for i, key in enumerate(["archives", "mutations", "runs", "findings", "notes"]):
                tot[i] += s[key]
        print(f"{'total':12s}{tot[0]:8d}{tot[1]:10d}{tot[2]:6d}{tot[3]:9d}{tot[4]:6d}")
        json.dump(stats, open(os.path.join(self.out, "stats.json"), "w"), indent=1)


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", default=os.path.join(ROOT, "build-asan", "tools", "plxtool"))
    ap.add_argument("--corpus", default=ARC)
    ap.add_argument("--workers", type=int, default=4)
    ap.add_argument("--only", default="")
    ap.add_argument("--max", type=int, default=180)
    ap.add_argument("--timeout", type=int, default=60)
    ap.add_argument("--out", default="/tmp/damage-sweep/out")
    ap.add_argument("--fields", action="store_true", help="overwrite 4-byte fields instead of cutting and flipping")
    a = ap.parse_args()
    ARC = a.corpus
    Sweep(a).main(a.only, a.workers)
