#include "core/ZipCommon.h"
#include "core/plxHooks.h"
#include "tests/platform/win/FsTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kEndRecord = std::string("PK\x05\x06", 4) + std::string(18, '\0');

// Detection reduced to what a spanned set needs: the end record at the file's end.
class SpanZip : public TZipCommon {
public:
    TArcType GetArcType(TStream32& Stream) override
    {
        ++Detections;
        const std::int64_t size = Stream.Size();
        if (size < 22)
            return atUnknown;
        char sig[4] = {};
        Stream.Seek64(size - 22, soBeginning);
        Stream.ReadBuffer(sig, 4);
        if (std::string(sig, 4) != kEndRecord.substr(0, 4))
            return atUnknown;
        HeaderTypeState |= HeaderBit(htEnding);
        return atZipDS;
    }
    int Detections = 0;
};

struct Report {
    std::string FileName, ExtendedMsg;
    int ECode;
};

class ComponentMedia : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        floppy = root + "/floppy";
        other = root + "/other";
        std::filesystem::create_directories(floppy);
        std::filesystem::create_directories(other);
        std::filesystem::create_directories(home + "/tmp");
        SetTable("PKBACK# 001");
        for (TZipCommon* c : {static_cast<TZipCommon*>(&zip), &plain})
            c->OnError = [this](TObject*, const std::string& f, const std::string& x, const std::string&, int code) {
                reports.push_back({f, x, code});
            };
    }
    void TearDown() override
    {
        ProcessMessagesHook = nullptr;
        FsTest::TearDown();
    }

    void SetTable(const std::string& label)
    {
        win::SetDriveTable({Drive('C', DRIVE_FIXED, home), Drive('A', DRIVE_REMOVABLE, floppy, 1'457'664, label),
                            Drive('D', DRIVE_FIXED, other), Drive('G', DRIVE_REMOVABLE, root + "/none")});
    }

    std::vector<int> Codes() const
    {
        std::vector<int> codes;
        for (const auto& r : reports)
            codes.push_back(r.ECode);
        return codes;
    }

    std::string floppy, other;
    SpanZip zip;
    TZipCommon plain;
    std::vector<Report> reports;
};

TEST_F(ComponentMedia, SpannedSetIsReadThroughTheComponentsEventsAndStream)
{
    WriteHostFile(floppy + "/set.zip", std::string("PK\x03\x04", 4) + std::string(40, 'd'));
    zip.SetArchiveFile("A:\\set.zip");  // a middle disk: no end record
    EXPECT_EQ(zip.ArcType(), atUnknown);

    TSpanDiskReader span;
    zip.InitDiskSpann(span);
    EXPECT_FALSE(span.OpenDisk(0));
    EXPECT_EQ(Codes(), std::vector<int>{E_REQUIREDEVENT});
    EXPECT_EQ(reports[0].ExtendedMsg, "OnGetZipLastDisk");
    EXPECT_TRUE(zip.GetCancel());

    // The host takes the disk out, then inserts the last one; the name is kept meanwhile.
    zip.SetCancel(false);
    reports.clear();
    int asked = 0;
    zip.OnGetZipLastDisk = [&](TObject* sender, bool& cancel) {
        EXPECT_EQ(sender, &zip);
        EXPECT_TRUE(cancel) << "preset";
        if (++asked == 1)
            std::filesystem::remove(floppy + "/set.zip");
        else
            WriteHostFile(floppy + "/set.zip", std::string(64, 'c') + kEndRecord);
        cancel = false;
    };
    zip.InitDiskSpann(span);
    span.DiskState = 0;
    ASSERT_TRUE(span.OpenDisk(0));
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(zip.ArchiveFile(), "A:\\set.zip");
    EXPECT_EQ(zip.ArcType(), atZipDS);
    ASSERT_NE(zip.ArchiveStream, nullptr);
    EXPECT_EQ(zip.ArchiveSize, 64 + 22);
    EXPECT_TRUE(reports.empty());

    // The first disk: its label carries disk number 1 but the data must show a local header.
    std::vector<std::string> disks;
    zip.OnGetZipFirstDisk = [&](TObject*, bool& cancel) {
        disks.push_back("first");
        WriteHostFile(floppy + "/set.zip", std::string("PK\x03\x04", 4) + std::string(40, 'd'));
        cancel = false;
    };
    ASSERT_TRUE(span.OpenDisk(0));
    EXPECT_EQ(zip.ArchiveSize, 44);
    EXPECT_EQ(zip.DiskManager().DiskNumber, 1);

    // The host cancels the next disk: the run is cancelled, the stream closed.
    zip.OnGetZipNextDisk = [&](TObject*, const std::string& volume, bool&) { disks.push_back(volume); };
    EXPECT_FALSE(span.OpenDisk(5000));
    EXPECT_EQ(disks, (std::vector<std::string>{"first", "2"}));
    EXPECT_TRUE(zip.GetCancel());
    EXPECT_EQ(zip.ArchiveStream, nullptr);
}

