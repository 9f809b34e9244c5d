#include <gtest/gtest.h>

#include "core/MethodName.h"

TEST(MethodName, TextsPerFormat)
{
    const TMethodEntryFacts none;
    EXPECT_EQ(GetMethodName(atZip, 0, 0, none), "Stored");
    EXPECT_EQ(GetMethodName(atZipMV, 6, 0, none), "Imploded");
    EXPECT_EQ(GetMethodName(atJarExe, 8, 2, none), "DFLT-X");
    EXPECT_EQ(GetMethodName(atZip, 12, 0, none), "BZip2");
    EXPECT_EQ(GetMethodName(atZip, 98, 0, none), "PPMDi1");
    EXPECT_EQ(GetMethodName(atZip, 14, 0, none), "Unsupported");
    EXPECT_EQ(GetMethodName(atArc, 1, 0, none), "Stored");
    EXPECT_EQ(GetMethodName(atArc, 10, 0, none), "Pack12");
    EXPECT_EQ(GetMethodName(atArc, 0, 0, none), "Unsupported");
    EXPECT_EQ(GetMethodName(atPak, 11, 0, none), "Distill");
    EXPECT_EQ(GetMethodName(atPak, 8, 0, none), "Varible");
    EXPECT_EQ(GetMethodName(atLzh, '7', 0, none), "Frozen-7");
    EXPECT_EQ(GetMethodName(atLha, 'd', 0, none), "<Dir>");
    EXPECT_EQ(GetMethodName(atBz2, 1, 0, none), "BZ'd");
    EXPECT_EQ(GetMethodName(atHA, 15, 0, none), "Special");
    EXPECT_EQ(GetMethodName(atBh, 12, 0, none), "BZip2-N");
    EXPECT_EQ(GetMethodName(atGZip, 144, 0, none), "LzwMAGIC");
    EXPECT_EQ(GetMethodName(atTar, 0, 0, none), "Tarred");
    EXPECT_EQ(GetMethodName(atUUE, 0, 0, none), "Unsupported");
    EXPECT_EQ(GetMethodName(atRar, '5', 0, none), "Best");
}

TEST(MethodName, EntryFactsDecideFoldersAndRealMethods)
{
    TMethodEntryFacts aes;
    aes.AesMethod = 8;
    EXPECT_EQ(GetMethodName(atZip, 99, 0, aes), "DFLT-N");
    aes.AesMethod = 99;  // a block naming itself again does not loop
    EXPECT_EQ(GetMethodName(atZip, 99, 0, aes), "Unsupported");

    TMethodEntryFacts dir;
    dir.Attributes = 0x10;
    EXPECT_EQ(GetMethodName(atRar, '3', 0, dir), "<Dir>");
    EXPECT_EQ(GetMethodName(atZip, 20, 0, dir), "<Dir>");
    EXPECT_EQ(GetMethodName(atZip, 0, 0, dir), "Stored");

    TMethodEntryFacts arc;
    arc.HeaderType = 30;
    EXPECT_EQ(GetMethodName(atArcExe, 0, 0, arc), "<Dir>");
    TMethodEntryFacts arj;
    arj.FileType = 3;
    EXPECT_EQ(GetMethodName(atArj, 9, 0, arj), "<Dir>");

    TMethodEntryFacts gz;
    gz.FirstBytes[0] = 0x1F;
    gz.FirstBytes[1] = 0xA0;
    EXPECT_EQ(GetMethodName(atGZip, 3, 0, gz), "LzhMAGIC");

    TMethodEntryFacts tar;
    tar.FileName = "docs\\";
    EXPECT_EQ(GetMethodName(atTar, 5, 0, tar), "<Dir>");
    tar.FileName = "docs\\a.txt";
    EXPECT_EQ(GetMethodName(atTar, 5, 0, tar), "Unsupported");

    EXPECT_EQ(GetMethodName(atCab, 0x1503, 0, {}), "Lzx");
    EXPECT_EQ(GetMethodName(atCabExe, 0x1505, 0, {}), "Lzx5");
    EXPECT_EQ(GetMethodName(atCab, 1, 0, {}), "MsZIP");
}
