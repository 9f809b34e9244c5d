#include "core/plxHooks.h"
#include "core/plxStreams.h"
#include "platform/win/FsTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

class StreamsTest : public FsTest {
protected:
    void TearDown() override
    {
        ProcessMessagesHook = nullptr;
        FsTest::TearDown();
    }

    std::string Host(const std::string& name) const { return root + "/" + name; }

    static std::string Pattern(std::size_t n)
    {
        std::string s(n, '\0');
        for (std::size_t i = 0; i < n; ++i)
            s[i] = char((i * 131 + i / 251) & 0xFF);
        return s;
    }
};

TEST_F(StreamsTest, MissingFileGivesInvalidHandleThatReadsNothing)
{
    TFileStream32 missing(Host("nothing-here.bin"), fmOpenRead | fmShareDenyWrite);
    EXPECT_FALSE(missing.HandleValid());
    EXPECT_EQ(missing.Handle(), INVALID_HANDLE_VALUE);
    char buffer[16];
    EXPECT_EQ(missing.Read(buffer, sizeof buffer), 0);
    EXPECT_EQ(missing.Write(buffer, sizeof buffer), 0);
    EXPECT_EQ(missing.Seek64(0, soEnd), -1);
    EXPECT_THROW(missing.ReadBuffer(buffer, 1), EReadError);

    // Creating inside a missing folder fails the same quiet way.
    TFileStream32 orphan(Host("no/such/folder/x.bin"), fmCreate);
    EXPECT_FALSE(orphan.HandleValid());
}

TEST_F(StreamsTest, FileStreamModesReadWriteAndTruncate)
{
    const std::string name = Host("data.bin");
    {
        TFileStream32 out(name, fmCreate);
        ASSERT_TRUE(out.HandleValid());
        out.WriteBuffer("hello world", 11);
        EXPECT_EQ(out.Size(), 11);
        out.SetSize64(5);
        EXPECT_EQ(out.Size(), 5);
    }
    EXPECT_EQ(ReadHostFile(name), "hello");

    TFileStream32 in(name, fmOpenRead | fmShareDenyWrite);
    ASSERT_TRUE(in.HandleValid());
    EXPECT_EQ(in.Write("x", 1), 0) << "a read-only open must not write";
    EXPECT_THROW(in.SetSize64(2), EOSError);
    EXPECT_EQ(in.Seek(2, soBeginning), 2);
    char rest[8] = {};
    EXPECT_EQ(in.Read(rest, sizeof rest), 3);
    EXPECT_STREQ(rest, "llo");
}

TEST_F(StreamsTest, CopyFromZeroCopiesWholeSourceFromStart)
{
    const std::string data = Pattern(3 * TStream32::kCopyChunk + 1234);
    WriteHostFile(Host("src.bin"), data);
    TFileStream32 src(Host("src.bin"), fmOpenRead);
    src.SetPosition(1000);

    TMemoryStream32 dst;
    EXPECT_EQ(dst.CopyFrom(&src, 0), std::int64_t(data.size()));
    ASSERT_EQ(dst.Size(), std::int64_t(data.size()));
    EXPECT_EQ(std::memcmp(dst.Memory(), data.data(), data.size()), 0);

    // An explicit count copies from where the source stands; a short source raises.
    src.SetPosition(10);
    TMemoryStream32 part;
    EXPECT_EQ(part.CopyFrom(&src, 100), 100);
    EXPECT_EQ(std::memcmp(part.Memory(), data.data() + 10, 100), 0);
    src.SetPosition(std::int64_t(data.size()) - 5);
    EXPECT_THROW(part.CopyFrom(&src, 10), EReadError);
}