TEST_F(ComponentMedia, DriveChecksReportThroughTheComponent)
{
    EXPECT_TRUE(plain.CheckDrive("A:\\set.zip"));
    EXPECT_EQ(plain.DiskManager().VolumeLabel, "PKBACK# 001");
    EXPECT_TRUE(reports.empty());

    // An empty drive without a not-ready hook is reported once as not accessible.
    EXPECT_FALSE(plain.CheckDrive("G:\\set.zip"));
    EXPECT_EQ(Codes(), std::vector<int>{25170});

    // With the hook, the user's abort is a cancel.
    reports.clear();
    int asked = 0;
    EXPECT_FALSE(plain.CheckDrive("G:\\set.zip", [&](TObject* sender, bool& abort) {
        EXPECT_EQ(sender, &plain);
        EXPECT_TRUE(abort);
        ++asked;
    }));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Codes(), std::vector<int>{E_USERCANCEL});

    // The archive stream is opened shared for reading, or reported.
    reports.clear();
    WriteHostFile(home + "/a.zip", "12345");
    plain.SetArchiveFile("C:\\a.zip");
    ASSERT_TRUE(plain.OpenArchiveStream());
    EXPECT_EQ(plain.ArchiveSize, 5);
    std::filesystem::remove(home + "/a.zip");
    EXPECT_FALSE(plain.OpenArchiveStream());
    EXPECT_EQ(Codes(), std::vector<int>{25235});
}

TEST_F(ComponentMedia, TemporaryOutputMovesThroughTheComponent)
{
    WriteHostFile(other + "/a.zip", "old archive");
    std::vector<std::string> events;
    std::vector<int> percents;
    plain.OnTmpFileMoveBegin = [&](TObject* sender, const std::string& archive, const std::string&, bool&) {
        EXPECT_EQ(sender, &plain);
        events.push_back("begin " + archive);
    };
    plain.OnTmpFileMoveEnd = [&](TObject*) { events.push_back("end"); };
    plain.OnTmpFileProgress = [&](TObject*, std::uint8_t p, std::uint8_t) { percents.push_back(p); };
    plain.ArchiveSize = 70000;  // the end event needs more than 64 KiB

    const std::string data(300000, 'n');
    {
        TTempFileStream out(plain.TempStreamOwner(), fmCreate, "D:\\a.zip", "C:\\tmp\\");
        ASSERT_TRUE(out.HandleValid());
        out.WriteBuffer(data.data(), std::int32_t(data.size()));
    }
    EXPECT_EQ(ReadHostFile(other + "/a.zip"), data);
    EXPECT_EQ(events, (std::vector<std::string>{"begin D:\\a.zip", "end"}));
    // Across drives the copy's totals are the archive's size and progress runs to the end.
    EXPECT_EQ(plain.UnpackedTotal, 300000);
    EXPECT_EQ(plain.UnpackedSize, 300000);
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
    EXPECT_TRUE(NamesIn(home + "/tmp").empty());

    // Cancelled: the old archive stays, no move is begun.
    events.clear();
    {
        TTempFileStream out(plain.TempStreamOwner(), fmCreate, "D:\\a.zip", "C:\\tmp\\");
        out.WriteBuffer("new", 3);
        plain.SetCancel(true);
    }
    EXPECT_EQ(ReadHostFile(other + "/a.zip"), data);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(NamesIn(home + "/tmp").empty());
}

TEST_F(ComponentMedia, NextSplitVolumeOpensAsTheNamedFile)
{
    WriteHostFile(home + "/big.zip", std::string(30, 'z'));
    WriteHostFile(home + "/big.z01", std::string(10, '1'));
    plain.SetArchiveFile("C:\\big.zip");
    std::vector<int> asked;
    plain.OnNextVolume = [&](TObject*, std::string&, int n, bool, bool&) { asked.push_back(n); };
    std::unique_ptr<TStream32> stream;
    int volume = 0;
    ASSERT_TRUE(plain.DoNextVolume(stream, volume, 2));
    EXPECT_EQ(volume, 1);
    EXPECT_EQ(plain.VolumeName, "C:\\big.z01");
    EXPECT_EQ(plain.ArchiveSize, 10);
    auto* file = dynamic_cast<TTempFileStream*>(stream.get());
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(file->Temporary());
    ASSERT_TRUE(plain.DoNextVolume(stream, volume, 2));
    EXPECT_EQ(plain.VolumeName, "C:\\big.zip") << "the last volume is the archive itself";
    EXPECT_EQ(plain.ArchiveSize, 30);
    stream.reset();
    EXPECT_TRUE(std::filesystem::exists(home + "/big.z01")) << "an opened volume is never deleted";
    EXPECT_EQ(asked, (std::vector<int>{1, 2}));
    EXPECT_TRUE(reports.empty());
}

}  // namespace
