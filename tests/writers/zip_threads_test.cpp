// Members deflated by worker threads: the archive, the order of events and a cancelled run must be
// exactly those of a run on the caller's thread alone.
#include "writers/plxZip.h"

#include "support/ToolRun.h"
#include "tests/platform/win/FsTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

namespace {

class ZipThreads : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        src = root + "/src";
        // Below and above the size handed to workers, packable and not, empty, stored by type, and
        // one past the in-memory size, so that members packed here, by workers and streamed interleave.
        for (int i = 0; i < 40; ++i) {
            std::string text;
            for (int k = 0; k < 400 * (i % 7 + 1); ++k)
                text += "line " + std::to_string(k * i) + " of file " + std::to_string(i) + "\n";
            WriteHostFile(src + "/d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".txt", text);
        }
        WriteHostFile(src + "/noise.bin", RandomBytes(200000, 3));
        WriteHostFile(src + "/tiny-noise.bin", RandomBytes(100, 4));
        WriteHostFile(src + "/empty.txt", "");
        WriteHostFile(src + "/inner.zip", std::string(5000, 'z'));
        const auto mixed = MixedBytes(9u << 20, 5);
        WriteHostFile(src + "/big.bin", std::string(mixed.begin(), mixed.end()));
    }

    // One run; every event it fires, in order, goes to the log.
    int Run(const std::string& zip, int threads, std::string& log, const std::function<void(TZip&)>& setup = {})
    {
        TZip z;
        z.CompressThreads = threads;
        z.StoredDirNames = sdRelative;
        z.RecurseDirs = true;
        z.SetFileSpec({ZDrivePath(src) + "\\*"});
        std::ostringstream events;
        z.OnBegin = [&](TObject*, const std::string& name, int count, bool&) {
            events << "begin " << name << " " << count << "\n";
        };
        z.OnProgress = [&](TObject*, std::uint8_t file, std::uint8_t archive) {
            events << "progress " << int(file) << " " << int(archive) << "\n";
        };
        z.OnEnd = [&](TObject*, const std::string& name, bool pass) {
            events << "end " << name << " " << pass << "\n";
        };
        z.OnError = [&](TObject*, const std::string& name, const std::string&, const std::string&, int code) {
            events << "error " << name << " " << code << "\n";
        };
        if (setup)
            setup(z);
        z.SetArchiveFile(ZDrivePath(zip));
        const int added = z.Compress();
        log = events.str();
        return added;
    }

    // Archives are compared whole; a mismatch reports where, not the bytes.
    static void ExpectSameBytes(const std::string& a, const std::string& b)
    {
        const std::string x = ReadHostFile(a), y = ReadHostFile(b);
        const auto diff = std::mismatch(x.begin(), x.end(), y.begin(), y.end());
        EXPECT_TRUE(x == y) << a << " (" << x.size() << " bytes) and " << b << " (" << y.size()
                            << " bytes) differ from offset " << (diff.first - x.begin());
    }

    std::string src;
};

TEST_F(ZipThreads, WorkersWriteTheSameArchiveWithTheSameEventsAndCancelKeepsTheOldOne)
{
    const std::string one = root + "/one.zip", many = root + "/many.zip";
    std::string oneLog, manyLog;
    const int added = Run(one, 1, oneLog);
    ASSERT_EQ(added, 45);
    EXPECT_EQ(Run(many, 4, manyLog), added);
    EXPECT_EQ(manyLog, oneLog);
    ExpectSameBytes(many, one);
    int status = -1;
    const std::string tested = CaptureCommand("unzip -tq " + ShellQuote(many) + " 2>&1", &status);
    EXPECT_EQ(status, 0) << tested;

    // Deflated at the fast and the best level too, and with a password (whose header is random, so
    // only the events and the contents can be compared).
    for (const TDeflateType level : {dtDeflateF, dtDeflateX}) {
        std::filesystem::remove(one);
        std::filesystem::remove(many);
        const auto setLevel = [level](TZip& z) { z.DeflateType = level; };
        Run(one, 1, oneLog, setLevel);
        Run(many, 3, manyLog, setLevel);
        EXPECT_EQ(manyLog, oneLog) << int(level);
        ExpectSameBytes(many, one);
    }
    const std::string secret = root + "/secret.zip";
    Run(secret, 4, manyLog, [](TZip& z) { z.SetPassword("heslo"); });
    std::filesystem::remove(one);
    Run(one, 1, oneLog, [](TZip& z) { z.SetPassword("heslo"); });
    EXPECT_EQ(manyLog, oneLog);
    status = -1;
    const std::string unpacked = CaptureCommand("unzip -tq -P heslo " + ShellQuote(secret) + " 2>&1", &status);
    EXPECT_EQ(status, 0) << unpacked;

    // A run cancelled from an event halfway leaves the archive as it was, with the same events.
    const std::string before = ReadHostFile(many);
    for (const char* file : {"d1/f7.txt", "d2/f20.txt", "noise.bin", "big.bin"})
        WriteHostFile(src + "/" + file, std::string("changed ") + file);
    const auto cancelAt = [](TZip& z) {
        z.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, std::int64_t,
                             std::int64_t, int, int, bool& Replace) { Replace = true; };
        auto begin = z.OnBegin;
        z.OnBegin = [&z, begin](TObject* s, const std::string& name, int count, bool& go) {
            begin(s, name, count, go);
            if (name == "d2\\f20.txt")
                z.SetCancel(true);
        };
    };
    const std::string copy = root + "/copy.zip";
    std::filesystem::copy_file(many, copy);
    EXPECT_EQ(Run(many, 4, manyLog, cancelAt), 0);
    EXPECT_EQ(Run(copy, 1, oneLog, cancelAt), 0);
    EXPECT_EQ(manyLog, oneLog);
    EXPECT_NE(manyLog.find("begin d2\\f20.txt"), std::string::npos) << manyLog;
    EXPECT_TRUE(ReadHostFile(many) == before);
    EXPECT_TRUE(ReadHostFile(copy) == before);
}

