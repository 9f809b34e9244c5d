#include "tests/support/HostTree.h"

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
