#include "FsTestSupport.h"

#include "platform/win/Errors.h"
#include "platform/win/SysFiles.h"

#include <chrono>
#include <thread>

using win::DriveEntry;

namespace {

class DrivesTest : public FsTest {
protected:
    void WriteTable(const std::string& text) { WriteHostFile(win::DriveTableFile(), text); }
};

TEST_F(DrivesTest, TableFileAddsDrivesToTheDefaults)
{
    EXPECT_EQ(root + "/config/torvo/drives", win::DriveTableFile());
    std::filesystem::create_directories(root + "/floppy dir");
    WriteTable("# test drives\n"
               "E:  removable capacity=1457664 label=\"PKBACK# 001\"  " +
               root +
               "/floppy dir\n"
               "r:\tramdisk\t" +
               root +
               "/ram\n"
               "\\\\nas\\backup remote " +
               root +
               "/nas\n"
               "F: floppy /nowhere\n"          // unknown type
               "G: fixed relative/folder\n"    // not absolute
               "H: fixed capacity=12x /x\n");  // bad number
    win::LoadDriveTable();

    EXPECT_EQ(home, win::FindDrive('C')->root);
    EXPECT_EQ("/", win::FindDrive('z')->root);
    const auto e = win::FindDrive('E');
    ASSERT_TRUE(e);
    EXPECT_EQ(root + "/floppy dir", e->root);
    EXPECT_EQ(1457664u, e->capacity);
    EXPECT_EQ("PKBACK# 001", e->label);
    EXPECT_FALSE(win::FindDrive('F') || win::FindDrive('G') || win::FindDrive('H'));

    EXPECT_EQ(DRIVE_REMOVABLE, GetDriveTypeA("E:/"));
    EXPECT_EQ(DRIVE_REMOVABLE, GetDriveTypeA("e:\\"));
    EXPECT_EQ(DRIVE_RAMDISK, GetDriveTypeA("R:"));
    EXPECT_EQ(DRIVE_FIXED, GetDriveTypeA("C:\\"));
    EXPECT_EQ(DRIVE_REMOTE, GetDriveTypeA("\\\\NAS\\backup\\"));
    EXPECT_EQ(DRIVE_NO_ROOT_DIR, GetDriveTypeA("Q:\\"));
    EXPECT_EQ(DRIVE_NO_ROOT_DIR, GetDriveTypeA("C:\\Docs\\"));  // only roots answer
    EXPECT_EQ(DRIVE_NO_ROOT_DIR, GetDriveTypeA("\\\\other\\share"));
    const DWORD mask = GetLogicalDrives();
    for (char letter : {'C', 'E', 'R', 'Z'})
        EXPECT_TRUE(mask & (1u << (letter - 'A'))) << letter;
    EXPECT_FALSE(mask & (1u << ('Q' - 'A')));

    // What the table writes, it reads back the same.
    const auto again = win::ParseDriveTable(win::FormatDriveTable(win::ParseDriveTable(win::FormatDriveTable({*e}))));
    ASSERT_EQ(1u, again.size());
    EXPECT_EQ(e->root, again[0].root);
    EXPECT_EQ(e->label, again[0].label);
    EXPECT_EQ(e->capacity, again[0].capacity);
}

TEST_F(DrivesTest, RemovableOpticalAndNetworkMountsBecomeDrives)
{
    const auto drives = win::DrivesFromMounts("/dev/vda / ext4 rw 0 0\n"
                                              "tmpfs /tmp tmpfs rw 0 0\n"
                                              "/dev/sdb1 /media/ann/USB\\040STICK vfat rw 0 0\n"
                                              "srv:/export /mnt/data nfs4 rw 0 0\n"
                                              "//srv/share /mnt/smb cifs rw 0 0\n"
                                              "/dev/sr0 /mnt/cd iso9660 ro 0 0\n"
                                              "/dev/sdc1 /run/media/ann/CARD exfat rw 0 0\n"
                                              "garbage\n");
    ASSERT_EQ(5u, drives.size());
    EXPECT_EQ("/media/ann/USB STICK", drives[0].root);
    EXPECT_EQ(DRIVE_REMOVABLE, drives[0].type);
    EXPECT_EQ(DRIVE_REMOTE, drives[1].type);
    EXPECT_EQ(DRIVE_REMOTE, drives[2].type);
    EXPECT_EQ(DRIVE_CDROM, drives[3].type);
    EXPECT_EQ(DRIVE_REMOVABLE, drives[4].type);
}

TEST_F(DrivesTest, VolumeLabelsPersistInTheTableFile)
{
    std::filesystem::create_directories(root + "/usb");
    WriteTable("E: removable label=\"PKBACK# 001\" " + root +
               "/usb\n"
               "M: removable " +
               root + "/not-inserted\n");
    win::LoadDriveTable();

    char label[64], fsName[16];
    DWORD serial = 0, maxLength = 0, flags = 0;
    ASSERT_TRUE(GetVolumeInformationA("E:\\", label, sizeof label, &serial, &maxLength, &flags, fsName, sizeof fsName));
    EXPECT_STREQ("PKBACK# 001", label);
    EXPECT_STREQ("FAT32", fsName);
    EXPECT_EQ(255u, maxLength);
    EXPECT_NE(0u, serial);

    ASSERT_TRUE(SetVolumeLabelA("E:\\", "PKBACK# 002"));
    win::LoadDriveTable();
    DWORD serialAgain = 0;
    ASSERT_TRUE(GetVolumeInformationA("E:\\", label, sizeof label, &serialAgain, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ("PKBACK# 002", label);
    EXPECT_EQ(serial, serialAgain);
    EXPECT_TRUE(win::FindDrive('M'));  // the other lines survive the rewrite

    EXPECT_FALSE(SetVolumeLabelA("C:\\", "HOME"));  // not from the table file
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_FALSE(SetVolumeLabelA("E:\\", "a\"b"));
    EXPECT_EQ(ERROR_INVALID_NAME, GetLastError());

    // A removable drive whose folder is missing has no medium.
    EXPECT_FALSE(GetVolumeInformationA("M:\\", label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(ERROR_NOT_READY, GetLastError());
    ULARGE_INTEGER free;
    EXPECT_FALSE(GetDiskFreeSpaceExA("M:\\", &free, nullptr, nullptr));
    EXPECT_EQ(ERROR_NOT_READY, GetLastError());
    EXPECT_FALSE(GetVolumeInformationA("Q:\\", label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
}

TEST_F(DrivesTest, TheMediumInTheDriveIsReadAfreshAndMountedMediaCarryTheirLabel)
{
    namespace fs = std::filesystem;
    fs::create_directories(root + "/floppy");
    WriteTable("A: removable capacity=1457664 label=\"PKBACK# 001\" " + root + "/floppy\n");
    win::LoadDriveTable();
    char label[64];
    DWORD first = 0, next = 0;
    ASSERT_TRUE(GetVolumeInformationA("A:\\", label, sizeof label, &first, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ("PKBACK# 001", label);

    // Another process swaps the disk by rewriting the table file: the next question sees it,
    // with no reload asked for.
    WriteTable("A: removable capacity=1457664 " + root + "/floppy\n");
    ASSERT_TRUE(GetVolumeInformationA("A:\\", label, sizeof label, &next, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ("", label);
    // A disk put in as another folder is another disk, whatever its label.
    fs::rename(root + "/floppy", root + "/disk1");
    fs::create_directories(root + "/floppy");
    ASSERT_TRUE(GetVolumeInformationA("A:\\", label, sizeof label, &next, nullptr, nullptr, nullptr, 0));
    EXPECT_NE(first, next);

    // A medium that the system mounted (not in the table file) is labelled on itself, so the
    // label goes with it.
    fs::create_directories(root + "/media/stick");
    win::SetDriveTable({DriveEntry{'C', {}, {}, DRIVE_FIXED, root, 0, {}, false},
                        DriveEntry{'D', {}, {}, DRIVE_REMOVABLE, root + "/media/stick", 0, {}, false}});
    ASSERT_TRUE(SetVolumeLabelA("D:\\", "PKBACK# 002"));
    ASSERT_TRUE(GetVolumeInformationA("D:\\", label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ("PKBACK# 002", label);
    fs::rename(root + "/media/stick", root + "/media/other");
    fs::create_directories(root + "/media/stick");
    ASSERT_TRUE(GetVolumeInformationA("D:\\", label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ("", label);
    EXPECT_FALSE(SetVolumeLabelA("C:\\", "HOME"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
}

TEST_F(DrivesTest, CapacityLimitedDriveFillsUpLikeAFloppy)
{
    const std::string media = root + "/floppy";
    WriteHostFile(media + "/old.z01", std::string(4000, 'o'));
    win::SetDriveTable({
        DriveEntry{'C', {}, {}, DRIVE_FIXED, home, 0, {}, false},
        DriveEntry{'A', {}, {}, DRIVE_REMOVABLE, media, 10000, "DISK", false},
    });
    ULARGE_INTEGER available, total, totalFree;
    ASSERT_TRUE(GetDiskFreeSpaceExA("A:\\", &available, &total, &totalFree));
    EXPECT_EQ(10000u, total.QuadPart);
    EXPECT_EQ(6000u, available.QuadPart);
    EXPECT_EQ(6000u, totalFree.QuadPart);

    HANDLE file = CreateFileA("A:\\set.zip", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    const std::string block(5000, 'x');
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, block.data(), 5000, &written, nullptr));
    EXPECT_EQ(5000u, written);
    EXPECT_FALSE(WriteFile(file, block.data(), 1001, &written, nullptr));
    EXPECT_EQ(ERROR_DISK_FULL, GetLastError());
    EXPECT_EQ(0u, written);
    // Overwriting takes no new room; the last free byte can still be used.
    LARGE_INTEGER start{};
    ASSERT_TRUE(SetFilePointerEx(file, start, nullptr, FILE_BEGIN));
    EXPECT_TRUE(WriteFile(file, block.data(), 3000, &written, nullptr));
    LARGE_INTEGER end{};
    ASSERT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_END));
    EXPECT_TRUE(WriteFile(file, block.data(), 1000, &written, nullptr));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(6000u, std::filesystem::file_size(media + "/set.zip"));
    EXPECT_EQ(0, win::DiskFree(1));
    EXPECT_EQ(10000, win::DiskSize(1));
    EXPECT_EQ(-1, win::DiskFree(17));

    // Copies and moves onto the full medium fail without leaving anything behind.
    WriteHostFile(home + "/next.bin", "more");
    EXPECT_FALSE(CopyFileA("C:\\next.bin", "A:\\next.bin", FALSE));
    EXPECT_EQ(ERROR_DISK_FULL, GetLastError());
    EXPECT_FALSE(MoveFileA("C:\\next.bin", "A:\\next.bin"));
    EXPECT_EQ(ERROR_DISK_FULL, GetLastError());
    EXPECT_EQ("more", ReadHostFile(home + "/next.bin"));
    EXPECT_EQ((std::set<std::string>{"old.z01", "set.zip"}), NamesIn(media));

    // Freeing room makes the move possible again.
    ASSERT_TRUE(DeleteFileA("A:\\old.z01"));
    EXPECT_TRUE(MoveFileA("C:\\next.bin", "A:\\next.bin"));
    EXPECT_EQ("more", ReadHostFile(media + "/next.bin"));
}

// Many small files fill the drive exactly, without a walk of the drive per write; a disk swapped
// in by another hand is seen at the next write.
TEST_F(DrivesTest, FillingALimitedDriveCountsOwnWritesAndSeesSwaps)
{
    const std::string media = root + "/floppy";
    std::filesystem::create_directories(media);
    win::SetDriveTable({
        DriveEntry{'C', {}, {}, DRIVE_FIXED, home, 0, {}, false},
        DriveEntry{'A', {}, {}, DRIVE_REMOVABLE, media, 30000, "DISK", false},
    });
    DWORD error = 0;
    const auto write = [&error](const std::string& name, std::size_t bytes) {
        HANDLE file = CreateFileA(("A:\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        const std::string block(bytes / 2 + 1, 'x');
        DWORD written = 0;
        bool ok = true;
        for (std::size_t done = 0; ok && done < bytes; done += written)
            ok = WriteFile(file, block.data(), static_cast<DWORD>(std::min(block.size(), bytes - done)), &written,
                           nullptr);
        error = GetLastError();
        CloseHandle(file);
        return ok;
    };
    const auto bytesOn = [&] {
        std::uint64_t sum = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(media))
            sum += entry.is_regular_file() ? entry.file_size() : 0;
        return sum;
    };

    const unsigned long walksBefore = win::DriveWalkCount();
    int made = 0;
    while (write("f" + std::to_string(made) + ".bin", 75))
        ++made;
    EXPECT_EQ(400, made);
    EXPECT_EQ(30000u, bytesOn());
    EXPECT_LT(win::DriveWalkCount() - walksBefore, 40u);

    // Another program swaps the disk: the room it leaves is used to the last byte, no more.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    for (const auto& entry : std::filesystem::directory_iterator(media))
        std::filesystem::remove(entry.path());
    WriteHostFile(media + "/other.z02", std::string(29000, 'o'));
    EXPECT_TRUE(write("last.bin", 1000));
    EXPECT_FALSE(write("over.bin", 1));
    EXPECT_EQ(ERROR_DISK_FULL, error);
    EXPECT_EQ(30000u, bytesOn());

    // Room taken by another program while we hold a file open is not granted again.
    std::filesystem::remove(media + "/last.bin");
    ULARGE_INTEGER available;
    ASSERT_TRUE(GetDiskFreeSpaceExA("A:\\", &available, nullptr, nullptr));
    EXPECT_EQ(1000u, available.QuadPart);
    HANDLE file = CreateFileA("A:\\grow.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    WriteHostFile(media + "/other.z03", std::string(900, 'o'));
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(file, std::string(200, 'g').data(), 200, &written, nullptr));
    EXPECT_EQ(ERROR_DISK_FULL, GetLastError());
    EXPECT_TRUE(WriteFile(file, std::string(100, 'g').data(), 100, &written, nullptr));
    CloseHandle(file);
    EXPECT_EQ(30000u, bytesOn());
}

}  // namespace