// A new archive is written while the tree is walked unless a listener needs the whole list first
// (the whole run's progress here): with and without workers, the same bytes and the same events,
// past the batches in which written entries leave the list, and the same end when cancelled.
TEST_F(ZipThreads, WrittenWhileWalkingEqualsTheListedRun)
{
    for (int i = 0; i < 700; ++i)
        WriteHostFile(src + "/n" + std::to_string(i % 5) + "/m" + std::to_string(i / 50) + "/g" + std::to_string(i) +
                          ".txt",
                      std::string(std::size_t(i % 97), char('a' + i % 26)));
    WriteHostFile(src + "/pair/Case.txt", "upper");
    WriteHostFile(src + "/pair/case.txt", "lower");
    WriteHostFile(src + "/" + std::string(200, 'l') + "/" + std::string(200, 'm') + ".txt", "long");
    WriteHostFile(src + "/doomed.txt", "removed at its turn");
    std::filesystem::create_directories(src + "/hollow/inner");
    std::filesystem::create_directories(src + "/n3/void");

    // The scan's own reports need the whole list first.
    const auto listed = [](TZip& z) {
        z.StoreEmptySubDirs = true;
        z.OnFileScanStatus = [](TObject*, const std::string&, int, std::int64_t) {};
    };
    const auto walked = [](TZip& z) {
        z.StoreEmptySubDirs = true;
        z.OnProgress = nullptr;
    };
    // The progress lines are the listed run's own.
    const auto withoutProgress = [](const std::string& log) {
        std::istringstream in(log);
        std::string out, line;
        while (std::getline(in, line))
            if (line.rfind("progress ", 0) != 0)
                out += line + "\n";
        return out;
    };
    // A file gone when its turn comes is reported and left out; the others are written.
    const auto removeDoomed = [this](TZip& z) {
        auto begin = z.OnBegin;
        z.OnBegin = [this, begin](TObject* s, const std::string& name, int count, bool& go) {
            begin(s, name, count, go);
            if (name == "doomed.txt")
                std::filesystem::remove(src + "/doomed.txt");
        };
    };
    const auto then = [](auto first, auto second) {
        return [first, second](TZip& z) {
            first(z);
            second(z);
        };
    };

    const std::string list4 = root + "/list4.zip", walk4 = root + "/walk4.zip", walk1 = root + "/walk1.zip";
    std::string list4Log, walk4Log, walk1Log;
    const int added = Run(list4, 4, list4Log, then(listed, removeDoomed));
    WriteHostFile(src + "/doomed.txt", "removed at its turn");
    EXPECT_EQ(Run(walk4, 4, walk4Log, then(walked, removeDoomed)), added);
    WriteHostFile(src + "/doomed.txt", "removed at its turn");
    EXPECT_EQ(Run(walk1, 1, walk1Log, then(walked, removeDoomed)), added);
    EXPECT_EQ(added, 45 + 700 + 3 + 3);
    EXPECT_NE(list4Log.find("error "), std::string::npos);
    EXPECT_EQ(walk4Log, withoutProgress(list4Log));
    EXPECT_EQ(walk1Log, walk4Log);
    EXPECT_EQ(walk4Log.find("progress "), std::string::npos);
    ExpectSameBytes(walk4, list4);
    ExpectSameBytes(walk1, list4);
    int status = -1;
    const std::string tested = CaptureCommand("unzip -tq " + ShellQuote(walk4) + " 2>&1", &status);
    EXPECT_EQ(status, 0) << tested;

    // Cancelled well past the first batch of written entries: no archive, the same events.
    const auto cancelAt = [](TZip& z) {
        auto begin = z.OnBegin;
        z.OnBegin = [&z, begin](TObject* s, const std::string& name, int count, bool& go) {
            begin(s, name, count, go);
            if (count == 600)
                z.SetCancel(true);
        };
    };
    const std::string cutList = root + "/cutlist.zip", cutWalk = root + "/cutwalk.zip";
    EXPECT_EQ(Run(cutList, 4, list4Log, then(listed, cancelAt)), 0);
    EXPECT_EQ(Run(cutWalk, 4, walk4Log, then(walked, cancelAt)), 0);
    EXPECT_EQ(walk4Log, withoutProgress(list4Log));
    EXPECT_NE(walk4Log.find(" 600\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(cutWalk));
    EXPECT_FALSE(std::filesystem::exists(cutList));
}

}  // namespace
