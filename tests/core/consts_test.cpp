#include <gtest/gtest.h>

#include "core/plxConsts.h"

TEST(Consts, OrdinalsStayWhereStoredFilesExpectThem)
{
    EXPECT_EQ(atUnknown, 3);
    EXPECT_EQ(atAce, 4);
    EXPECT_EQ(atMsGZ, 24);
    EXPECT_EQ(atTar, 29);
    EXPECT_EQ(atZip, 33);
    EXPECT_EQ(atZipMV, 36);
    EXPECT_EQ(atZoo, 37);
    EXPECT_EQ(cmTar, 12);
    EXPECT_EQ(cmPPMDi, 16);
    EXPECT_EQ(emZip_V2, 6);
    EXPECT_EQ(emNone, 13);
    EXPECT_EQ(emUnsupported, 14);
    EXPECT_EQ(sdRelative, 4);
    EXPECT_EQ(sdExplorer_UserDefineDefaultDir, 7);
    EXPECT_EQ(ptOtherSize, 9);
    EXPECT_EQ(swRead, 4);
    EXPECT_EQ(dtDeflateN, 2);
    EXPECT_EQ(fsReparsePoints, 9);
    EXPECT_EQ(htNone, 6);
    EXPECT_EQ(DefaultAttributes, AttrBit(fsZeroAttr) | AttrBit(fsReadOnly) | AttrBit(fsArchive) |
                                     AttrBit(fsCompressed) | AttrBit(fsEncrypted));
    EXPECT_EQ(DefaultAttributesEx, AttrBit(fsReparsePoints));

    EXPECT_TRUE(IsDeclaredOrdinal<TArcType>(37));
    EXPECT_FALSE(IsDeclaredOrdinal<TArcType>(38));
    EXPECT_FALSE(IsDeclaredOrdinal<TArcType>(-1));
    EXPECT_FALSE(IsDeclaredOrdinal<TEncryptionMethod>(15));
    EXPECT_FALSE(IsDeclaredOrdinal<TCompressMethod>(17));
    EXPECT_FALSE(InRangeTen(0));
    EXPECT_TRUE(InRangeTen(9));
}

TEST(Consts, ArcTypeNamesArePaddedForTheListing)
{
    EXPECT_EQ(ArcTypeName(atNA), "Not avail. ");
    EXPECT_EQ(ArcTypeName(atBhExe), "BH  SFX   ");
    EXPECT_EQ(ArcTypeName(atJar), "Java JAR  ");
    EXPECT_EQ(ArcTypeName(atZipMV), "Zip MVol  ");
    EXPECT_EQ(ArcTypeName(atZoo), "ZOO       ");
    for (int t = 1; t < TEnumCount<TArcType>::value; ++t)
        EXPECT_EQ(ArcTypeName(TArcType(t)).size(), 10u) << t;
    EXPECT_EQ(ArcTypeName(TArcType(38)), "");
}

TEST(Consts, MessagesAreFoundByNumberWordForWord)
{
    EXPECT_EQ(LoadMessage(25101), "64 bit header");
    EXPECT_EQ(LoadMessage(25155), "Disks contains neither label nor serial numbers to compare");
    EXPECT_EQ(LoadMessage(25232), "Flat ScrollBar requires COMCTL32.dll version 4.71 or above.");
    EXPECT_EQ(LoadMessage(25241), "Line found before 'BEGIN'");
    EXPECT_EQ(LoadMessage(25249), "Inconsistant local header");
    EXPECT_EQ(LoadMessage(25260), "plxUnrar[].dll not found");
    EXPECT_EQ(LoadMessage(25277), "Required event not assigned");
    EXPECT_EQ(LoadMessage(25281), "Open paran, but no close paran");
    EXPECT_EQ(LoadMessage(25298), "Size to small");
    EXPECT_EQ(LoadMessage(25443), "User canceled");
    EXPECT_EQ(LoadMessage(26899), "Directory does not exist... Create?");
    EXPECT_EQ(LoadMessage(26000), "All_files (*.*)|*.*");
    EXPECT_EQ(LoadMessage(26001),
              "ALL Archives |*.ace;*.arc;*.arj;*.bh;*.bz;*.bz2;*.cab;*.enc;*.gz;*.ha;*.jar;*.lha;*.lzh;*.mbf;"
              "*.mim;*.pak;*.pk3;*.pk_;*.rar;*.sqx;*.tar;*.tbz;*.tgz;*.uue;*.uu;*.war;*.xxe;*.z;*.zap;*.zip;"
              "*.zipx;*.zoo;*.plx");
    // Same texts under two numbers; both numbers exist.
    EXPECT_EQ(LoadMessage(25173), "EOF not found");
    EXPECT_EQ(LoadMessage(25179), "EOF not found");
    EXPECT_EQ(LoadMessage(25272), "Nothing to do");
    EXPECT_EQ(LoadMessage(26859), "Nothing to do");
    // Numbers between the entries carry no message.
    EXPECT_EQ(LoadMessage(25105), "");
    EXPECT_EQ(LoadMessage(25100), "");
    EXPECT_EQ(LoadMessage(26900), "");

    int count = 0;
    for (int n = 25000; n < 27000; ++n)
        count += !LoadMessage(n).empty();
    EXPECT_EQ(count, 129);
}

TEST(Consts, RaiseCarriesTheNumbersText)
{
    try {
        throw E_RAISE(25326);
    } catch (const std::exception& e) {
        const auto& raised = dynamic_cast<const E_RAISE&>(e);
        EXPECT_EQ(raised.ECode, 25326);
        EXPECT_EQ(raised.Message, "Unsupported compression method");
        EXPECT_STREQ(e.what(), "Unsupported compression method");
    }
}
