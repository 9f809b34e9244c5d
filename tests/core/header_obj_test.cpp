#include <gtest/gtest.h>

#include <cstring>

#include "core/HeaderObj.h"
#include "core/ShiftStringChars.h"

TEST(HeaderObj, UnBaseListKeepsCopiesAndOptionalBlocks)
{
    TUnBaseHeaderObj list;
    std::uint8_t record[24];
    std::memset(record, 7, sizeof record);
    const char name[] = "dir/file.txt";
    EXPECT_TRUE(list.AddItem(record, name, 12));
    record[0] = 9;                               // the list holds a copy
    EXPECT_TRUE(list.AddItem(record, name, 0));  // no name block, still counted
    EXPECT_EQ(list.Count, 2u);
    EXPECT_EQ(list.RecordSize, 24u);
    EXPECT_EQ(list.GetItem(0)[0], 7);
    EXPECT_EQ(list.GetItem(1)[0], 9);
    EXPECT_EQ(std::string(list.GetBlock(0).begin(), list.GetBlock(0).end()), "dir/file.txt");
    EXPECT_TRUE(list.GetBlock(1).empty());
    try {
        list.GetItem(2);
        FAIL();
    } catch (const E_RAISE& e) {
        EXPECT_EQ(e.ECode, 25243);
        EXPECT_EQ(e.Message, "Index out of bounds");
    }
    list.Clear();
    EXPECT_EQ(list.Count, 0u);
    EXPECT_THROW(list.GetItem(0), E_RAISE);
}

TEST(HeaderObj, CompressListKeepsParallelItems)
{
    TCompressHeaderObj list;
    TCompressFileInfo info;
    info.Action = eaCopy;
    info.Offset = 1234;
    const std::uint8_t extra[4] = {1, 2, 3, 4};
    list.AddItem(info, "C:\\Data\\Readme.TXT", 8, sizeof extra, extra);
    info.Action = eaCompress;
    list.AddItem(info, "C:\\Data\\b.txt", 8, 0, nullptr);
    EXPECT_EQ(list.Count, 2u);
    EXPECT_EQ(list.RecordSize, 66u);
    EXPECT_EQ(list.GetItem(0).Action, eaCopy);
    EXPECT_EQ(list.GetItem(0).Offset, 1234);
    EXPECT_EQ(list.Extra(0).size(), 4u);
    EXPECT_TRUE(list.Extra(1).empty());
    EXPECT_EQ(list.Value(1), 8);
    EXPECT_EQ(list.IndexOfName("c:\\data\\README.txt"), 0);
    EXPECT_EQ(list.IndexOfName("missing"), -1);
    list.GetItem(1).Action = eaLeaveOut;
    EXPECT_EQ(list.GetItem(1).Action, eaLeaveOut);
    EXPECT_THROW(list.Name(2), E_RAISE);
    list.Clear();
    EXPECT_EQ(list.Count, 0u);
    EXPECT_EQ(list.IndexOfName("c:\\data\\readme.txt"), -1);
}

TEST(HeaderObj, NameLookupFollowsEveryChangeOfTheList)
{
    TCompressHeaderObj list;
    for (const char* name : {"a.txt", "Žluť.txt", "A.TXT", "b.txt"})
        list.AddItem({}, name, 0, 0, nullptr);
    EXPECT_EQ(list.IndexOfName("A.txt"), 0);  // the first of the case twins
    EXPECT_EQ(list.IndexOfName("žluŤ.TXT"), 1);
    // Changed through Name, added, dropped: the next lookup sees each.
    list.Name(0) = "c.txt";
    EXPECT_EQ(list.IndexOfName("a.txt"), 2);
    EXPECT_EQ(list.IndexOfName("C.TXT"), 0);
    list.Name(2) = "d.txt";
    list.Name(2);  // read only: stays as it is
    EXPECT_EQ(list.IndexOfName("a.txt"), -1);
    list.AddItem({}, "a.txt", 0, 0, nullptr);
    EXPECT_EQ(list.IndexOfName("A.TXT"), 4);
    list.DropFront(2);
    EXPECT_EQ(list.IndexOfName("d.txt"), 0);
    EXPECT_EQ(list.IndexOfName("c.txt"), -1);
    EXPECT_EQ(list.IndexOfName("a.txt"), 2);
    // Added after a drop, in the dropped names' buffers: each as given, whatever its length.
    const std::string longName(300, 'x');
    list.AddItem({}, longName, 0, 0, nullptr);
    list.AddItem({}, "e.txt", 0, 0, nullptr);
    EXPECT_EQ(list.Names(), (std::vector<std::string>{"d.txt", "b.txt", "a.txt", longName, "e.txt"}));
    EXPECT_EQ(list.IndexOfName("E.TXT"), 4);
    list.DropFront(4);
    list.AddItem({}, "f.txt", 0, 0, nullptr);
    EXPECT_EQ(list.Names(), (std::vector<std::string>{"e.txt", "f.txt"}));
}

TEST(HeaderObj, RecordListAndCharacterShift)
{
    TRecordList list(6);
    list.AddRecord("abcdef");
    list.AddRecord("ghijkl");
    EXPECT_EQ(list.Count, 2u);
    EXPECT_EQ(std::memcmp(list.GetRecord(1), "ghijkl", 6), 0);
    EXPECT_THROW(list.GetRecord(2), E_RAISE);

    EXPECT_EQ(ShiftStringChars("abc", 1, false), "bcd");
    EXPECT_EQ(ShiftStringChars("bcd", 1, true), "abc");
    EXPECT_EQ(ShiftStringChars("\xFF", 2, false), "\x01");
    EXPECT_EQ(ShiftStringChars("\x01", 2, true), "\xFF");
}