TEST_F(StreamsTest, CancelDuringCopyStopsBeforeNextChunk)
{
    const std::string data = Pattern(5 * TStream32::kCopyChunk);
    TMemoryStream32 src;
    src.WriteBuffer(data.data(), std::int32_t(data.size()));

    bool cancel = false;
    int pumps = 0;
    ProcessMessagesHook = [&] {
        if (++pumps == 3)
            cancel = true;  // the user presses Cancel while the third chunk is due
    };
    TMemoryStream32 dst;
    dst.CancelPointer = &cancel;
    EXPECT_EQ(dst.CopyFrom(&src, 0), 2 * TStream32::kCopyChunk);
    EXPECT_EQ(dst.Size(), 2 * TStream32::kCopyChunk);
    EXPECT_EQ(src.Position(), 2 * TStream32::kCopyChunk) << "no chunk is read after the cancel";

    // A flag already set copies nothing.
    TMemoryStream32 none;
    none.CancelPointer = &cancel;
    EXPECT_EQ(none.CopyFrom(&src, 0), 0);
}

TEST_F(StreamsTest, SeeksBeyondFourGibOnSparseFile)
{
    const std::int64_t big = (std::int64_t(1) << 32) + 4096;
    const std::string name = Host("sparse.bin");
    {
        TFileStream32 out(name, fmCreate);
        ASSERT_TRUE(out.HandleValid());
        out.SetSize64(big);
        EXPECT_EQ(out.Seek64(big - 3, soBeginning), big - 3);
        out.WriteBuffer("end", 3);
        EXPECT_EQ(out.Seek64(-(big / 2), soCurrent), big - big / 2);
        EXPECT_EQ(out.Seek64(-1, soEnd), big - 1);
    }
    TFileStream32 in(name, fmOpenRead);
    EXPECT_EQ(in.Size(), big);
    EXPECT_EQ(in.Seek64(-3, soEnd), big - 3);
    char tail[3];
    in.ReadBuffer(tail, 3);
    EXPECT_EQ(std::string(tail, 3), "end");
    EXPECT_EQ(in.Position(), big);
    EXPECT_EQ(in.Seek64(std::int64_t(1) << 32, soBeginning), std::int64_t(1) << 32);
}

TEST_F(StreamsTest, WriteBehindAgreesWithPlainWritesAndReportsAFullDisk)
{
    // Random writes, seeks, reads and cuts through a tiny window, against a model of the file:
    // appends, rewrites behind the window, writes past the end and across it, larger than it.
    const std::string name = Host("behind.bin");
    std::string model;
    std::mt19937 rng(11);
    {
        TFileStream32 out(name, fmCreate);
        ASSERT_TRUE(out.HandleValid());
        out.EnableWriteBehind(64);
        std::int64_t at = 0;
        for (int step = 0; step < 3000; ++step) {
            const unsigned op = rng() % 10;
            if (op < 6) {
                std::string data(1 + rng() % 150, '\0');
                for (char& c : data)
                    c = char(rng());
                out.WriteBuffer(data.data(), std::int32_t(data.size()));
                if (model.size() < std::size_t(at) + data.size())
                    model.resize(std::size_t(at) + data.size(), '\0');
                model.replace(std::size_t(at), data.size(), data);
                at += std::int64_t(data.size());
            } else if (op < 8) {
                at = std::int64_t(rng() % (model.size() + 20));
                EXPECT_EQ(out.Seek64(at, soBeginning), at);
            } else if (op == 8) {
                char buffer[100];
                const auto want = std::int32_t(rng() % sizeof buffer);
                const std::int32_t got = out.Read(buffer, want);
                const std::size_t left = std::size_t(at) < model.size() ? model.size() - std::size_t(at) : 0;
                ASSERT_EQ(std::size_t(got), std::min(left, std::size_t(want))) << "step " << step;
                if (got > 0) {
                    EXPECT_EQ(std::string(buffer, std::size_t(got)), model.substr(std::size_t(at), std::size_t(got)));
                }
                at += got;
            } else if (!model.empty()) {
                const std::size_t cut = rng() % model.size();
                out.SetSize64(std::int64_t(cut));
                model.resize(cut);
                at = std::int64_t(cut);
            }
            ASSERT_EQ(out.Position(), at) << "step " << step;
            ASSERT_EQ(out.Size(), std::int64_t(model.size())) << "step " << step;
        }
        EXPECT_EQ(out.Seek64(-3, soEnd), std::int64_t(model.size()) - 3);
        out.FlushWrites();
        EXPECT_EQ(ReadHostFile(name), model);
        out.WriteBuffer("tail", 4);  // left unwritten until the stream is freed
        model.replace(model.size() - 3, 4, "tail");
    }
    EXPECT_EQ(ReadHostFile(name), model);

    // A drive that fills up: the writes are taken, the flush says why they did not arrive.
    AddRemovableDrive('R', "floppy", 5000);
    TFileStream32 full("R:\\full.bin", fmCreate);
    ASSERT_TRUE(full.HandleValid());
    full.EnableWriteBehind();
    const std::string big = Pattern(20000);
    full.WriteBuffer(big.data(), std::int32_t(big.size()));
    EXPECT_THROW(full.FlushWrites(), EWriteError);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
}

