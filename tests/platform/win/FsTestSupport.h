// A private home, configuration and data folder per test, and a fresh drive table over them.
#pragma once

#include "platform/win/Drives.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>

class FsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/torvo-fs-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        home = root + "/home";
        std::filesystem::create_directories(home);
        std::filesystem::create_directories(root + "/config");
        char cwd[PATH_MAX];
        savedCwd = getcwd(cwd, sizeof cwd) ? cwd : "/";
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "TMPDIR"}) {
            const char* value = std::getenv(name);
            savedEnv[name] = value ? std::optional<std::string>(value) : std::nullopt;
        }
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
        setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
        std::filesystem::create_directories(root + "/tmp");
        setenv("TMPDIR", (root + "/tmp").c_str(), 1);
        win::LoadDriveTable();
    }

    void TearDown() override
    {
        win::TestHooks() = {};
        if (chdir(savedCwd.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << savedCwd;
        for (const auto& [name, value] : savedEnv) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
        win::LoadDriveTable();
    }

    static void WriteHostFile(const std::string& path, const std::string& content)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }

    static std::string ReadHostFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static std::set<std::string> NamesIn(const std::string& folder)
    {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.insert(entry.path().filename().string());
        return names;
    }

    // A drive table entry: Letter: over the host folder Root.
    static win::DriveEntry Drive(char Letter, UINT Type, const std::string& Root, std::uint64_t Capacity = 0,
                                 const std::string& Label = "")
    {
        win::DriveEntry e;
        e.letter = Letter;
        e.type = Type;
        e.root = Root;
        e.capacity = Capacity;
        e.label = Label;
        return e;
    }

    // Adds a removable drive Letter: over root/Folder that holds Capacity bytes; answers the folder.
    std::string AddRemovableDrive(char Letter, const std::string& Folder, std::uint64_t Capacity,
                                  const std::string& Label = "")
    {
        const win::DriveEntry e = Drive(Letter, DRIVE_REMOVABLE, root + "/" + Folder, Capacity, Label);
        std::filesystem::create_directories(e.root);
        auto table = win::DriveTable();
        table.push_back(e);
        win::SetDriveTable(table);
        return e.root;
    }

    std::string root;
    std::string home;

private:
    std::string savedCwd;
    std::map<std::string, std::optional<std::string>> savedEnv;
};
