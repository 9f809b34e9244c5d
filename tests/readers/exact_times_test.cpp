// Formats that store a UNIX time give it back exactly on extraction, as their own tools do: times
// before 1980 and 1970 and after 2038, which a DOS date cannot hold.
#include "tests/support/ToolRun.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::string kTool = std::string(TORVO_TEST_BIN_DIR) + "/../../tools/plxtool";

// Seconds since 1970 of every file and folder below Folder, by relative name.
std::map<std::string, std::int64_t> Times(const fs::path& Folder)
{
    std::map<std::string, std::int64_t> times;
    for (const auto& e : fs::recursive_directory_iterator(Folder)) {
        struct stat st {};
        if (lstat(e.path().c_str(), &st) == 0)
            times[fs::relative(e.path(), Folder).string()] = st.st_mtime;
    }
    return times;
}

}  // namespace

TEST(ExactTimes, TarZipLhaArjGzipAndBzip2GiveTheStoredTime)
{
    if (!fs::exists(kTool))
        GTEST_SKIP() << "plxtool not built";
    if (!HaveTool("tar") || !HaveTool("zip"))
        GTEST_SKIP() << "tar or zip missing";
    TScratchDir dir;
    ASSERT_EQ(dir.Run("mkdir -p src/dir && cd src && echo a > y1975 && echo b > y1969 && echo c > y2040 && "
                      "echo d > odd && touch -d '1975-06-01 12:00:00 UTC' y1975 dir && "
                      "touch -d '1969-03-01 10:00:00 UTC' y1969 && touch -d '2040-01-01 00:00:01 UTC' y2040 && "
                      "touch -d '2001-02-03 04:05:07 UTC' odd"),
              0);
    const auto source = Times(dir / "src");
    struct TCase {
        const char* Archive;
        const char* Make;  // run in src
        std::vector<std::string> Names;
    };
    const std::vector<TCase> cases = {
        {"g.tar", "tar --format=gnu -cf ../g.tar *", {"y1975", "y1969", "y2040", "odd", "dir"}},
        {"p.tar", "tar --format=posix -cf ../p.tar *", {"y1975", "y1969", "y2040", "odd", "dir"}},
        {"z.zip", "zip -qr ../z.zip *", {"y1975", "y1969", "y2040", "odd", "dir"}},
        {"l.lzh", "lha c2 ../l.lzh y1975 y2040 odd", {"y1975", "y2040", "odd"}},
        {"a.arj", "arj a ../a.arj y1975 y2040 odd", {"y1975", "y2040", "odd"}},
        {"y1975.gz", "gzip -k y1975 && mv y1975.gz ..", {"y1975"}},
        // No time of its own: the output takes the archive file's, as bzip2 gives it.
        {"y1975.bz2", "bzip2 -k y1975 && mv y1975.bz2 ..", {"y1975"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Archive);
        const std::string tool = std::string(c.Make).substr(0, std::string(c.Make).find(' '));
        if (!HaveTool(tool))
            continue;
        ASSERT_EQ(dir.Run(std::string("cd src && ") + c.Make + " >/dev/null 2>&1 </dev/null"), 0);
        const fs::path out = dir / (std::string("out-") + c.Archive);
        fs::create_directories(out);
        ASSERT_EQ(dir.Run(ShellQuote(kTool) + " extract " + ShellQuote((dir / c.Archive).string()) + " " +
                          ShellQuote(out.string()) + " >/dev/null"),
                  0);
        const auto got = Times(out);
        for (const std::string& name : c.Names)
            EXPECT_EQ(got.count(name) ? got.at(name) : -1, source.at(name)) << name;
    }
}

TEST(ExactTimes, AZipNtfsTimeOfZeroLeavesTheDosDate)
{
    if (!fs::exists(kTool))
        GTEST_SKIP() << "plxtool not built";
    // One stored member "n" = "x" of 2001-02-03 04:05:06 (DOS), its NTFS block's times all zero.
    std::string zip;
    const auto le = [&zip](std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            zip += char(v >> (8 * i) & 0xFF);
    };
    const auto fields = [&](std::uint32_t signature, bool central) {
        le(signature, 4);
        if (central)
            le(20, 2);
        le(20, 2), le(0, 2), le(0, 2), le(0x20A3, 2), le(0x2A43, 2), le(0x8CDC1683, 4), le(1, 4), le(1, 4);
        le(1, 2), le(36, 2);
        if (central)
            le(0, 2), le(0, 2), le(0, 2), le(0, 4), le(0, 4);
        zip += 'n';
        le(0x000A, 2), le(32, 2), le(0, 4), le(1, 2), le(24, 2), le(0, 8), le(0, 8), le(0, 8);
    };
    fields(0x04034B50, false);
    zip += 'x';
    const std::size_t central = zip.size();
    fields(0x02014B50, true);
    const std::size_t centralSize = zip.size() - central;
    le(0x06054B50, 4), le(0, 4), le(1, 2), le(1, 2), le(centralSize, 4), le(central, 4), le(0, 2);
    TScratchDir dir;
    std::ofstream(dir / "ntfs.zip", std::ios::binary) << zip;
    fs::create_directories(dir / "out");
    ASSERT_EQ(dir.Run(ShellQuote(kTool) + " extract " + ShellQuote((dir / "ntfs.zip").string()) + " " +
                      ShellQuote((dir / "out").string()) + " >/dev/null"),
              0);
    const auto got = Times(dir / "out");
    ASSERT_EQ(got.count("n"), 1u);
    // 2001-02-03 04:05:06 in whatever zone the test runs.
    EXPECT_LT(std::llabs(got.at("n") - 981173106), 15 * 3600);
}
