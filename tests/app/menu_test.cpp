#include "app/lib/DefinitionFile.h"
#include "app/lib/MenuText.h"
#include "platform/win/CodePage.h"
#include "support/ToolRun.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

TEST(DefinitionFile, KeysValuesAndLineEnds)
{
    TDefinitionValues v;
    v.PathArchiv = "stale";
    // LF-only lines, no final newline, a lower-case key, "]" inside a value, a repeated key whose
    // later empty value does not win, and Windows-1250 bytes.
    const std::string bytes = win::Utf8ToAnsi("[MENUARCHIV]C:\\Vimo\\menu.txt\n"
                                              "[notefirma]Firma ]Příliš[ s.r.o.\r\n"
                                              "[COMMENT1]first\n"
                                              "[COMMENT1]second\n"
                                              "[COMMENT1]\n"
                                              "garbage line\n"
                                              "[UNKNOWN]x\n"
                                              "[close]yes");
    ParseDefinitionText(bytes, v);
    EXPECT_EQ("C:\\Vimo\\menu.txt", v.MenuArchiv);
    EXPECT_EQ("Firma ]Příliš[ s.r.o.", v.NoteFirma);
    EXPECT_EQ("second", v.Comment1);
    EXPECT_TRUE(v.PathArchiv.empty());  // every value is cleared before reading
    EXPECT_TRUE(v.Close);

    ParseDefinitionText("[CLOSE]\r\n[CLOSE]no\r\n", v);
    EXPECT_FALSE(v.Close);
    ParseDefinitionText("[CLOSE]\r", v);
    EXPECT_FALSE(v.Close);
    ParseDefinitionText("[CLOSE]Yes please", v);
    EXPECT_TRUE(v.Close);
}

TEST(MenuFile, MenuLinesAndSections)
{
    const TMenuFile file = TMenuFile::FromBytes(win::Utf8ToAnsi("[menu]\n"
                                                                "{x}Broken\n"
                                                                "no braces here\n"
                                                                "{0}Archivace\n"
                                                                "{0}Second\n"
                                                                "{ 12 }Automat\n"
                                                                "[ARCHIVACE] Záloha dat\n"
                                                                "/ a comment\n"
                                                                "|Disketa‡1<1>\n"
                                                                "\n"
                                                                "|°Zkontrolovat<k>\n"
                                                                "~Skupina|~Jiné\n"
                                                                "|Síť‡<7>\n"
                                                                "[Other]\n"
                                                                "|x‡<9>"));
    EXPECT_EQ("Archivace", ScanMenuSection(file, "Menu", 0));  // first match, any case of the name
    EXPECT_EQ("Automat", ScanMenuSection(file, "MENU", 12));
    EXPECT_EQ("", ScanMenuSection(file, "Menu", 5));
    EXPECT_EQ("", ScanMenuSection(file, "Missing", 0));

    const TMenuSection s = ReadMenuSection(file, "archivace", 7);
    EXPECT_TRUE(s.Found);
    EXPECT_EQ(" Záloha dat", s.Title);
    EXPECT_EQ("|Disketa‡1<1>|°Zkontrolovat<k>~Skupina|~Jiné|Síť‡<7>", s.MenuText);
    EXPECT_EQ(1, s.ItemIndex);  // the check box and the group line are not items
    EXPECT_EQ(0, ReadMenuSection(file, "ARCHIVACE", 1).ItemIndex);
    EXPECT_EQ(-1, ReadMenuSection(file, "ARCHIVACE", 4).ItemIndex);
    EXPECT_FALSE(ReadMenuSection(file, "Nothing").Found);
}

TEST(MenuFile, MessageTexts)
{
    EXPECT_EQ("Nabídka: nemohu najít datový soubor: C:\\m.txt", MenuFileNotFoundText("C:\\m.txt"));
    EXPECT_EQ("Nabídka v souboru:  C:\\m.txt\r\rv sekci:  [Menu]\rnelze najít návratovou hodnotu:  14",
              MenuLineNotFoundText("C:\\m.txt", "Menu", 14));
}

