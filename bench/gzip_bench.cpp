// Our .gz writer and reader against gzip -6 and gzip -d on one corpus, in one run.
// Usage: gzip_bench [MiB]   (default 32)
#include "core/plxStreams.h"
#include "readers/GzipFormat.h"
#include "writers/plxGZip.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

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
    static const char* words[] = {"archive ", "backup ", "folder ", "restore ", "data ", "výplatní ", "páska ",
                                  "0123456789 ", "\n", "torvo "};
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

}  // namespace

int main(int argc, char** argv)
{
    const std::size_t mib = argc > 1 ? std::size_t(std::atoi(argv[1])) : 32;
    char pattern[] = "/tmp/torvo-gzbench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string dir = pattern;
    const std::string corpus = dir + "/corpus.bin";
    WriteCorpus(corpus, mib << 20);

    TGZip gz;
    gz.SetFileSpec({corpus});
    gz.SetArchiveFile(dir + "/ours.gz");
    gz.ConfirmOverwrites = false;
    int written = 0;
    const double oursWrite = Seconds([&] { written = gz.Compress(); });
    const double toolWrite = Seconds([&] {
        if (std::system(("gzip -6 -c '" + corpus + "' > '" + dir + "/tool.gz'").c_str()) != 0)
            std::fprintf(stderr, "gzip failed\n");
    });

    std::uint64_t out = 0;
    bool ok = false;
    const double oursRead = Seconds([&] {
        TFileStream32 in(dir + "/tool.gz", fmOpenRead);
        const auto r = DecodeGzipStream(
            [&](std::uint8_t* b, std::size_t n) { return std::size_t(std::max(in.Read(b, std::int32_t(n)), 0)); },
            [&](const std::uint8_t*, std::size_t n) { out += n; });
        ok = r.Status == TGzipStatus::Ok;
    });
    const double toolRead = Seconds([&] {
        if (std::system(("gzip -dc '" + dir + "/tool.gz' > /dev/null").c_str()) != 0)
            std::fprintf(stderr, "gzip -d failed\n");
    });

    const auto oursSize = fs::file_size(dir + "/ours.gz");
    const auto toolSize = fs::file_size(dir + "/tool.gz");
    std::printf("corpus %zu MiB; ours %s, read %s\n", mib, written == 1 ? "written" : "FAILED",
                ok && out == (mib << 20) ? "ok" : "FAILED");
    std::printf("write: ours %.3f s, gzip -6 %.3f s, ratio %.2f; size ours %ju, gzip %ju (%.4f)\n", oursWrite,
                toolWrite, oursWrite / toolWrite, std::uintmax_t(oursSize), std::uintmax_t(toolSize),
                double(oursSize) / double(toolSize));
    std::printf("read:  ours %.3f s, gzip -d %.3f s, ratio %.2f\n", oursRead, toolRead, oursRead / toolRead);
    fs::remove_all(dir);
    return written == 1 && ok ? 0 : 1;
}
