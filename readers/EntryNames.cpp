#include "readers/EntryNames.h"

namespace {

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

}  // namespace

std::string FileNamePart(std::string_view Name)
{
    std::size_t cut = 0;
    for (std::size_t i = 0; i < Name.size(); ++i)
        if (IsSeparator(Name[i]) || Name[i] == ':')
            cut = i + 1;
    std::string_view part = Name.substr(cut);
    if (part.find_first_not_of(". ") == std::string_view::npos)
        return {};  // empty, ".", "..", ". ."
    return std::string(part);
}

std::string DropCurrentDirParts(std::string_view Name)
{
    std::string out;
    std::size_t i = 0;
    for (; i < Name.size() && Name[i] == '/'; ++i)
        out += '/';
    const bool folder = i < Name.size() && Name.back() == '/';
    while (i < Name.size()) {
        std::size_t end = Name.find('/', i);
        if (end == std::string_view::npos)
            end = Name.size();
        const std::string_view part = Name.substr(i, end - i);
        if (!part.empty() && part != ".") {
            if (!out.empty() && out.back() != '/')
                out += '/';
            out += part;
        }
        i = end + 1;
    }
    if (folder && !out.empty() && out.back() != '/')
        out += '/';
    return out;
}
