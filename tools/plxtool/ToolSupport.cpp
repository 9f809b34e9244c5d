#include "tools/plxtool/ToolSupport.h"

#include "core/plxConsts.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>

namespace plxtool {

void PrintError(int Code, const std::string& File, const std::string& Extended)
{
    std::fprintf(stderr, "plxtool: %d %s: %s%s%s\n", Code, std::string(LoadMessage(Code)).c_str(), File.c_str(),
                 Extended.empty() ? "" : " ", Extended.c_str());
}

bool Confirm(const std::string& Question)
{
    std::cerr << Question << " [Enter: go on, q: cancel] " << std::endl;
    std::string line;
    return std::getline(std::cin, line) && line != "q";
}

std::string EnginePath(const std::string& HostPath)
{
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(HostPath, ec).lexically_normal();
    std::string s = ec ? HostPath : p.string();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    // The engine keeps paths in Windows form; "/" is drive Z:.
    std::replace(s.begin(), s.end(), '/', '\\');
    return s.starts_with('\\') ? "Z:" + s : s;
}

}  // namespace plxtool
