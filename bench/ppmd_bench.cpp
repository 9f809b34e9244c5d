// PPMd coding speed with the writer's parameters (order 16, 64 MB, restart), in memory.
// Usage: ppmd_bench FILE. Last line: ppmd_MBps_encode=X decode=Y (MB of uncompressed data per s).
#include "core/plxPPMDi1.h"

#include <chrono>
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
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

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

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    std::ifstream f(argv[1], std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 2;
    }
    Bytes data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const double mb = double(data.size()) / (1024.0 * 1024.0);

    TPpmdCodec codec;
    Bytes packed, unpacked;
    std::size_t pos = 0;
    auto t0 = Clock::now();
    double c0 = CpuSeconds(RUSAGE_SELF);
    TCodecStatus rc =
        codec.PPMdCompress(MemoryPpmdCallbacks(data, pos, packed), data.size(), TPpmdParams::FromWord(kPpmdWriterWord));
    double encSec = Seconds(t0);
    const double encCpu = CpuSeconds(RUSAGE_SELF) - c0;
    if (rc != TCodecStatus::Ok) {
        std::fprintf(stderr, "encode failed: %d\n", CodecStatusMessage(rc));
        return 1;
    }
    pos = 0;
    t0 = Clock::now();
    c0 = CpuSeconds(RUSAGE_SELF);
    rc = codec.PPMdDecompress(MemoryPpmdCallbacks(packed, pos, unpacked), packed.size(), data.size());
    double decSec = Seconds(t0);
    const double decCpu = CpuSeconds(RUSAGE_SELF) - c0;
    if (rc != TCodecStatus::Ok || unpacked != data) {
        std::fprintf(stderr, "decode failed: %d\n", CodecStatusMessage(rc));
        return 1;
    }
    std::printf("file %s: %.2f MB -> %.2f MB (%.1f%%)\n", argv[1], mb, double(packed.size()) / 1048576.0,
                data.empty() ? 0.0 : 100.0 * double(packed.size()) / double(data.size()));
    std::printf("ours: encode %.3f s, decode %.3f s (CPU %.3f s, %.3f s)\n", encSec, decSec, encCpu, decCpu);

    if (std::system("command -v 7zz >/dev/null 2>&1") == 0) {
        std::string zip = "/tmp/ppmd_bench_" + std::to_string(::getpid()) + ".zip";
        std::remove(zip.c_str());
        double a = TimeCommand("7zz a -tzip -mmt1 -mm=PPMd:o=16:mem=64m '" + zip + "' '" + argv[1] + "'");
        double t = TimeCommand("7zz t -mmt1 '" + zip + "'");
        std::remove(zip.c_str());
        if (a >= 0 && t >= 0)
            std::printf(
                "7zz (whole process, may lower the model size for small files): add CPU %.3f s, test CPU %.3f s; "
                "ratios ours/7zz %.2f, %.2f\n",
                a, t, encCpu / a, decCpu / t);
    }
    std::printf("ppmd_MBps_encode=%.2f decode=%.2f\n", encSec > 0 ? mb / encSec : 0.0, decSec > 0 ? mb / decSec : 0.0);
    return 0;
}
