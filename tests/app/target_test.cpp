#include "app/lib/TargetMenu.h"

#include <gtest/gtest.h>

#include <map>

namespace {

TDriveTypeOf Drives(std::map<char, UINT> table)
{
    return [table](char letter) {
        auto it = table.find(letter);
        return it == table.end() ? DRIVE_NO_ROOT_DIR : it->second;
    };
}

const TDriveTypeOf MixedDrives = Drives({{'A', DRIVE_REMOVABLE},
                                         {'C', DRIVE_FIXED},
                                         {'E', DRIVE_REMOVABLE},
                                         {'F', DRIVE_CDROM},
                                         {'N', DRIVE_REMOTE},
                                         {'R', DRIVE_RAMDISK}});

TEST(TargetMenu, LinesForEveryKindOfTargetInGroupOrder)
{
    TRequestState request;
    request.Definition.NoteProgram = "Účetnictví";
    request.Definition.PathObnova = "n:\\Obnova\\";
    request.FtpEntry = true;
    request.Network = ParseNetworkTargets("{1(Server)\\\\srv\\data1}{3(NAS)\\\\nas\\z3}[ftp.firma.cz]");
    TTargetState target;
    const TTargetMenu menu = BuildTargetMenuText('C', request, target, MixedDrives);

    EXPECT_EQ("~disketová mechanika"
              "| Výměnný disk (A):‡A<A>…0†"
              "| Výměnný disk (E):‡E<E>…8†"
              "~mechanika CD"
              "| Disk CD (F): ‡F<F>…1†"
              "~místní disk"
              "| Místní disk (C): ...Účetnictví‡C<C>…2†"
              "~vzdálená jednotka"
              "| Síťový disk (N):‡N<N>…3†"
              "~Cesta automatické archivace:"
              "| n:\\Obnova\\‡+<+>…3†"
              "~síťový disk s IP adresou"
              "| Síťový disk (Server) \\\\srv\\data‡91<91>…3†"
              "| Síťový disk (NAS) \\\\nas\\z‡93<93>…3†"
              "~FTP server"
              "| FTP:   Vimo software‡0<0>…10†"
              "| FTP:   ftp.firma.cz‡1<1>…10†",
              menu.Text);
    EXPECT_EQ(std::vector<std::string>({"A", "E", "F", "C", "N", "+", "91", "93", "0", "1"}), menu.ReturnValues);
    // The data folder's drive is remembered and pre-selected (the RAM disk gets no line).
    EXPECT_EQ("C", target.RememberedLetter);
    EXPECT_EQ(3, menu.PreselectIndex);
    EXPECT_EQ(std::string("\x01\x02\x05\x0D\x0E\x0C") + "3", menu.Options);
    EXPECT_EQ("Vimo software", target.Ftp[0].Name);
    EXPECT_EQ("ftp.firma.cz", target.Ftp[1].Name);

    // A remembered choice wins over the default letter; a drive-less table gives only groups that exist.
    target.RememberedLetter = "93";
    EXPECT_EQ(7, BuildTargetMenuText('C', request, target, MixedDrives).PreselectIndex);
    TRequestState bare;
    TTargetState fresh;
    const TTargetMenu none = BuildTargetMenuText('Q', bare, fresh, Drives({}));
    EXPECT_TRUE(none.Text.empty());
    EXPECT_EQ(-1, none.PreselectIndex);
    EXPECT_EQ(" ", fresh.RememberedLetter);
}

class TargetPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        TDefinitionValues& d = request.Definition;
        d.PathArchivDrv = "A:\\ZALOHY\\";
        d.PathArchivOtherDrv = "A:\\JINE\\";
        d.PathArchiv = "C:\\ZALOHY\\";
        d.PathArchivAce = "C:\\Data\\archivace.dta";
        d.PathArchivByHand = "D:\\Rucne\\";
        d.PathObnova = "N:\\Obnova\\";
        request.DataFolder = "C:\\Data\\";
    }
    std::string Path(const std::string& letter, int setNumber = 0, const TMenuFile* file = nullptr)
    {
        BuildTargetPath(setNumber, letter, request, target, MixedDrives, file);
        return target.TargetFolder;
    }
    TRequestState request;
    TTargetState target;
};