TEST(MenuFile, SettingsFilesAreReadOnlyFromRegularFilesOfAFewKilobytes)
{
    namespace fs = std::filesystem;
    TScratchDir scratch;
    const fs::path dir = scratch.Path();
    std::ofstream(dir / "menu.txt", std::ios::binary) << "[Menu]\r\n{10}Automaticka\r\n";
    fs::create_symlink("/dev/zero", dir / "zero.txt");
    ASSERT_EQ(0, mkfifo((dir / "fifo.txt").c_str(), 0600));
    std::ofstream(dir / "huge.txt", std::ios::binary) << "[Menu]\r\n{10}Automaticka\r\n";
    fs::resize_file(dir / "huge.txt", 200u << 20);  // sparse: costs no disk

    std::string bytes;
    EXPECT_EQ(TSettingsFileRead::Read, ReadSettingsFile((dir / "menu.txt").string(), bytes));
    EXPECT_EQ(ReadText(dir / "menu.txt"), bytes);
    // A device, a link to one and a FIFO are refused unread (a FIFO without a writer would block).
    for (const char* name : {"zero.txt", "fifo.txt"})
        EXPECT_EQ(TSettingsFileRead::NotAFile, ReadSettingsFile((dir / name).string(), bytes)) << name;
    EXPECT_EQ(TSettingsFileRead::NotAFile, ReadSettingsFile("Z:\\dev\\zero", bytes));
    EXPECT_EQ(TSettingsFileRead::TooLarge, ReadSettingsFile((dir / "huge.txt").string(), bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(TSettingsFileRead::Missing, ReadSettingsFile((dir / "none.txt").string(), bytes));

    // The menu lookup names the file and why it was not used; a missing file keeps its own text.
    std::vector<std::string> told;
    const auto tell = [&](const std::string& text) { told.push_back(text); };
    EXPECT_EQ("Automaticka", FindMenuReturnValue("Menu", 10, true, (dir / "menu.txt").string(), tell));
    EXPECT_EQ("", FindMenuReturnValue("Menu", 10, true, "Z:\\dev\\zero", tell));
    EXPECT_EQ("", FindMenuReturnValue("Menu", 10, true, (dir / "huge.txt").string(), tell));
    EXPECT_EQ("", FindMenuReturnValue("Menu", 10, true, (dir / "none.txt").string(), tell));
    ASSERT_EQ(3u, told.size());
    EXPECT_EQ("Soubor Z:\\dev\\zero nelze použít: není to obyčejný soubor.", told[0]);
    EXPECT_NE(std::string::npos, told[1].find("huge.txt nelze použít: je větší než 1 MB")) << told[1];
    EXPECT_EQ(MenuFileNotFoundText((dir / "none.txt").string()), told[2]);

    TDefinitionValues values;
    values.MenuArchiv = "kept";
    std::string refused;
    EXPECT_FALSE(ReadDefinitionFile((dir / "").string(), "zero.txt", values, &refused));
    EXPECT_EQ("kept", values.MenuArchiv);
    EXPECT_NE(std::string::npos, refused.find("zero.txt nelze použít")) << refused;
}

TEST(MenuText, GroupLabelAndTwoItems)
{
    const TMenuModel m = ParseMenuText("~Skupina|A‡5<x>|B‡6<y>");
    ASSERT_EQ(3u, m.Lines.size());
    EXPECT_EQ(TMenuLineKind::Label, m.Lines[0].Kind);
    ASSERT_EQ(2u, m.Buttons().size());
    const TMenuChoice b = ChooseMenuButton(m, 1);
    EXPECT_EQ(1, b.Index);
    EXPECT_EQ(6, b.Number);
    EXPECT_EQ("y", b.Text);
    EXPECT_EQ("B", b.Caption);
    EXPECT_EQ(MenuCancelled, ChooseMenuButton(m, MenuCancelled).Index);
    EXPECT_EQ(MenuEmpty, ChooseMenuButton(ParseMenuText(""), 0).Index);
    EXPECT_EQ(MenuEmpty, ChooseMenuButton(ParseMenuText("~~~"), 0).Index);
}

TEST(MenuText, PreparationAndLineKinds)
{
    EXPECT_EQ(std::vector<std::string>({"First‡1", "~Group", "Second", "¬", "Third"}),
              PrepareMenuLines("First‡1~Group|Second¬|Third~~"));

    const TMenuModel m =
        ParseMenuText("~×$0000FF×Barevná|›&Odsazená ^o‡+3<r1>¤nápověda¤Ą…1 2†|»Druhá‡-<r2>…4®|°Volba<c>|#2-9|¬|Prostá");
    ASSERT_EQ(7u, m.Lines.size());
    EXPECT_EQ(0xFF, m.Lines[0].LabelColour.value_or(-1));
    EXPECT_EQ("Barevná", m.Lines[0].Caption);
    const TMenuLine& first = m.Lines[1];
    EXPECT_EQ(1, first.Indent);
    EXPECT_EQ("&Odsazená ", first.Caption);
    EXPECT_EQ("o", first.Accelerator);
    EXPECT_TRUE(first.IsDefault);
    EXPECT_EQ(3, first.Number);
    EXPECT_EQ("r1", first.ReturnText);
    EXPECT_EQ("nápověda¤", first.Hint);
    EXPECT_EQ(std::vector<int>({1, 2}), first.ImageIndexes);
    const TMenuLine& second = m.Lines[2];
    EXPECT_EQ(2, second.Indent);
    EXPECT_FALSE(second.Enabled);
    EXPECT_TRUE(second.SecondImageLayout);
    EXPECT_EQ(0, second.Number);  // no number: 0
    EXPECT_EQ(TMenuLineKind::CheckBox, m.Lines[3].Kind);
    EXPECT_EQ("c", m.Lines[3].ReturnText);
    EXPECT_EQ(2, m.RangeLow);
    EXPECT_EQ(9, m.RangeHigh);
    EXPECT_EQ(TMenuLineKind::Separator, m.Lines[5].Kind);

    const TMenuChoice choice = ChooseMenuButton(m, 0, {true});
    EXPECT_EQ("r1‡c", choice.Text);
    EXPECT_EQ("Odsazená ", choice.Caption);
    EXPECT_EQ(0, ChooseMenuButton(m, 2).Number);  // not an integer
}

TEST(MenuText, OptionsPreselectionAndKeys)
{
    const TMenuOptions o = ParseMenuOptions("\x01\x02\x05\x13"
                                            "2");
    EXPECT_TRUE(o.BoldLabels);
    EXPECT_TRUE(o.BoldWhileFocused);
    EXPECT_EQ(14, o.MeasureHeight);
    EXPECT_EQ(19, o.ButtonHeight);
    EXPECT_EQ(2, o.PreselectIndex);
    EXPECT_EQ(23, ParseMenuOptions("\x08\x0D").ButtonHeight);
    EXPECT_EQ(TMenuAlignment::Right, ParseMenuOptions("\x12").Alignment);
    EXPECT_EQ(TMenuAlignment::Left, ParseMenuOptions("\x12\x0C").Alignment);
    EXPECT_EQ(-1, ParseMenuOptions("\x01").PreselectIndex);

    const TMenuModel m = ParseMenuText("|Jedna ^A‡5|Dvě ^b‡6|Tři ^Č‡7");
    TMenuPreselection p = PreselectButton(m, ParseMenuOptions("0"), 6);
    EXPECT_EQ(1, p.Index);
    EXPECT_TRUE(p.MarkDefault);
    p = PreselectButton(m,
                        ParseMenuOptions("\x0E"
                                         "2"),
                        6);
    EXPECT_EQ(2, p.Index);
    EXPECT_FALSE(p.MarkDefault);

    TMenuKeyResult k = MenuAcceleratorKey(m, ParseMenuOptions(""), U'B');
    EXPECT_EQ(1, k.Index);
    EXPECT_TRUE(k.Choose);
    k = MenuAcceleratorKey(m, ParseMenuOptions("\x18"), U'č');
    EXPECT_EQ(2, k.Index);
    EXPECT_FALSE(k.Choose);  // #24: the key only moves the focus
    EXPECT_EQ(-1, MenuAcceleratorKey(m, ParseMenuOptions(""), U'!').Index);
}

}  // namespace
