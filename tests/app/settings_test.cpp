#include "app/lib/DefinitionFile.h"
#include "app/lib/Settings.h"
#include "platform/win/CodePage.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class Stored : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        SetSettingsRoot(HKEY_CURRENT_USER);
        SetProgramSubKey();
    }
    TScratchDir scratch;
    const std::string dir = scratch.Path().string();
};

TEST_F(Stored, InstallPathCheck)
{
    int questions = 0;
    CheckInstallPath("C:\\Programs\\Torvo", "1.0.0.0", [&](const std::string&) { return ++questions, false; });
    EXPECT_EQ(0, questions);  // first run: nothing stored, nothing asked
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        EXPECT_EQ("C:\\Programs\\Torvo", RegReadString(root, "Software\\Vimo\\Torvo", "InstallPath", "-"));
        EXPECT_EQ("1.0.0.0", RegReadString(root, "Software\\Vimo\\Torvo", "InstallVersion", "-"));
    }

    std::string asked;
    CheckInstallPath("D:\\Jinde", "1.1.0.0", [&](const std::string& text) { return asked = text, false; });
    EXPECT_EQ("Zjistil jsem, že program Torvo je pravděpodobně nainstalovaný\r\nv počítači na více místech:\r\n\n"
              "1. D:\\Jinde - adresář právě spuštěného programu\r\n"
              "2. C:\\Programs\\Torvo - původní adresář z registru\r\n\n"
              "Mám nahradit \"původní adresář\" programu Torvo \"adresářem spuštěného programu\" ?",
              asked);
    EXPECT_EQ("C:\\Programs\\Torvo", RegReadString(HKEY_CURRENT_USER, "Software\\Vimo\\Torvo", "InstallPath", "-"));
    EXPECT_EQ("1.1.0.0", RegReadString(HKEY_LOCAL_MACHINE, "Software\\Vimo\\Torvo", "InstallVersion", "-"));

    CheckInstallPath("c:\\programs\\TORVO", "1.2.0.0", [&](const std::string&) { return ++questions, false; });
    EXPECT_EQ(0, questions);  // folders compare without case

    // A folder on the drive that spells the host's root is named as the host names it.
    CheckInstallPath("Z:\\opt\\torvo", "1.3.0.0", [&](const std::string& text) { return asked = text, false; });
    EXPECT_NE(std::string::npos, asked.find("1. /opt/torvo - adresář")) << asked;
    EXPECT_EQ(HKEY_CURRENT_USER, CurrentSettingsRoot());
}

TEST_F(Stored, OtherProgramsAndTheMailLookupRestoreTheKey)
{
    RegWriteString(HKEY_LOCAL_MACHINE, "Software\\Vimo\\qNet", "InstallPath", "C:\\qNet");
    EXPECT_EQ("C:\\qNet", ReadOtherProgramValue("\\qNet", "InstallPath"));
    RegWriteString(HKEY_LOCAL_MACHINE, "Software\\Vimo\\Dastel", "InstallPath", "C:\\Dastel");
    SetProgramSetting(HKEY_CURRENT_USER, "Colour", "blue");
    EXPECT_EQ("C:\\Dastel", ReadMailProgramPath());
    EXPECT_EQ(HKEY_CURRENT_USER, CurrentSettingsRoot());
    EXPECT_EQ("\\Torvo", CurrentProgramSubKey());
    EXPECT_EQ("blue", ProgramSetting("Colour", "", TSettingMode::Read));
    EXPECT_EQ("dflt", ProgramSetting("Missing", "dflt", TSettingMode::Read));
}

TEST_F(Stored, DefinitionAndMenuFilesFromDisk)
{
    const std::string menu = dir + "/menu.txt";
    std::ofstream(menu, std::ios::binary) << win::Utf8ToAnsi("[Menu]\r\n{0}Záloha\r\n");
    std::ofstream(dir + "/archivace.dta", std::ios::binary) << "[MENUARCHIV]" + menu + "\r\n";

    TDefinitionValues values;
    values.NoteFirma = "kept";
    EXPECT_FALSE(ReadDefinitionFile(dir + "/", "missing.dta", values));
    EXPECT_EQ("kept", values.NoteFirma);
    EXPECT_TRUE(ReadDefinitionFile(dir + "/", "archivace.dta", values));
    EXPECT_EQ(menu, values.MenuArchiv);

    std::vector<std::string> reports;
    const auto report = [&](const std::string& text) { reports.push_back(text); };
    EXPECT_EQ("Záloha", FindMenuReturnValue("Menu", 0, true, values.MenuArchiv, report));
    EXPECT_EQ("", FindMenuReturnValue("Menu", 3, true, values.MenuArchiv, report));
    EXPECT_EQ("", FindMenuReturnValue("Menu", 0, true, dir + "/none.txt", report));
    EXPECT_EQ("", FindMenuReturnValue("Menu", 0, false, dir + "/none.txt", report));
    ASSERT_EQ(2u, reports.size());
    EXPECT_EQ("Nabídka v souboru:  " + values.MenuArchiv + "\r\rv sekci:  [Menu]\rnelze najít návratovou hodnotu:  3",
              reports[0]);
    EXPECT_EQ("Nabídka: nemohu najít datový soubor: " + dir + "/none.txt", reports[1]);
}

}  // namespace
