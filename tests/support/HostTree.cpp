#include "tests/support/HostTree.h"

#include <chrono>
#include <fstream>
#include <sstream>

std::map<std::string, std::string> HostTree(const std::filesystem::path& Folder)
{
    std::map<std::string, std::string> tree;
    if (!std::filesystem::exists(Folder))
        return tree;
    for (const auto& e : std::filesystem::recursive_directory_iterator(Folder)) {
        const std::string name = std::filesystem::relative(e.path(), Folder).string();
        if (e.is_directory()) {
            tree[name + "/"] = "";
        } else {
            std::ifstream in(e.path(), std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            tree[name] = bytes.str();
        }
    }
    return tree;
}

std::map<std::string, std::string> FilesOnly(std::map<std::string, std::string> Tree)
{
    std::erase_if(Tree, [](const auto& e) { return !e.first.empty() && e.first.back() == '/'; });
    return Tree;
}

std::map<std::string, std::int64_t> FolderTimes(const std::filesystem::path& Folder)
{
    std::map<std::string, std::int64_t> times;
    if (!std::filesystem::exists(Folder))
        return times;
    for (const auto& e : std::filesystem::recursive_directory_iterator(Folder)) {
        if (!e.is_directory() || e.is_symlink())
            continue;
        const auto since = e.last_write_time().time_since_epoch();
        times[std::filesystem::relative(e.path(), Folder).string()] =
            std::chrono::duration_cast<std::chrono::seconds>(since).count();
    }
    return times;
}
