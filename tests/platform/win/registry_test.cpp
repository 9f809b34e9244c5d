#include "platform/win/Registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("torvo-reg-" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
        unsetenv("TORVO_REGISTRY_HKCU");
        unsetenv("TORVO_REGISTRY_HKLM");
    }
    void TearDown() override
    {
        unsetenv("TORVO_REGISTRY_HKLM");
        fs::remove_all(dir_);
    }
    fs::path dir_;
};

std::string Query(HKEY key, const char* name)
{
    char buf[256];
    DWORD size = sizeof buf;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS)
        return "<none>";
    EXPECT_EQ(REG_SZ, type);
    return buf;
}

}  // namespace

TEST_F(RegistryTest, ValuesRoundTripAndPersistInTheStore)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Vimo\\Torvo", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, &disposition));
    EXPECT_EQ(REG_CREATED_NEW_KEY, disposition);
    const std::string tricky = "C:\\Vimo\\Torvo [x=1] 100% Kůň\r\nline2";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "InstallPath", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(tricky.c_str()), tricky.size() + 1));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("def"), 4));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    EXPECT_TRUE(fs::exists(dir_ / "torvo/registry/HKCU.reg"));
    // Creating a key that exists opens it.
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "software\\vimo\\torvo", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, &disposition));
    EXPECT_EQ(REG_OPENED_EXISTING_KEY, disposition);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));

    // A fresh open reads the file again; names compare without regard to case.
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\vimo\\TORVO", 0, KEY_READ, &key));
    EXPECT_EQ(tricky, Query(key, "installpath"));
    EXPECT_EQ("def", Query(key, ""));
    EXPECT_EQ("<none>", Query(key, "Missing"));
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "InstallPath", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(tricky.size() + 1, size);
    char small[4];
    size = sizeof small;
    EXPECT_EQ(ERROR_MORE_DATA,
              RegQueryValueExA(key, "InstallPath", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(key, "X", 0, REG_SZ, reinterpret_cast<const BYTE*>("y"), 2));
    RegCloseKey(key);

    HKEY parent = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Vimo", 0, KEY_READ, &parent));
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(parent, "torvo", 0, KEY_READ, &key));  // relative to an open key
    RegCloseKey(key);
    RegCloseKey(parent);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Other", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Vimo", 0, KEY_READ, &key));

    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Vimo\\Torvo", 0, KEY_ALL_ACCESS, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "INSTALLPATH"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key, "InstallPath"));
    EXPECT_EQ("<none>", Query(key, "InstallPath"));
    RegCloseKey(key);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Vimo"));  // has sub-keys
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Vimo"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Vimo\\Torvo", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key));
    RegCloseKey(key);
}

TEST_F(RegistryTest, UnwritableRootIsAccessDeniedButReadable)
{
    // A folder below a regular file can never be created, not even by root.
    const fs::path blocker = dir_ / "blocker";
    std::ofstream(blocker) << "x";
    setenv("TORVO_REGISTRY_HKLM", (blocker / "registry").c_str(), 1);
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Vimo\\Torvo", 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, &key, nullptr));
    win::TRegistry reg;
    reg.RootKey = HKEY_LOCAL_MACHINE;
    EXPECT_FALSE(reg.OpenKey("Software\\Vimo\\Torvo", true));
    EXPECT_FALSE(reg.OpenKeyReadOnly("Software\\Vimo\\Torvo"));

    // A store that exists but cannot be changed: reading works, writing is refused.
    const fs::path store = dir_ / "hklm";
    fs::create_directories(store);
    std::ofstream(store / "HKLM.reg") << "[Software\\Vimo\\qNet]\nInstallPath=sz:C:\\qNet\n";
    setenv("TORVO_REGISTRY_HKLM", store.c_str(), 1);
    ASSERT_TRUE(reg.OpenKeyReadOnly("\\Software\\Vimo\\qNet"));
    EXPECT_EQ("C:\\qNet", reg.ReadString("InstallPath"));
    EXPECT_TRUE(reg.OpenKey("\\Software\\Vimo\\qNet", false));
    fs::rename(store, dir_ / "gone");
    std::ofstream(store) << "now a file";
    EXPECT_THROW(reg.WriteString("InstallPath", "D:\\"), win::ERegistryException);
    EXPECT_FALSE(reg.OpenKey("\\Software\\Vimo\\qNet", true));
}

TEST_F(RegistryTest, RegistryObjectKeysAndValues)
{
    win::TRegistry reg;
    EXPECT_FALSE(reg.KeyExists("\\Software\\Classes\\.zip"));
    ASSERT_TRUE(reg.OpenKey("\\Software\\Classes\\.zip", true));
    reg.WriteString("", "torvo");
    EXPECT_TRUE(reg.ValueExists(""));
    EXPECT_FALSE(reg.ValueExists("Other"));
    EXPECT_EQ("", reg.ReadString("Other"));
    ASSERT_TRUE(reg.OpenKey("\\Software\\Classes\\torvo\\Shell\\Open\\Command", true));
    reg.WriteString("", "\"/opt/torvo\" \"%1\"");
    reg.CloseKey();

    win::TRegistry again;  // another object, as another process would see it
    ASSERT_TRUE(again.OpenKeyReadOnly("\\software\\classes\\TORVO\\shell\\open\\command"));
    EXPECT_EQ("\"/opt/torvo\" \"%1\"", again.ReadString(""));
    ASSERT_TRUE(again.OpenKeyReadOnly("\\Software\\Classes"));
    ASSERT_TRUE(again.OpenKeyReadOnly(".zip"));  // relative to the open key
    EXPECT_EQ("torvo", again.ReadString(""));
    EXPECT_TRUE(again.DeleteKey("\\Software\\Classes\\torvo"));
    EXPECT_FALSE(again.KeyExists("\\Software\\Classes\\torvo\\Shell"));
    EXPECT_TRUE(again.KeyExists("\\Software\\Classes\\.zip"));
}
