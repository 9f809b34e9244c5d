// Names of backup archives and the payslip options and groups.
#include "app/lib/BackupNames.h"
#include "app/lib/Payslips.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

TEST(BackupNames, TargetFolderKeepsOnlyMarkedNetworkPrefixes)
{
    EXPECT_EQ("\\\\server\\share\\x\\", NormaliseTargetFolder("*\\\\server\\share\\x\\"));
    EXPECT_EQ("\\server\\share\\x\\", NormaliseTargetFolder("\\\\server\\\\share\\x\\"));
    EXPECT_EQ("C:\\ZALOHY\\", NormaliseTargetFolder("C:\\\\\\ZALOHY\\\\"));
}

TEST(BackupNames, SequenceFollowsTheLastNumberedNameAndNeverReusesOne)
{
    // The last name in name order decides, not the largest number.
    EXPECT_EQ(8, SequenceAfter({"Ucto (007).ZIP", "Ucto (001).ZIP"}));
    EXPECT_EQ(3, SequenceAfter({"Ucto (010).ZIP", "Ucto (2).ZIP"}));
    EXPECT_EQ(1, SequenceAfter({"Ucto_2024-01-02(10-30).ZIP", "Ucto (0).ZIP", "Ucto.ZIP"}));
    EXPECT_EQ(1000, SequenceAfter({"Ucto (999).ZIP"}));
    EXPECT_EQ("001", SequenceText(1));
    EXPECT_EQ("1000", SequenceText(1000));

    TScratchDir dir;
    const std::string folder = ZDrivePath(dir.Path()) + "\\";
    EXPECT_EQ("Ucto (001)", NextSequenceName(folder, "Ucto", ".ZIP"));
    // "(010)" sorts before "(2)", so the rule says 3, which exists: the next free number is taken.
    for (const char* name : {"Ucto (010).ZIP", "Ucto (2).ZIP", "Ucto (003).ZIP", "Ucto (004).ZIP"})
        WriteText(dir / name, "x");
    EXPECT_EQ("Ucto (005)", NextSequenceName(folder, "Ucto", ".ZIP"));
    // Beyond 999 the number keeps its digits and still skips what exists.
    WriteText(dir / "Ucto (999).ZIP", "x");
    WriteText(dir / "Ucto (1000).ZIP", "x");
    EXPECT_EQ("Ucto (1001)", NextSequenceName(folder, "Ucto", ".ZIP"));

    // The restore list puts the newest last, also past 999 and whatever the zeros or the case.
    std::vector<std::string> names{"ucto (1000).ZIP",
                                   "Ucto (999).ZIP",
                                   "Ucto (0002).zip",
                                   "Ucto (001).ZIP",
                                   "Ucto_2024-11-02(09-05).ZIP",
                                   "Ucto_2024-02-11(10-30).ZIP"};
    std::sort(names.begin(), names.end(), ArchiveNameBefore);
    EXPECT_EQ((std::vector<std::string>{"Ucto (001).ZIP", "Ucto (0002).zip", "Ucto (999).ZIP", "ucto (1000).ZIP",
                                        "Ucto_2024-02-11(10-30).ZIP", "Ucto_2024-11-02(09-05).ZIP"}),
              names);
    EXPECT_FALSE(ArchiveNameBefore("Ucto (002).ZIP", "Ucto (002).ZIP"));
}

TEST(BackupNames, WriteTestLeavesTheUsersFilesAlone)
{
    TScratchDir dir;
    const std::string folder = ZDrivePath(dir.Path()) + "\\";
    WriteText(dir / "test.txt", "mine");
    EXPECT_TRUE(FolderIsWriteable(folder));
    EXPECT_EQ(std::vector<fs::path>{dir / "test.txt"},
              std::vector<fs::path>(fs::directory_iterator(dir.Path()), fs::directory_iterator()));
    EXPECT_EQ("mine", ReadText(dir / "test.txt"));
    EXPECT_FALSE(FolderIsWriteable(folder + "missing\\"));

    WriteText(dir / "a.ZIP", "x");
    WriteText(dir / "a.new1.ZIP", "x");
    EXPECT_EQ(folder + "a.new2.ZIP", FreshNameBeside(folder + "a.ZIP"));
}

TEST(Payslips, OptionsAndTheirForms)
{
    const TPayslipOptions o = ParsePayslipOptions(
        "/NameSeznam=seznam?1.txt /pathpdf=C:\\Mzdy\\PDF?soubory /pathpdfzip=C:\\Mzdy\\ /filepdfzip=Pasky?leden");
    EXPECT_EQ("seznam?1.txt", o.ListName);
    EXPECT_EQ("C:\\Mzdy\\PDF soubory\\", o.PdfFolder);
    EXPECT_EQ("C:\\Mzdy\\", o.ZipFolder);
    EXPECT_EQ("Pasky leden", o.ZipBaseName);
    // A token holding the key in its middle is the value whole; missing options stay empty.
    const TPayslipOptions whole = ParsePayslipOptions("x/pathpdf=D:\\a");
    EXPECT_EQ("x/pathpdf=D:\\a\\", whole.PdfFolder);
    EXPECT_EQ("", whole.ZipFolder);
    EXPECT_EQ("", whole.ListName);

    EXPECT_EQ("C:\\PDF\\a.pdf", PayslipFilePath("a.pdf", "C:\\PDF\\"));
    EXPECT_EQ("D:\\jinde\\a.pdf", PayslipFilePath("D:\\jinde\\a.pdf", "C:\\PDF\\"));
}

TEST(Payslips, GroupsOfFifty)
{
    auto files = [](int n) {
        std::vector<std::string> list;
        for (int i = 1; i <= n; ++i)
            list.push_back(std::to_string(i) + ".pdf");
        return list;
    };
    auto ranges = [](const std::vector<TPayslipGroup>& groups) {
        std::vector<std::string> r;
        for (const auto& g : groups)
            r.push_back(g.Range + ":" + std::to_string(g.Files.size()) + ":" + g.Files.front());
        return r;
    };
    EXPECT_TRUE(GroupPayslips(files(0)).empty());
    EXPECT_EQ(std::vector<std::string>({":50:1.pdf"}), ranges(GroupPayslips(files(50))));
    EXPECT_EQ(std::vector<std::string>({"1-50:50:1.pdf", "51-51:1:51.pdf"}), ranges(GroupPayslips(files(51))));
    EXPECT_EQ(std::vector<std::string>({"1-50:50:1.pdf", "51-100:50:51.pdf"}), ranges(GroupPayslips(files(100))));
    EXPECT_EQ(std::vector<std::string>({"1-50:50:1.pdf", "51-100:50:51.pdf", "101-120:20:101.pdf"}),
              ranges(GroupPayslips(files(120))));

    const win::TDateTime when = win::EncodeDate(2024, 3, 5) + win::EncodeTime(9, 7, 0, 0);
    EXPECT_EQ("VyplatniPasky_2024-03-05(09-07)", PayslipBaseName(when));
    EXPECT_EQ("Ucto_2024-03-05(09-07)", DatedArchiveName("Ucto", when));
}