TEST_F(TargetPath, FolderByDriveType)
{
    EXPECT_EQ("E:\\ZALOHY\\", Path("E"));  // removable: the drive folder on that drive
    EXPECT_EQ(UINT(DRIVE_REMOVABLE), target.DriveType);
    EXPECT_EQ("F:\\ZALOHY\\", Path("F"));  // CD-ROM alike
    EXPECT_EQ("C:\\ZALOHY\\", Path("C"));  // fixed drive of the data: the default path
    EXPECT_EQ("N:\\ZALOHY\\", Path("N"));  // another fixed or remote drive: the drive folder
    EXPECT_FALSE(request.FtpTarget);
    EXPECT_EQ("C:\\ZALOHY\\", Path("1"));  // an FTP entry keeps the default path
    EXPECT_TRUE(request.FtpTarget);
    EXPECT_EQ("", Path("Q"));  // no drive: no folder

    request.Definition.PathArchivOther = "N:\\Jinde\\";
    EXPECT_EQ("N:\\Jinde\\", Path("0"));
    EXPECT_EQ("N:\\Jinde\\", Path("N"));
    EXPECT_EQ("C:\\JINE\\", Path("C"));
    EXPECT_EQ("E:\\JINE\\", Path("E"));

    request.Mode = 14;
    EXPECT_EQ("E:\\Rucne\\", Path("E"));  // by hand, put on the chosen drive
    request.Mode = 0;
    target.RestorePath = true;
    EXPECT_EQ("N:\\Obnova\\", Path("N"));
}

TEST_F(TargetPath, NetworkTargetsAndBackupSets)
{
    request.Network = ParseNetworkTargets("{2(NAS)\\\\nas\\zal2}");
    EXPECT_EQ("*\\\\NAS\\\\\\nas\\zal\\ZALOHY\\", Path("92"));
    EXPECT_EQ("(NAS) \\\\nas\\zal", target.NetworkPath);
    EXPECT_FALSE(request.FtpTarget);

    const TMenuFile menu(
        {"[Seznam]", "{5}Ucto‡ucto rok", "{6}Mzdy‡mzdy", "[Ucto]", "{1}zbozi.dat‡x", "{2}Adresy.dat‡y", "[Mzdy]"});
    EXPECT_TRUE(BuildTargetPath(5, "E", request, target, MixedDrives, &menu));
    EXPECT_EQ("ucto rok", request.ArchiveBaseName);
    EXPECT_EQ(std::vector<std::string>({"C:\\Data\\Adresy.dat", "C:\\Data\\archivace.dta", "C:\\Data\\zbozi.dat"}),
              target.FileList);
    EXPECT_TRUE(BuildTargetPath(5, "0", request, target, MixedDrives, &menu));
    EXPECT_EQ("ftp_ucto_rok", request.ArchiveBaseName);
    target.FileList = {"kept"};
    EXPECT_FALSE(BuildTargetPath(7, "E", request, target, MixedDrives, &menu));
    EXPECT_EQ(std::vector<std::string>({"kept"}), target.FileList);
}

TEST(FtpEntries, EveryTransferFindsItsEntry)
{
    // Uploads: the menu's 0-2, the automatic 15-17 and the manual 19 each have an entry of their own.
    const std::map<std::string, int> uploads{{"100", 0}, {"101", 1}, {"102", 2}, {"105", 5},
                                             {"106", 6}, {"107", 7}, {"19", 9}};
    for (const auto& [code, entry] : uploads) {
        EXPECT_EQ(entry, UploadEntry(code)) << code;
        EXPECT_EQ(entry + 10, UploadTransferCode(*UploadEntry(code)));
    }
    EXPECT_FALSE(UploadEntry("x"));
    EXPECT_FALSE(UploadEntry("55"));

    auto server = SquareBracketServer("{1(S)\\\\srv\\a1} [ftp.firma.cz] user:heslo");
    ASSERT_TRUE(server);
    EXPECT_EQ("ftp.firma.cz", server->Name);
    EXPECT_EQ("user:heslo", server->Details);
    EXPECT_FALSE(SquareBracketServer("{1(S)x1}"));

    TFtpEntries ftp;
    ftp[0].Name = "Vimo software";
    EXPECT_EQ("0", FtpLetterOfText("0", ftp));
    EXPECT_EQ("0", FtpLetterOfText(" vimo SOFTWARE ", ftp));
    EXPECT_FALSE(FtpLetterOfText("1", ftp));  // entry 1 is empty
    EXPECT_FALSE(FtpLetterOfText("C:\\Zalohy\\", ftp));
    EXPECT_EQ("FTP server: Vimo software: ... ", TargetStatusText("0", ftp));
    EXPECT_EQ("disk E:  ... ", TargetStatusText("E", ftp));
    EXPECT_EQ(2, NetworkTargetNumber("92"));
    EXPECT_FALSE(NetworkTargetNumber("9"));
}

}  // namespace
