#include "platform/win/ShownPath.h"

#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Utf8.h"

std::string ShownPath(const std::string& path)
{
    // Only the drive that spells the host's root is a mere spelling of a host path; the other
    // drives are the person's own settings (definition files name them) and stay as they are.
    const std::string hostRoot = win::ToWindowsPath("/");
    if (hostRoot.empty() || path.size() < hostRoot.size() || !win::SameText(path.substr(0, hostRoot.size()), hostRoot))
        return path;
    std::string host;
    if (win::ToHostPath(path, host) && !host.empty())
        return host;
    // A name the host cannot be given (a "?" in a member's name) is still shown in its folder.
    const std::size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos || cut < hostRoot.size() || !win::ToHostPath(path.substr(0, cut), host))
        return path;
    return (host == "/" ? host : host + "/") + path.substr(cut + 1);
}

std::string TypedPath(const std::string& text)
{
    if (text.empty() || text[0] != '/')
        return text;
    // A "*" or "?" typed in the last name is a mask, not a character of a file's name.
    const std::size_t slash = text.find_last_of('/');
    if (slash > 0 && text.find_first_of("*?", slash) != std::string::npos) {
        const std::string folder = win::ToWindowsPath(text.substr(0, slash));
        return folder.empty() ? text : win::IncludeTrailingBackslash(folder) + text.substr(slash + 1);
    }
    const std::string program = win::ToWindowsPath(text);
    return program.empty() ? text : program;
}
