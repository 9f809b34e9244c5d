// File associations: nothing reaches the registry store unless the host answers yes; a yes writes
// the class, description, icon and open command that read back from the store.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/Err_Msgs.h"
#include "platform/win/FsTestSupport.h"
#include "platform/win/Paths.h"
#include "platform/win/Registry.h"
#include "readers/plxRegArchive.h"

namespace fs = std::filesystem;

namespace {

class RegArchiveTest : public FsTest {
protected:
    void TearDown() override
    {
        unsetenv("TORVO_REGISTRY_HKLM");
        FsTest::TearDown();
    }

    static std::string DefaultValue(HKEY Root, const std::string& Key)
    {
        win::TRegistry registry(KEY_READ);
        registry.RootKey = Root;
        return registry.OpenKeyReadOnly(Key) ? registry.ReadString("") : "<none>";
    }

    // Reading may make the store's folder; any value written makes a store file.
    bool StoreWritten() const
    {
        const std::string store = root + "/config/torvo/registry/";
        return fs::exists(store + "HKLM.reg") || fs::exists(store + "HKCU.reg");
    }

    std::vector<int> reports;
    std::vector<std::string> reported;
};

TEST_F(RegArchiveTest, ExtensionsComeFromTheArchiveFilterWithoutExe)
{
    TRegArchive reg;
    const std::vector<std::string>& ext = reg.ArcExtensions();
    EXPECT_EQ(ext.size(), 33u);
    for (const char* e : {".ace", ".zip", ".zipx", ".tgz", ".uue", ".z", ".plx", ".mbf", ".sqx", ".zap"})
        EXPECT_NE(std::find(ext.begin(), ext.end(), e), ext.end()) << e;
    reg.SetArcExtensions({".ZIP", ".EXE", ".Tar", ".exe"});
    EXPECT_EQ(reg.ArcExtensions(), (std::vector<std::string>{".zip", ".tar"}));
    reg.SetExtDescription("");
    reg.SetParamString("");
    EXPECT_EQ(reg.ExtDescription(), "[Appname]");
    EXPECT_EQ(reg.ParamString(), "%1");
    EXPECT_EQ(reg.AppName(), "test_readers");
    EXPECT_EQ(reg.Description(), "test_readers file");
}

TEST_F(RegArchiveTest, OstrakNamesReadBackAsTheDefaults)
{
    TRegArchive reg;
    reg.SetExtDescription("Ostrak32");
    reg.SetFileDescription("Ostrak32 file");
    EXPECT_EQ(reg.ExtDescription(), "[Appname]");
    EXPECT_EQ(reg.FileDescription(), "[Appname file]");
    EXPECT_EQ(reg.AppName(), "test_readers");
    EXPECT_EQ(reg.Description(), "test_readers file");
    // Only those exact texts.
    reg.SetExtDescription("ostrak32");
    reg.SetFileDescription("Ostrak32 files");
    EXPECT_EQ(reg.AppName(), "ostrak32");
    EXPECT_EQ(reg.Description(), "Ostrak32 files");
}

TEST_F(RegArchiveTest, NothingIsWrittenUnlessTheHostSaysYes)
{
    TRegArchive unasked;
    unasked.Loaded();  // ActivateOnStartup, but nobody to ask
    EXPECT_FALSE(StoreWritten());

    TRegArchive main;  // as the main window has it: every offer cancelled
    std::vector<std::string> asked;
    main.OnAssociation = [&asked](TObject*, const std::string& app, bool& cancel) {
        asked.push_back(app);
        EXPECT_TRUE(cancel);
    };
    main.Loaded();
    EXPECT_EQ(asked, std::vector<std::string>{"test_readers"});
    EXPECT_FALSE(StoreWritten());
}

TEST_F(RegArchiveTest, AYesWritesTheKeysOnceAndTheyReadBack)
{
    char self[1024];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
    TRegArchive reg;
    reg.SetArcExtensions({".zip", ".LZH", ".exe"});
    reg.IconIndex = 2;
    reg.MenuName = "Open archive";
    int asked = 0;
    reg.OnAssociation = [&asked](TObject*, const std::string&, bool& cancel) {
        ++asked;
        cancel = false;
    };
    reg.Loaded();
    EXPECT_EQ(asked, 1);
    const HKEY lm = HKEY_LOCAL_MACHINE;
    EXPECT_EQ(DefaultValue(lm, "\\Software\\Classes\\.zip"), "test_readers");
    EXPECT_EQ(DefaultValue(lm, "\\Software\\Classes\\.lzh"), "test_readers");
    EXPECT_EQ(DefaultValue(lm, "\\Software\\Classes\\.exe"), "<none>");
    EXPECT_EQ(DefaultValue(lm, "\\Software\\Classes\\test_readers"), "test_readers file");
    EXPECT_EQ(DefaultValue(lm, "\\Software\\Classes\\test_readers\\DefaultIcon"), std::string(self) + ",2");
    EXPECT_EQ(DefaultValue(lm, "\\Software\\Classes\\test_readers\\Shell\\Open\\Command"),
              "\"" + std::string(self) + "\" \"%1\"");
    EXPECT_EQ(DefaultValue(lm, "\\Software\\Classes\\test_readers\\Shell\\Open"), "Open archive");
    EXPECT_EQ(DefaultValue(HKEY_CURRENT_USER, "\\Software\\Classes\\.zip"), "<none>");
    EXPECT_TRUE(reg.AllRegistered());
    reg.Activate();  // already this program's: nobody is asked again
    EXPECT_EQ(asked, 1);

    TRegArchive user;
    user.SetArcExtensions({".arj"});
    user.RegistrySection = plxHKEY_CURRENT_USER;
    user.OnAssociation = reg.OnAssociation;
    user.Activate();
    EXPECT_EQ(DefaultValue(HKEY_CURRENT_USER, "\\Software\\Classes\\.arj"), "test_readers");
    EXPECT_EQ(DefaultValue(lm, "\\Software\\Classes\\.arj"), "<none>");
}

TEST_F(RegArchiveTest, KeysThatCannotBeWrittenAreReportedOneByOne)
{
    // A folder below a regular file can never be created.
    WriteHostFile(root + "/blocker", "x");
    setenv("TORVO_REGISTRY_HKLM", (root + "/blocker/registry").c_str(), 1);
    TRegArchive reg;
    reg.SetArcExtensions({".zip", ".tar"});
    reg.OnAssociation = [](TObject*, const std::string&, bool& cancel) { cancel = false; };
    reg.OnError = [this](TObject*, const std::string& name, const std::string&, const std::string&, int code) {
        reports.push_back(code);
        reported.push_back(name);
    };
    reg.Activate();
    EXPECT_EQ(reports, std::vector<int>(5, E_REGISTRYPERMISSIONS));
    ASSERT_EQ(reported.size(), 5u);
    EXPECT_EQ(reported[0], "HKEY_LOCAL_MACHINE\\Software\\Classes\\.zip");
    EXPECT_EQ(reported[4], "HKEY_LOCAL_MACHINE\\Software\\Classes\\test_readers\\Shell\\Open\\Command");
}

}  // namespace