TEST_F(StreamsTest, ReadAheadAgreesWithTheFileAndTellsItsListenerOfEveryRead)
{
    // Random seeks and reads of a few bytes (inside the window or across its end), of many and of
    // more than the window, past the end too; then the same with a listener, which hears each.
    const std::string name = Host("ahead.bin");
    const std::string file = Pattern(300000);
    WriteHostFile(name, file);
    for (const bool listened : {false, true}) {
        TFileStream32 in(name, fmOpenRead);
        ASSERT_TRUE(in.HandleValid());
        int heard = 0, reads = 0;
        if (listened)
            in.OnReadProgress = [&](TObject*, std::int64_t Done, std::int64_t Total) {
                ++heard;
                EXPECT_EQ(Done, in.Position());
                EXPECT_EQ(Total, std::int64_t(file.size()));
            };
        std::mt19937 rng(5);
        std::vector<char> buffer(100000);
        std::int64_t at = 0;
        for (int step = 0; step < 2000; ++step) {
            if (rng() % 3 == 0) {
                at = std::int64_t(rng() % (file.size() + 50));
                ASSERT_EQ(in.Seek64(at, soBeginning), at);
            }
            const auto want = std::int32_t(rng() % 4 == 0 ? 1000 + rng() % 99000 : 1 + rng() % 300);
            const std::int32_t got = in.Read(buffer.data(), want);
            ++reads;
            const std::size_t left = std::size_t(at) < file.size() ? file.size() - std::size_t(at) : 0;
            ASSERT_EQ(std::size_t(got), std::min(left, std::size_t(want))) << "step " << step;
            ASSERT_EQ(std::string(buffer.data(), std::size_t(got)), file.substr(std::size_t(at), std::size_t(got)))
                << "step " << step;
            at += got;
            ASSERT_EQ(in.Position(), at) << "step " << step;
        }
        EXPECT_EQ(heard, listened ? reads : 0);
    }
}

TEST_F(StreamsTest, WritesInPlaceAgreeWithWriteBuffer)
{
    // The same writes and seeks through two tiny windows, one of them filled in place wherever it
    // offers room (then committing at most what it asked), must leave the same file.
    const std::string plainName = Host("plain.bin");
    const std::string placedName = Host("placed.bin");
    std::mt19937 rng(5);
    int placed = 0;
    {
        TFileStream32 plain(plainName, fmCreate);
        TFileStream32 inPlace(placedName, fmCreate);
        plain.EnableWriteBehind(64);
        inPlace.EnableWriteBehind(64);
        for (int step = 0; step < 2000; ++step) {
            if (rng() % 5 == 0) {
                const std::int64_t at = std::int64_t(rng() % std::uint64_t(plain.Size() + 10));
                plain.Seek64(at, soBeginning);
                inPlace.Seek64(at, soBeginning);
                continue;
            }
            std::string data(1 + rng() % 80, '\0');
            for (char& c : data)
                c = char(rng());
            const auto asked = std::int32_t(data.size() + rng() % 3);
            std::uint8_t* place = inPlace.PlaceForWrite(asked);
            if (asked >= 64) {
                EXPECT_EQ(place, nullptr);
            }
            if (place) {
                std::memcpy(place, data.data(), data.size());
                inPlace.WroteInPlace(std::int32_t(data.size()));
                ++placed;
            } else {
                inPlace.WriteBuffer(data.data(), std::int32_t(data.size()));
            }
            plain.WriteBuffer(data.data(), std::int32_t(data.size()));
            ASSERT_EQ(inPlace.Position(), plain.Position()) << "step " << step;
            ASSERT_EQ(inPlace.Size(), plain.Size()) << "step " << step;
        }
    }
    EXPECT_GT(placed, 1000);
    EXPECT_EQ(ReadHostFile(placedName), ReadHostFile(plainName));

    // Without a window there is no place: the caller writes as usual.
    TFileStream32 bare(Host("bare.bin"), fmCreate);
    EXPECT_EQ(bare.PlaceForWrite(10), nullptr);
    TMemoryStream32 memory;
    EXPECT_EQ(memory.PlaceForWrite(10), nullptr);
}

