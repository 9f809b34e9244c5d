// PPMd coding speed with the writer's parameters (order 16, 64 MB, restart), in memory.
// Usage: ppmd_bench FILE [ROUNDS] [--ours]. Each round codes FILE with ours and then, when 7zz is
// there and --ours is not given, times 7zz on it with the same order and model size; the machine is
// shared, so the rounds alternate and the least and the median CPU time of each count.
// Last line: ppmd_MBps_encode=X decode=Y (MB of uncompressed data per CPU second, best round).
#include "core/plxPPMDi1.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

namespace {

// CPU seconds of this process, and of its finished children: on a machine shared with builds,
// these move far less than wall time.
double CpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU time of a shell command, or a negative value when it failed.
double TimeCommand(const std::string& cmd)
{
    const double c0 = CpuSeconds(RUSAGE_CHILDREN);
    int rc = std::system((cmd + " >/dev/null 2>&1").c_str());
    return rc == 0 ? CpuSeconds(RUSAGE_CHILDREN) - c0 : -1;
}

struct Times {
    std::vector<double> v;
    double Min() const { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }
    double Median() const
    {
        if (v.empty())
            return 0;
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        return s.size() % 2 ? s[s.size() / 2] : (s[s.size() / 2 - 1] + s[s.size() / 2]) / 2;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [ROUNDS] [--ours]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    const bool withPeer = !(argc > 3 && std::strcmp(argv[3], "--ours") == 0) &&
                          std::system("command -v 7zz >/dev/null 2>&1") == 0;
    std::ifstream f(argv[1], std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 2;
    }
    Bytes data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const double mb = double(data.size()) / (1024.0 * 1024.0);
    const std::string zip = "/tmp/ppmd_bench_" + std::to_string(::getpid()) + ".zip";

    TPpmdCodec codec;
    Times enc, dec, add, test;
    Bytes packed, unpacked;
    for (int r = 0; r < rounds; r++) {
        packed.clear();
        unpacked.clear();
        std::size_t pos = 0;
        double c0 = CpuSeconds(RUSAGE_SELF);
        TCodecStatus rc = codec.PPMdCompress(MemoryPpmdCallbacks(data, pos, packed), data.size(),
                                             TPpmdParams::FromWord(kPpmdWriterWord));
        enc.v.push_back(CpuSeconds(RUSAGE_SELF) - c0);
        if (rc != TCodecStatus::Ok) {
            std::fprintf(stderr, "encode failed: %d\n", CodecStatusMessage(rc));
            return 1;
        }
        pos = 0;
        c0 = CpuSeconds(RUSAGE_SELF);
        rc = codec.PPMdDecompress(MemoryPpmdCallbacks(packed, pos, unpacked), packed.size(), data.size());
        dec.v.push_back(CpuSeconds(RUSAGE_SELF) - c0);
        if (rc != TCodecStatus::Ok || unpacked != data) {
            std::fprintf(stderr, "decode failed: %d\n", CodecStatusMessage(rc));
            return 1;
        }
        if (withPeer) {
            std::remove(zip.c_str());
            double a = TimeCommand("7zz a -tzip -mmt1 -mm=PPMd:o=16:mem=64m '" + zip + "' '" + argv[1] + "'");
            double t = TimeCommand("7zz t -mmt1 '" + zip + "'");
            std::remove(zip.c_str());
            if (a >= 0 && t >= 0) {
                add.v.push_back(a);
                test.v.push_back(t);
            }
        }
    }
    std::printf("file %s: %.2f MB -> %.2f MB (%.1f%%), %d rounds, CPU seconds least / median\n", argv[1], mb,
                double(packed.size()) / 1048576.0,
                data.empty() ? 0.0 : 100.0 * double(packed.size()) / double(data.size()), rounds);
    std::printf("ours: encode %.3f / %.3f, decode %.3f / %.3f\n", enc.Min(), enc.Median(), dec.Min(), dec.Median());
    if (!add.v.empty())
        std::printf("7zz (whole process, may lower the model size for small files): add %.3f / %.3f, test %.3f / "
                    "%.3f; ratios ours/7zz of the least %.2f, %.2f\n",
                    add.Min(), add.Median(), test.Min(), test.Median(), enc.Min() / add.Min(),
                    dec.Min() / test.Min());
    std::printf("ppmd_MBps_encode=%.2f decode=%.2f\n", enc.Min() > 0 ? mb / enc.Min() : 0.0,
                dec.Min() > 0 ? mb / dec.Min() : 0.0);
    return 0;
}
