// Our .gz writer and reader against gzip -6 and gzip -d on one corpus, in one run.
// Usage: gzip_bench [MiB] [ROUNDS]   (defaults 32, 3; medians of the rounds, tools alternating)
#include "core/plxStreams.h"
#include "readers/GzipFormat.h"
#include "writers/plxGZip.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

double Seconds(const std::function<void()>& f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Text-like runs with some noise, so that deflate has work of every kind.
void WriteCorpus(const std::string& path, std::size_t size)
{
    std::mt19937 gen(42);
    static const char* words[] = {"archive ",  "backup ", "folder ",     "restore ", "data ",
                                  "výplatní ", "páska ",  "0123456789 ", "\n",       "torvo "};
    std::string s;
    s.reserve(size);
    while (s.size() < size) {
        if (gen() % 16 == 0)
            for (int i = 0; i < 64; ++i)
                s.push_back(char(gen() & 0xFF));
        else
            s += words[gen() % 10];
    }
    s.resize(size);
    std::ofstream(path, std::ios::binary) << s;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[(v.size() - 1) / 2];
}

bool Have(const char* tool)
{
    return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

void Run(const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "failed: %s\n", command.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    const std::size_t mib = argc > 1 ? std::size_t(std::atoi(argv[1])) : 32;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    char pattern[] = "/tmp/torvo-gzbench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string dir = pattern;
    const std::string corpus = dir + "/corpus.bin";
    WriteCorpus(corpus, mib << 20);
    const bool fast = Have("libdeflate-gzip") && Have("libdeflate-gunzip");

    int written = 0;
    bool ok = true;
    std::vector<double> oursWrite, gzipWrite, fastWrite, oursRead, gzipRead, fastRead;
    // Ours and the tools alternate within each round, so that the machine's load hits all alike.
    for (int r = 0; r < rounds; ++r) {
        fs::remove(dir + "/ours.gz");
        TGZip gz;
        gz.SetFileSpec({corpus});
        gz.SetArchiveFile(dir + "/ours.gz");
        gz.ConfirmOverwrites = false;
        oursWrite.push_back(Seconds([&] { written = gz.Compress(); }));
        gzipWrite.push_back(Seconds([&] { Run("gzip -6 -c '" + corpus + "' > '" + dir + "/tool.gz'"); }));
        if (fast)
            fastWrite.push_back(
                Seconds([&] { Run("libdeflate-gzip -6 -c '" + corpus + "' > '" + dir + "/fast.gz'"); }));

        std::uint64_t out = 0;
        oursRead.push_back(Seconds([&] {
            TFileStream32 in(dir + "/tool.gz", fmOpenRead);
            const auto res = DecodeGzipStream(
                [&](std::uint8_t* b, std::size_t n) { return std::size_t(std::max(in.Read(b, std::int32_t(n)), 0)); },
                [&](const std::uint8_t*, std::size_t n) { out += n; });
            ok = ok && res.Status == TCodecStatus::Ok;
        }));
        ok = ok && out == (mib << 20);
        gzipRead.push_back(Seconds([&] { Run("gzip -dc '" + dir + "/tool.gz' > /dev/null"); }));
        if (fast)
            fastRead.push_back(Seconds([&] { Run("libdeflate-gunzip -c '" + dir + "/tool.gz' > /dev/null"); }));
    }

    const auto oursSize = fs::file_size(dir + "/ours.gz");
    const auto toolSize = fs::file_size(dir + "/tool.gz");
    std::printf("corpus %zu MiB, %d rounds (medians); ours %s, read %s\n", mib, rounds,
                written == 1 ? "written" : "FAILED", ok ? "ok" : "FAILED");
    const double ow = Median(oursWrite), gw = Median(gzipWrite), orr = Median(oursRead), gr = Median(gzipRead);
    std::printf("write: ours %.3f s, gzip -6 %.3f s, ratio %.2f; size ours %ju, gzip %ju (%.4f)\n", ow, gw, ow / gw,
                std::uintmax_t(oursSize), std::uintmax_t(toolSize), double(oursSize) / double(toolSize));
    std::printf("read:  ours %.3f s, gzip -d %.3f s, ratio %.2f\n", orr, gr, orr / gr);
    if (fast) {
        const double fw = Median(fastWrite), fr = Median(fastRead);
        const auto fastSize = fs::file_size(dir + "/fast.gz");
        std::printf("write: ours %.3f s, libdeflate-gzip -6 %.3f s, ratio %.2f; size %ju (%.4f)\n", ow, fw, ow / fw,
                    std::uintmax_t(fastSize), double(oursSize) / double(fastSize));
        std::printf("read:  ours %.3f s, libdeflate-gunzip %.3f s, ratio %.2f\n", orr, fr, orr / fr);
    }
    fs::remove_all(dir);
    return written == 1 && ok ? 0 : 1;
}