TEST_F(StreamsTest, MemoryStreamGrowthAndRangeChecks)
{
    TMemoryStream32 m;
    m.WriteBuffer("a", 1);
    EXPECT_EQ(m.Capacity(), TMemoryStream32::kGrowStep);
    const std::string data = Pattern(20000);
    m.WriteBuffer(data.data(), std::int32_t(data.size()));
    EXPECT_EQ(m.Size(), 20001);
    EXPECT_EQ(m.Capacity() % TMemoryStream32::kGrowStep, 0);
    EXPECT_GE(m.Capacity(), 20001);

    // A seek past the end leaves a zero gap when written.
    m.Seek64(20011, soBeginning);
    m.WriteBuffer("z", 1);
    EXPECT_EQ(m.Size(), 20012);
    EXPECT_EQ(static_cast<char*>(m.Memory())[20005], '\0');

    // 64-bit offsets never wrap into a 32-bit position.
    EXPECT_THROW(m.Seek64(std::int64_t(1) << 32, soBeginning), ERangeError);
    EXPECT_THROW(m.Seek64(std::numeric_limits<std::int32_t>::max(), soEnd), ERangeError);
    EXPECT_THROW(m.SetSize64(std::int64_t(1) << 32), ERangeError);
    EXPECT_EQ(m.Position(), 20012);

    // Negative positions and counts do nothing.
    EXPECT_EQ(m.Seek64(-5, soBeginning), -5);
    char c;
    EXPECT_EQ(m.Read(&c, 1), 0);
    EXPECT_EQ(m.Write(&c, 1), 0);
    m.SetPosition(0);
    EXPECT_EQ(m.Read(&c, -1), 0);

    // Shrinking pulls the position back to the end.
    m.SetPosition(15000);
    m.SetSize64(100);
    EXPECT_EQ(m.Position(), 100);
    EXPECT_EQ(m.Read(&c, 1), 0);

    // Loading takes the whole source from its start.
    WriteHostFile(Host("load.bin"), data);
    TMemoryStream32 loaded;
    loaded.LoadFromFile(Host("load.bin"));
    ASSERT_EQ(loaded.Size(), std::int64_t(data.size()));
    EXPECT_EQ(std::memcmp(loaded.Memory(), data.data(), data.size()), 0);
    loaded.LoadFromFile(Host("missing.bin"));
    EXPECT_EQ(loaded.Size(), std::int64_t(data.size())) << "a missing file leaves the content alone";
}

