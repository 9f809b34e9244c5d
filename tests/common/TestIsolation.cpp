// Linked into every test program: each test process gets private runtime and configuration
// folders before any test runs, so tests running side by side never find each other's windows,
// drive tables or registry, and nothing touches the user's own configuration.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

class TTestIsolation {
public:
    TTestIsolation()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "torvo-test-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            return;
        root_ = pattern;
        for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
            const std::filesystem::path dir = root_ / name;
            std::filesystem::create_directories(dir);
            std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
            setenv(name, dir.c_str(), 1);
        }
    }
    ~TTestIsolation()
    {
        if (!root_.empty() && getpid() == owner_) {
            std::error_code ignored;
            std::filesystem::remove_all(root_, ignored);
        }
    }

private:
    std::filesystem::path root_;
    pid_t owner_ = getpid();
};

const TTestIsolation isolation;

}  // namespace
