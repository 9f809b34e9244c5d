#include "readers/EntryNames.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Windows drops trailing dots and blanks from a component, so ". ." and "..." resolve like "..".
bool IsParentLike(std::string_view part) {
    int dots = 0;
    for (char c : part) {
        if (c == '.') ++dots;
        else if (c != ' ') return false;
    }
    return dots >= 2;
}

}  // namespace

bool NameLeavesTarget(std::string_view Name) {
    if (Name.empty()) return false;
    if (IsSeparator(Name[0])) return true;  // absolute, UNC, device
    std::size_t start = 0;
    bool first = true;
    while (start <= Name.size()) {
        std::size_t end = start;
        while (end < Name.size() && !IsSeparator(Name[end])) ++end;
        const std::string_view part = Name.substr(start, end - start);
        if (first && part.find(':') != std::string_view::npos) return true;  // drive or device
        if (IsParentLike(part)) return true;
        first = false;
        start = end + 1;
    }
    return false;
}

std::string FileNamePart(std::string_view Name) {
    std::size_t cut = 0;
    for (std::size_t i = 0; i < Name.size(); ++i)
        if (IsSeparator(Name[i]) || Name[i] == ':') cut = i + 1;
    std::string_view part = Name.substr(cut);
    if (part.find_first_not_of(". ") == std::string_view::npos) return {};  // empty, ".", "..", ". ."
    return std::string(part);
}

std::string DropCurrentDirParts(std::string_view Name) {
    std::string out;
    std::size_t i = 0;
    for (; i < Name.size() && Name[i] == '/'; ++i) out += '/';
    const bool folder = i < Name.size() && Name.back() == '/';
    while (i < Name.size()) {
        std::size_t end = Name.find('/', i);
        if (end == std::string_view::npos) end = Name.size();
        const std::string_view part = Name.substr(i, end - i);
        if (!part.empty() && part != ".") {
            if (!out.empty() && out.back() != '/') out += '/';
            out += part;
        }
        i = end + 1;
    }
    if (folder && !out.empty() && out.back() != '/') out += '/';
    return out;
}