TEST_F(StreamsTest, MainCommentLoadChangeAndRemove)
{
    const std::string archive = Host("a.zip");
    const std::string body = "PK-body-of-archive";
    WriteHostFile(archive, body + "old comment");

    TMainCommentStream comment;
    {
        TFileStream32 in(archive, fmOpenRead | fmShareDenyWrite);
        in.SetPosition(std::int64_t(body.size()));
        comment.LoadComment(archive, &in, 11);
    }
    EXPECT_FALSE(comment.Modified);
    EXPECT_EQ(comment.CommentOffset, std::int64_t(body.size()));
    char text[64] = {};
    std::uint16_t length = 99;
    comment.GetComment(text, length);
    EXPECT_EQ(std::string(text, length), "old comment");

    // Read ignores its count and always answers the whole comment.
    char whole[64] = {};
    EXPECT_EQ(comment.Read(whole, 3), 11);

    EXPECT_FALSE(comment.CommentChanged("old comment", 11));
    EXPECT_TRUE(comment.CommentChanged("old commenT", 11));
    EXPECT_FALSE(comment.SetComment("old comment", 11)) << "an unchanged text is no change";
    EXPECT_FALSE(comment.SetComment(nullptr, 0));
    EXPECT_TRUE(comment.SetComment("new", 3));
    EXPECT_TRUE(comment.Modified);
    comment.GetComment(text, length);
    EXPECT_EQ(std::string(text, length), "new");
    EXPECT_EQ(ReadHostFile(archive), body + "old comment") << "a new text stays in memory";

    // Removing cuts the archive at the comment's offset.
    EXPECT_TRUE(comment.SetComment("", 0));
    EXPECT_EQ(ReadHostFile(archive), body);
    comment.GetComment(text, length);
    EXPECT_EQ(length, 0);

    // Without a recorded offset nothing in the archive is cut.
    WriteHostFile(archive, body);
    TMainCommentStream fresh;
    fresh.ArchiveFile = archive;
    fresh.Write("typed", 5);
    EXPECT_TRUE(fresh.SetComment("", 0));
    EXPECT_EQ(ReadHostFile(archive), body);
}

TEST_F(StreamsTest, HeaderTextsStopAtNulAndAtTheEnd)
{
    TMemoryStream32 m;
    const std::string data = std::string("first\0second\0", 13) + std::string(300, 'L') + std::string("\0tail", 5);
    m.WriteBuffer(data.data(), std::int32_t(data.size()));

    std::int64_t pos = 0;
    std::string text;
    ReadStringAt(m, pos, text);
    EXPECT_EQ(text, "first");
    EXPECT_EQ(pos, 6);
    ReadStringAt(m, pos, text);
    EXPECT_EQ(text, "second");
    EXPECT_EQ(pos, 13);
    // A text longer than one read is cut at 256 bytes, and the walk still moves on.
    ReadStringAt(m, pos, text);
    EXPECT_EQ(text, std::string(256, 'L'));
    EXPECT_EQ(pos, 13 + 257);
    pos = std::int64_t(data.size()) - 4;
    ReadStringAt(m, pos, text);
    EXPECT_EQ(text, "tail");
    ReadStringAt(m, pos, text);  // past the end
    EXPECT_EQ(text, "");
    EXPECT_EQ(pos, std::int64_t(data.size()) + 2);

    // Fixed texts: at most 511 bytes, a NUL ends the text, a short stream gives what it holds.
    TMemoryStream32 big;
    const std::string longName = std::string(600, 'n');
    big.WriteBuffer(longName.data(), 600);
    big.SetPosition(0);
    ReadFixedString(big, 600, text);
    EXPECT_EQ(text.size(), 511u);
    EXPECT_EQ(big.Position(), 511);
    ReadFixedString(big, 200, text);
    EXPECT_EQ(text.size(), 89u);
    m.SetPosition(0);
    ReadFixedString(m, 10, text);
    EXPECT_EQ(text, "first");
    ReadFixedString(m, -5, text);
    EXPECT_EQ(text, "");

    // Counted texts move the position by the count, whatever they hold.
    pos = 6;
    ReadStringAtPos(m, pos, 3, text);
    EXPECT_EQ(text, "sec");
    EXPECT_EQ(pos, 9);
    pos = 0;
    ReadStringAtPos(m, pos, 13, text);
    EXPECT_EQ(text, "first");
    EXPECT_EQ(pos, 13);
    pos = std::int64_t(data.size()) - 2;
    ReadStringAtPos(m, pos, 65535, text);
    EXPECT_EQ(text, "il");
    EXPECT_EQ(pos, std::int64_t(data.size()) - 2 + 65535);
}

}  // namespace
