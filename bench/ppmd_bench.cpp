// PPMd coding speed with the writer's parameters (order 16, 64 MB, restart), in memory.
// Usage: ppmd_bench FILE|DIR [ROUNDS] [--ours]. Each round codes FILE with ours and then, when 7zz is
// there and --ours is not given, times 7zz on it with the same order and model size; the machine is
// shared, so the rounds alternate and the least and the median CPU time of each count.
// A DIR is coded file by file, each a member of its own as in an archive, with one coder (no peer).
// Last line: ppmd_MBps_encode=X decode=Y (MB of uncompressed data per CPU second, best round).
#include "core/plxPPMDi1.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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
    std::vector<Bytes> members;
    std::vector<std::string> names;
    if (std::filesystem::is_directory(argv[1])) {
        for (const auto& e : std::filesystem::recursive_directory_iterator(argv[1]))
            if (e.is_regular_file())
                names.push_back(e.path().string());
        std::sort(names.begin(), names.end());
    } else {
        names.push_back(argv[1]);
    }
    std::size_t total = 0;
    for (const std::string& name : names) {
        std::ifstream f(name, std::ios::binary);
        if (!f) {
            std::fprintf(stderr, "cannot open %s\n", name.c_str());
            return 2;
        }
        members.emplace_back((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        total += members.back().size();
    }
    const double mb = double(total) / (1024.0 * 1024.0);
    const bool peer = withPeer && names.size() == 1 && names[0] == argv[1];
    const std::string zip = "/tmp/ppmd_bench_" + std::to_string(::getpid()) + ".zip";

    TPpmdCodec codec;
    Times enc, dec, add, test;
    std::vector<Bytes> packed(members.size()), unpacked(members.size());
    std::size_t packedTotal = 0;
    for (int r = 0; r < rounds; r++) {
        double c0 = CpuSeconds(RUSAGE_SELF);
        for (std::size_t k = 0; k < members.size(); k++) {
            packed[k].clear();
            std::size_t pos = 0;
            TCodecStatus rc = codec.PPMdCompress(MemoryPpmdCallbacks(members[k], pos, packed[k]), members[k].size(),
                                                 TPpmdParams::FromWord(kPpmdWriterWord));
            if (rc != TCodecStatus::Ok) {
                std::fprintf(stderr, "encode of %s failed: %d\n", names[k].c_str(), CodecStatusMessage(rc));
                return 1;
            }
        }
        enc.v.push_back(CpuSeconds(RUSAGE_SELF) - c0);
        c0 = CpuSeconds(RUSAGE_SELF);
        for (std::size_t k = 0; k < members.size(); k++) {
            unpacked[k].clear();
            std::size_t pos = 0;
            TCodecStatus rc = codec.PPMdDecompress(MemoryPpmdCallbacks(packed[k], pos, unpacked[k]), packed[k].size(),
                                                   members[k].size());
            if (rc != TCodecStatus::Ok) {
                std::fprintf(stderr, "decode of %s failed: %d\n", names[k].c_str(), CodecStatusMessage(rc));
                return 1;
            }
        }
        dec.v.push_back(CpuSeconds(RUSAGE_SELF) - c0);
        if (unpacked != members) {
            std::fprintf(stderr, "decoded data differ\n");
            return 1;
        }
        packedTotal = 0;
        for (const Bytes& p : packed)
            packedTotal += p.size();
        if (peer) {
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
    std::printf("%s (%zu members): %.2f MB -> %.2f MB (%.1f%%), %d rounds, CPU seconds least / median\n", argv[1],
                members.size(), mb, double(packedTotal) / 1048576.0,
                total == 0 ? 0.0 : 100.0 * double(packedTotal) / double(total), rounds);
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
