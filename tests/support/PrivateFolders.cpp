// Every test program gets its own home, configuration, runtime and temporary folders, so tests that
// run at the same time (in this run or another, or after one that failed and left its files) never
// find each other's windows, settings or temporary files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

class PrivateFolders : public ::testing::Environment {
public:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "torvo-testenv-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        base_ = pattern;
        for (const char* name : {"home", "config", "run", "state", "tmp"})
            std::filesystem::create_directory(base_ / name);
        std::filesystem::permissions(base_ / "run", std::filesystem::perms::owner_all);
        setenv("HOME", (base_ / "home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (base_ / "config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (base_ / "run").c_str(), 1);
        setenv("XDG_STATE_HOME", (base_ / "state").c_str(), 1);
        setenv("TMPDIR", (base_ / "tmp").c_str(), 1);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(base_, ignored);
    }

private:
    std::filesystem::path base_;
};

[[maybe_unused]] const auto* const registered = ::testing::AddGlobalTestEnvironment(new PrivateFolders);

}  // namespace
